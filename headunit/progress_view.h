// What a long head-unit operation shows while it runs: the window's progress bar and
// its pending events. The main window implements it; tests record it.
#pragma once

namespace headunit {

class TProgressView {
 public:
  virtual ~TProgressView() = default;
  virtual void SetProgressMaximum(int maximum) = 0;
  virtual void SetProgressPosition(int position) = 0;
  virtual int ProgressPosition() = 0;
  // Lets the window process its pending events.
  virtual void ProcessEvents() = 0;
};

}  // namespace headunit
