// Every message box, confirmation and wait window the program shows goes through this
// interface: the program answers it with modal Qt message boxes, tests with scripted
// answers. Texts and captions are Windows-1252; a line break is written "\n\r".
#pragma once

#include <string>

namespace headunit {

inline constexpr char AppCaption[] = "Halvarin";

enum class TMessageIcon { None, Information, Question, Warning, Error };
enum class TDialogButtons { OkCancel, AbortIgnore, YesNo };
enum class TDialogAnswer { Ok, Cancel, Abort, Ignore, Yes, No };

class TDialogs {
 public:
  virtual ~TDialogs() = default;
  // A modal message box with one OK button.
  virtual void ShowMessage(const std::string& text, const std::string& caption, TMessageIcon icon) = 0;
  // A modal question; the answer is one of the two buttons offered.
  virtual TDialogAnswer Ask(const std::string& text, const std::string& caption, TMessageIcon icon,
                            TDialogButtons buttons) = 0;
  // A wait window over a long operation the user cannot interrupt (the repair of the
  // database file): opened with its caption, told the progress in percent, closed.
  // An interface without one shows nothing.
  virtual void BeginWait(const std::string& caption) {}
  virtual void WaitProgress(int percentDone) {}
  virtual void EndWait() {}
};

}  // namespace headunit
