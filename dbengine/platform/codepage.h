// Windows-1252, the code page of every single-byte string the system stores (field
// values, names, App.cfg), converted to and from UTF-16 and UTF-8 through ICU.
// Characters that Windows-1252 cannot hold become '?'. Stateless and thread-safe.
#pragma once

#include <string>
#include <string_view>

namespace hdb::platform {

std::u16string Win1252ToUtf16(std::string_view text);
std::string Utf16ToWin1252(std::u16string_view text);
std::string Win1252ToUtf8(std::string_view text);
std::string Utf8ToWin1252(std::string_view text);
// Between UTF-16 and UTF-8; an unpaired surrogate or a malformed byte becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);
std::u16string Utf8ToUtf16(std::string_view text);

}  // namespace hdb::platform
