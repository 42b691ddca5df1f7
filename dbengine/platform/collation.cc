#include "dbengine/platform/collation.h"

#include <unicode/coll.h>
#include <unicode/locid.h>

#include <atomic>
#include <bit>
#include <cassert>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

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

// Digits and capital letters: the characters of vehicle numbers and most codes.
constexpr char PlainChars[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
constexpr std::size_t PlainCount = sizeof PlainChars - 1;

// One bit per byte value: whether it is a plain character.
struct PlainTable {
  bool plain[256] = {};
  constexpr PlainTable() {
    for (std::size_t i = 0; i < PlainCount; ++i) plain[static_cast<unsigned char>(PlainChars[i])] = true;
  }
};
constexpr PlainTable Plain{};

// Whether all eight bytes of a word are plain: none has its top bit, and each lies
// strictly between '0' - 1 and '9' + 1 or between 'A' - 1 and 'Z' + 1. Between marks
// with 0x80 the bytes (each below 0x80) strictly between m and n, lane by lane: no
// lane's sums carry into the next.
constexpr std::uint64_t Lanes = 0x0101010101010101ULL;
constexpr std::uint64_t TopBits = 0x8080808080808080ULL;
constexpr std::uint64_t Between(std::uint64_t x, std::uint64_t m, std::uint64_t n) {
  return (Lanes * (127 + n) - (x & Lanes * 127)) & ~x & ((x & Lanes * 127) + Lanes * (127 - m)) & TopBits;
}
constexpr bool PlainWord(std::uint64_t x) {
  return (x & TopBits) == 0 && (Between(x, '0' - 1, '9' + 1) | Between(x, 'A' - 1, 'Z' + 1)) == TopBits;
}
static_assert(PlainWord(0x3041395A30313233ULL) && !PlainWord(0x3041395A30313240ULL) && !PlainWord(0x304139DA30313233ULL));

bool IsPlain(const char* text, std::size_t len) {
  std::size_t i = 0;
  for (; i + 8 <= len; i += 8) {
    std::uint64_t word;
    std::memcpy(&word, text + i, 8);
    if (!PlainWord(word)) return false;
  }
  for (; i < len; ++i)
    if (!Plain.plain[static_cast<unsigned char>(text[i])]) return false;
  return true;
}

// The length of the common prefix of a and b (at most n), eight bytes at a step.
std::size_t CommonPrefix(const char* a, const char* b, std::size_t n) {
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    std::uint64_t x, y;
    std::memcpy(&x, a + i, 8);
    std::memcpy(&y, b + i, 8);
    if (x != y) {
      // The lowest differing byte in memory order; the words were loaded as they lie.
      std::uint64_t diff = x ^ y;
      if constexpr (std::endian::native == std::endian::big) diff = __builtin_bswap64(diff);
      return i + static_cast<std::size_t>(__builtin_ctzll(diff)) / 8;
    }
  }
  while (i < n && a[i] == b[i]) ++i;
  return i;
}

// Whether the collators order every text of plain characters as their bytes do: each
// character alone strictly after the one before it (no two equal at any strength, none
// moved), and all texts of two and three of them in byte order (no contraction such as
// "CH", "AA" or "DZS" among them). Then a comparison of two plain texts at any strength
// is decided by their first differing character, or by their lengths. The strings are
// put in byte order, and each must collate after the one before it.
bool CheckPlainOrder(icu::Collator* const (&collators)[3]) {
  std::vector<std::u16string> texts;
  texts.reserve(PlainCount * PlainCount * PlainCount + PlainCount * PlainCount + PlainCount);
  for (std::size_t i = 0; i < PlainCount; ++i) {
    texts.push_back(std::u16string(1, PlainChars[i]));
    for (std::size_t j = 0; j < PlainCount; ++j) {
      texts.push_back({char16_t(PlainChars[i]), char16_t(PlainChars[j])});
      for (std::size_t k = 0; k < PlainCount; ++k)
        texts.push_back({char16_t(PlainChars[i]), char16_t(PlainChars[j]), char16_t(PlainChars[k])});
    }
  }
  for (int level = 0; level < 3; ++level) {
    icu::Collator* c = collators[level];
    if (!c) return false;
    // Texts of one and two characters at every strength; of three at the strongest
    // (contractions do not depend on the strength).
    for (std::size_t n = 1; n < texts.size(); ++n) {
      if (level > 0 && texts[n].size() == 3 && texts[n - 1].size() == 3) continue;
      UErrorCode s = U_ZERO_ERROR;
      const std::u16string& a = texts[n - 1];
      const std::u16string& b = texts[n];
      const UCollationResult r = c->compare(a.data(), static_cast<int32_t>(a.size()), b.data(),
                                            static_cast<int32_t>(b.size()), s);
      if (U_FAILURE(s) || r != UCOL_LESS) return false;
    }
  }
  return true;
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

  // Checked once per thread, on the first comparison of two plain texts.
  bool PlainInByteOrder() {
    if (plainChecked_ == 0) {
      icu::Collator* const collators[3] = {strength[0].get(), strength[1].get(), strength[2].get()};
      plainChecked_ = CheckPlainOrder(collators) ? 1 : -1;
    }
    return plainChecked_ > 0;
  }

 private:
  int plainChecked_ = 0;  // 0: not yet checked, 1: byte order holds, -1: it does not
};

ThreadCollators& Current() {
  thread_local ThreadCollators collators;
  return collators;
}

// The check's answer depends on the locale only, which every thread's collators share:
// once one thread has it, the others take it without reaching their own collators.
bool PlainInByteOrderCached() {
  static std::atomic<int> known{0};  // 0: not yet, 1: byte order holds, -1: it does not
  int answer = known.load(std::memory_order_relaxed);
  if (answer == 0) {
    answer = Current().PlainInByteOrder() ? 1 : -1;
    known.store(answer, std::memory_order_relaxed);
  }
  return answer > 0;
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
  const std::size_t common = CommonPrefix(a, b, lenA < lenB ? lenA : lenB);
  if (common == lenA && common == lenB) return 0;
  // Texts of digits and capital letters compare as bytes where the locale agrees: by
  // their first differing byte, or else by their lengths. Their common prefix is
  // looked at once.
  if (IsPlain(a, lenA) && IsPlain(b + common, lenB - common) && PlainInByteOrderCached()) {
    if (common < lenA && common < lenB)
      return static_cast<unsigned char>(a[common]) < static_cast<unsigned char>(b[common]) ? -1 : 1;
    return lenA < lenB ? -1 : 1;
  }
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

bool PlainTextsInByteOrder(const std::string& localeName) {
  UErrorCode s = U_ZERO_ERROR;
  std::unique_ptr<icu::Collator> c[3];
  c[0].reset(icu::Collator::createInstance(icu::Locale(localeName.c_str()), s));
  if (U_FAILURE(s) || !c[0]) return false;
  c[0]->setAttribute(UCOL_ALTERNATE_HANDLING, UCOL_NON_IGNORABLE, s);
  c[0]->setAttribute(UCOL_NORMALIZATION_MODE, UCOL_OFF, s);
  c[0]->setStrength(icu::Collator::TERTIARY);
  c[1].reset(c[0]->clone());
  c[2].reset(c[0]->clone());
  if (U_FAILURE(s) || !c[1] || !c[2]) return false;
  c[1]->setStrength(icu::Collator::SECONDARY);
  c[2]->setStrength(icu::Collator::PRIMARY);
  icu::Collator* const collators[3] = {c[0].get(), c[1].get(), c[2].get()};
  return CheckPlainOrder(collators);
}

bool PlainTextsInByteOrder() { return Current().PlainInByteOrder(); }

}  // namespace hdb::platform
