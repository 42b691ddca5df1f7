#include "dbengine/platform/wide_case.h"

#include <unicode/uchar.h>

namespace hdb::platform {

namespace {

char16_t Mapped(char16_t c, UChar32 m) {
  // A unit whose mapping leaves the basic plane keeps its own value.
  return m >= 0 && m <= 0xFFFF ? static_cast<char16_t>(m) : c;
}

bool IsSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDFFF; }

}  // namespace

char16_t WideUpperChar(char16_t c) { return IsSurrogate(c) ? c : Mapped(c, u_toupper(c)); }
char16_t WideLowerChar(char16_t c) { return IsSurrogate(c) ? c : Mapped(c, u_tolower(c)); }

}  // namespace hdb::platform
