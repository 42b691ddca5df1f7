// Windows-1252, one byte at a time: the UTF-16 unit each byte stands for and the
// locale's simple upper and lower case of each byte (ICU simple case mapping applied
// through Windows-1252). Names of tables, fields and indexes are matched through these
// tables, and the collator reads single-byte strings through them.
//
// The tables are built once from ICU on first use and are read-only afterwards, so
// every function here is thread-safe and allocation-free except the two that return
// a new string.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace hdb::platform {

struct AnsiTables {
  char16_t toUnicode[256];
  unsigned char upper[256];
  unsigned char lower[256];
};

// The process-wide tables (built on first call).
const AnsiTables& Ansi();

inline char16_t AnsiToUnicode(unsigned char c) { return Ansi().toUnicode[c]; }
// The Windows-1252 byte of a UTF-16 unit; '?' when the code page has none.
unsigned char UnicodeToAnsi(char16_t c);
inline unsigned char AnsiUpperChar(unsigned char c) { return Ansi().upper[c]; }
inline unsigned char AnsiLowerChar(unsigned char c) { return Ansi().lower[c]; }

std::string AnsiUpperCase(std::string_view text);
std::string AnsiLowerCase(std::string_view text);
// True when both texts are equal after upper-casing (the engine's name match).
bool AnsiSameText(std::string_view a, std::string_view b);

}  // namespace hdb::platform
