// The engine's string collation: one ICU collator for the process's default locale
// (the root collation when the locale is C/POSIX), alternate handling non-ignorable so
// blanks, hyphens and apostrophes sort as ordinary symbols. Case-sensitive comparisons
// use tertiary strength, case-insensitive ones secondary strength. Primary strength
// (base letters only) orders the leading characters of texts cut in index keys: an
// order of the cut texts that never contradicts the order of the whole ones.
//
// The collator is opened once per process; ICU collators are not to be shared between
// threads that compare at the same time, so each thread works on its own clone of it
// (made on the thread's first comparison). Comparisons allocate nothing for strings of
// up to 256 characters. Two single-byte texts made only of digits and capital letters
// (vehicle numbers, codes) are compared as bytes when the locale orders those characters
// as their codes, which is checked once per thread; locales whose tailorings move them
// or join them into contractions (such as cs, da, hu, lt) always go through ICU.
#pragma once

#include <cstddef>
#include <string>

namespace hdb::platform {

// Returned instead of -1/0/1 when ICU could not compare; *status then holds the ICU
// error code.
inline constexpr int CollationFailed = 2;

enum class CollationLevel { Tertiary = 0, Secondary = 1, Primary = 2 };

// Windows-1252 strings of exactly lenA and lenB bytes (zero bytes included).
int CollateAnsi(const char* a, std::size_t lenA, const char* b, std::size_t lenB, CollationLevel level,
                int* status = nullptr);
inline int CollateAnsi(const char* a, std::size_t lenA, const char* b, std::size_t lenB, bool caseInsensitive,
                       int* status = nullptr) {
  return CollateAnsi(a, lenA, b, lenB, caseInsensitive ? CollationLevel::Secondary : CollationLevel::Tertiary, status);
}
// UTF-16 strings of exactly lenA and lenB code units.
int CollateWide(const char16_t* a, std::size_t lenA, const char16_t* b, std::size_t lenB, CollationLevel level,
                int* status = nullptr);
inline int CollateWide(const char16_t* a, std::size_t lenA, const char16_t* b, std::size_t lenB,
                       bool caseInsensitive, int* status = nullptr) {
  return CollateWide(a, lenA, b, lenB, caseInsensitive ? CollationLevel::Secondary : CollationLevel::Tertiary, status);
}

// The ICU locale the collator was opened for ("root" for C/POSIX).
std::string CollationLocaleName();

// Whether the collator of a locale (named as ICU names it), with the engine's
// attributes, orders texts of digits and capital letters as their bytes at every
// strength; without an argument, the answer for the engine's own collator.
bool PlainTextsInByteOrder(const std::string& localeName);
bool PlainTextsInByteOrder();

}  // namespace hdb::platform
