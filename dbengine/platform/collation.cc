#include "dbengine/platform/collation.h"

#include <unicode/coll.h>
#include <unicode/locid.h>

#include <cassert>
#include <cstring>
#include <memory>
#include <string>

#include "dbengine/platform/ansi_charset.h"

namespace hdb::platform {

namespace {

icu::Locale EngineLocale() {
  const icu::Locale& def = icu::Locale::getDefault();
  // ICU reports the C and POSIX locales as en_US_POSIX, a tailoring in code-point
  // order; the engine sorts those with the root collation.
  if (std::strcmp(def.getVariant(), "POSIX") == 0 || def.getLanguage()[0] == '\0') return icu::Locale::getRoot();
  return def;
}

struct Masters {
  std::unique_ptr<icu::Collator> strength[3];  // by CollationLevel
  std::string localeName;
  UErrorCode status = U_ZERO_ERROR;
};

const Masters& GetMasters() {
  static const Masters masters = [] {
    Masters m;
    icu::Locale locale = EngineLocale();
    m.localeName = locale.getName()[0] ? locale.getName() : "root";
    m.strength[0].reset(icu::Collator::createInstance(locale, m.status));
    if (U_FAILURE(m.status) || !m.strength[0]) {
      m.strength[0].reset();
      if (U_SUCCESS(m.status)) m.status = U_MEMORY_ALLOCATION_ERROR;
      return m;
    }
    m.strength[0]->setAttribute(UCOL_ALTERNATE_HANDLING, UCOL_NON_IGNORABLE, m.status);
    m.strength[0]->setAttribute(UCOL_NORMALIZATION_MODE, UCOL_OFF, m.status);
    m.strength[0]->setStrength(icu::Collator::TERTIARY);
    const icu::Collator::ECollationStrength weaker[] = {icu::Collator::SECONDARY, icu::Collator::PRIMARY};
    for (int i = 1; i < 3; ++i) {
      m.strength[i].reset(m.strength[0]->clone());
      if (!m.strength[i]) {
        m.status = U_MEMORY_ALLOCATION_ERROR;
        return m;
      }
      m.strength[i]->setStrength(weaker[i - 1]);
    }
    return m;
  }();
  return masters;
}

// One clone of each master per thread, plus scratch space for long single-byte strings.
struct ThreadCollators {
  std::unique_ptr<icu::Collator> strength[3];
  std::u16string scratchA, scratchB;

  ThreadCollators() {
    const Masters& m = GetMasters();
    for (int i = 0; i < 3; ++i)
      if (m.strength[i]) strength[i].reset(m.strength[i]->clone());
  }
};

ThreadCollators& Current() {
  thread_local ThreadCollators collators;
  return collators;
}

int Compare(icu::Collator* collator, const char16_t* a, std::size_t lenA, const char16_t* b, std::size_t lenB,
            int* status) {
  UErrorCode s = U_ZERO_ERROR;
  if (!collator) {
    s = GetMasters().status;
    if (U_SUCCESS(s)) s = U_MEMORY_ALLOCATION_ERROR;
  } else {
    UCollationResult r = collator->compare(a, static_cast<int32_t>(lenA), b, static_cast<int32_t>(lenB), s);
    if (U_SUCCESS(s)) return r == UCOL_LESS ? -1 : (r == UCOL_EQUAL ? 0 : 1);
  }
  if (status) *status = static_cast<int>(s);
  return CollationFailed;
}

constexpr std::size_t StackChars = 256;

const char16_t* Widen(const char* text, std::size_t len, char16_t* stack, std::u16string& scratch) {
  const AnsiTables& t = Ansi();
  char16_t* out = stack;
  if (len > StackChars) {
    scratch.resize(len);
    out = scratch.data();
  }
  for (std::size_t i = 0; i < len; ++i) out[i] = t.toUnicode[static_cast<unsigned char>(text[i])];
  return out;
}

}  // namespace

int CollateAnsi(const char* a, std::size_t lenA, const char* b, std::size_t lenB, CollationLevel level,
                int* status) {
  // Identical code units always collate equal; this is the common case of key lookups.
  if (lenA == lenB && std::memcmp(a, b, lenA) == 0) return 0;
  ThreadCollators& tc = Current();
  char16_t stackA[StackChars], stackB[StackChars];
  const char16_t* wa = Widen(a, lenA, stackA, tc.scratchA);
  const char16_t* wb = Widen(b, lenB, stackB, tc.scratchB);
  return Compare(tc.strength[static_cast<int>(level)].get(), wa, lenA, wb, lenB, status);
}

int CollateWide(const char16_t* a, std::size_t lenA, const char16_t* b, std::size_t lenB, CollationLevel level,
                int* status) {
  if (lenA == lenB && std::memcmp(a, b, lenA * sizeof(char16_t)) == 0) return 0;
  return Compare(Current().strength[static_cast<int>(level)].get(), a, lenA, b, lenB, status);
}

std::string CollationLocaleName() { return GetMasters().localeName; }

}  // namespace hdb::platform
