#include "dbengine/platform/codepage.h"

#include <unicode/ucnv.h>
#include <unicode/unistr.h>

#include <cassert>
#include <memory>

namespace hdb::platform {

namespace {

struct ConverterCloser {
  void operator()(UConverter* c) const { ucnv_close(c); }
};
using ConverterPtr = std::unique_ptr<UConverter, ConverterCloser>;

// One converter per thread: ICU converters keep state and are not shared.
UConverter* Converter() {
  thread_local ConverterPtr converter = [] {
    UErrorCode status = U_ZERO_ERROR;
    ConverterPtr c(ucnv_open("windows-1252", &status));
    assert(U_SUCCESS(status) && c);
    UErrorCode subStatus = U_ZERO_ERROR;
    ucnv_setSubstChars(c.get(), "?", 1, &subStatus);
    return c;
  }();
  return converter.get();
}

}  // namespace

std::u16string Win1252ToUtf16(std::string_view text) {
  if (text.empty()) return {};
  std::u16string out(text.size() * 2 + 1, u'\0');
  UErrorCode status = U_ZERO_ERROR;
  UConverter* c = Converter();
  ucnv_resetToUnicode(c);
  int32_t n = ucnv_toUChars(c, reinterpret_cast<UChar*>(out.data()), static_cast<int32_t>(out.size()), text.data(),
                            static_cast<int32_t>(text.size()), &status);
  if (U_FAILURE(status)) return {};
  out.resize(static_cast<std::size_t>(n));
  return out;
}

std::string Utf16ToWin1252(std::u16string_view text) {
  if (text.empty()) return {};
  std::string out(text.size() * 2 + 1, '\0');
  UErrorCode status = U_ZERO_ERROR;
  UConverter* c = Converter();
  ucnv_resetFromUnicode(c);
  int32_t n = ucnv_fromUChars(c, out.data(), static_cast<int32_t>(out.size()),
                              reinterpret_cast<const UChar*>(text.data()), static_cast<int32_t>(text.size()), &status);
  if (U_FAILURE(status)) return {};
  out.resize(static_cast<std::size_t>(n));
  return out;
}

std::string Win1252ToUtf8(std::string_view text) {
  std::u16string wide = Win1252ToUtf16(text);
  std::string out;
  icu::UnicodeString(false, reinterpret_cast<const UChar*>(wide.data()), static_cast<int32_t>(wide.size()))
      .toUTF8String(out);
  return out;
}

std::string Utf8ToWin1252(std::string_view text) {
  icu::UnicodeString u = icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
  return Utf16ToWin1252(std::u16string_view(reinterpret_cast<const char16_t*>(u.getBuffer()),
                                            static_cast<std::size_t>(u.length())));
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  icu::UnicodeString(false, reinterpret_cast<const UChar*>(text.data()), static_cast<int32_t>(text.size()))
      .toUTF8String(out);
  return out;
}

std::u16string Utf8ToUtf16(std::string_view text) {
  icu::UnicodeString u = icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
  return std::u16string(reinterpret_cast<const char16_t*>(u.getBuffer()), static_cast<std::size_t>(u.length()));
}

}  // namespace hdb::platform
