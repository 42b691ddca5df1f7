// Every message box and confirmation the program shows goes through this interface:
// the program answers it with modal Qt message boxes, tests with scripted answers.
// Texts and captions are Windows-1252; a line break is written "\n\r".
#pragma once

#include <string>

namespace headunit {

inline constexpr char AppCaption[] = "Halvarin";

enum class TMessageIcon { None, Information, Question, Warning, Error };
enum class TDialogButtons { OkCancel, AbortIgnore };
enum class TDialogAnswer { Ok, Cancel, Abort, Ignore };

class TDialogs {
 public:
  virtual ~TDialogs() = default;
  // A modal message box with one OK button.
  virtual void ShowMessage(const std::string& text, const std::string& caption, TMessageIcon icon) = 0;
  // A modal question; the answer is one of the two buttons offered.
  virtual TDialogAnswer Ask(const std::string& text, const std::string& caption, TMessageIcon icon,
                            TDialogButtons buttons) = 0;
};

}  // namespace headunit
