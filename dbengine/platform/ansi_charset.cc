#include "dbengine/platform/ansi_charset.h"

#include <unicode/uchar.h>
#include <unicode/ucnv.h>

#include <memory>

namespace hdb::platform {

namespace {

AnsiTables BuildTables() {
  AnsiTables t{};
  UErrorCode status = U_ZERO_ERROR;
  UConverter* conv = ucnv_open("windows-1252", &status);
  for (int b = 0; b < 256; ++b) {
    // Bytes the code page leaves undefined (0x81, 0x8D, ...) keep their value as a C1
    // control, as the system's own conversion does, so distinct bytes stay distinct.
    char16_t unit = static_cast<char16_t>(b);
    if (conv && b >= 0x80) {
      char in = static_cast<char>(b);
      UChar out[4];
      UErrorCode s = U_ZERO_ERROR;
      ucnv_resetToUnicode(conv);
      int32_t n = ucnv_toUChars(conv, out, 4, &in, 1, &s);
      if (U_SUCCESS(s) && n == 1 && out[0] != 0xFFFD && out[0] != 0x1A) unit = out[0];
    }
    t.toUnicode[b] = unit;
  }
  if (conv) ucnv_close(conv);
  return t;
}

unsigned char ReverseLookup(const AnsiTables& t, char16_t c) {
  if (c < 0x80) return static_cast<unsigned char>(c);
  for (int b = 0x80; b < 256; ++b)
    if (t.toUnicode[b] == c) return static_cast<unsigned char>(b);
  return '?';
}

AnsiTables BuildAll() {
  AnsiTables t = BuildTables();
  for (int b = 0; b < 256; ++b) {
    UChar32 cp = t.toUnicode[b];
    auto mapped = [&](UChar32 m) -> unsigned char {
      if (m == cp || m > 0xFFFF) return static_cast<unsigned char>(b);
      unsigned char r = ReverseLookup(t, static_cast<char16_t>(m));
      // A case partner outside the code page (micro sign -> Greek capital mu) keeps the byte.
      return (r == '?' && m != u'?') ? static_cast<unsigned char>(b) : r;
    };
    t.upper[b] = mapped(u_toupper(cp));
    t.lower[b] = mapped(u_tolower(cp));
  }
  return t;
}

}  // namespace

const AnsiTables& Ansi() {
  static const AnsiTables tables = BuildAll();
  return tables;
}

unsigned char UnicodeToAnsi(char16_t c) {
  if (c < 0x80) return static_cast<unsigned char>(c);
  const AnsiTables& t = Ansi();
  // 0xA0..0xFF are the same code points in Windows-1252 and Unicode.
  if (c >= 0xA0 && c <= 0xFF && t.toUnicode[c] == c) return static_cast<unsigned char>(c);
  return ReverseLookup(t, c);
}

std::string AnsiUpperCase(std::string_view text) {
  const AnsiTables& t = Ansi();
  std::string out(text);
  for (char& c : out) c = static_cast<char>(t.upper[static_cast<unsigned char>(c)]);
  return out;
}

std::string AnsiLowerCase(std::string_view text) {
  const AnsiTables& t = Ansi();
  std::string out(text);
  for (char& c : out) c = static_cast<char>(t.lower[static_cast<unsigned char>(c)]);
  return out;
}

bool AnsiSameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  const AnsiTables& t = Ansi();
  for (std::size_t i = 0; i < a.size(); ++i)
    if (t.upper[static_cast<unsigned char>(a[i])] != t.upper[static_cast<unsigned char>(b[i])]) return false;
  return true;
}

}  // namespace hdb::platform
