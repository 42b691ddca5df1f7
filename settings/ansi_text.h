// The Qt boundary for the program's 8-bit texts: settings, runtime results and log
// messages are Windows-1252; Qt works in UTF-16.
#pragma once

#include <QString>
#include <string>
#include <string_view>

#include "dbengine/platform/codepage.h"

namespace settings {

inline QString AnsiToQString(std::string_view text) {
  return QString::fromStdU16String(hdb::platform::Win1252ToUtf16(text));
}

inline std::string QStringToAnsi(const QString& text) {
  return hdb::platform::Utf16ToWin1252(text.toStdU16String());
}

}  // namespace settings
