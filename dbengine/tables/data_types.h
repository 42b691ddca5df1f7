// The engine's type codes. A field carries a declared type (1..36, what it was declared
// as) and a base type (1..24, how its value is stored and compared). One fixed table of
// 62 rows maps SQL type words to both codes and to the field type of the dataset
// component layer; every mapping below is derived from it by scanning the rows in order
// and taking the first match. Also here: the type classes used throughout the tables
// layer and the stored size of a value of each base type.
//
// Everything here is constant data; all functions are thread-safe.
#pragma once

#include <cstdint>
#include <string_view>

namespace hdb {

enum THDBBaseType : std::uint8_t {
  btFixedChar = 1,
  btFixedWideChar = 2,
  btString = 3,
  btWideString = 4,
  btShortInt = 5,
  btSmallInt = 6,
  btInteger = 7,
  btLargeInt = 8,
  btByte = 9,
  btWord = 10,
  btCardinal = 11,
  btSingle = 12,
  btDouble = 13,
  btExtended = 14,
  btDate = 15,
  btTime = 16,
  btDateTime = 17,
  btBlob = 18,
  btMemo = 19,
  btWideMemo = 20,
  btLogical = 21,
  btCurrency = 22,
  btBytes = 23,
  btVarBytes = 24,
};
inline constexpr int BaseTypeCount = 24;

enum THDBDeclaredType : std::uint8_t {
  dtChar = 1,
  dtString = 2,
  dtWideChar = 3,
  dtWideString = 4,
  dtShortInt = 5,
  dtSmallInt = 6,
  dtInteger = 7,
  dtLargeInt = 8,
  dtByte = 9,
  dtWord = 10,
  dtCardinal = 11,
  dtAutoinc = 12,
  dtAutoincShortInt = 13,
  dtAutoincSmallInt = 14,
  dtAutoincInteger = 15,
  dtAutoincLargeInt = 16,
  dtAutoincByte = 17,
  dtAutoincWord = 18,
  dtAutoincCardinal = 19,
  dtSingle = 20,
  dtDouble = 21,
  dtExtended = 22,
  dtLogical = 23,
  dtCurrency = 24,
  dtDate = 25,
  dtTime = 26,
  dtDateTime = 27,
  dtTimeStamp = 28,
  dtBytes = 29,
  dtVarBytes = 30,
  dtBlob = 31,
  dtGraphic = 32,
  dtMemo = 33,
  dtFormattedMemo = 34,
  dtWideMemo = 35,
  dtGuid = 36,
};
inline constexpr int DeclaredTypeCount = 36;

// Field types of the dataset component layer that the type table names.
enum THDBDatasetFieldType : std::uint8_t {
  ftString = 1,
  ftSmallint = 2,
  ftInteger = 3,
  ftWord = 4,
  ftBoolean = 5,
  ftFloat = 6,
  ftCurrency = 7,
  ftBCD = 8,
  ftDate = 9,
  ftTime = 10,
  ftDateTime = 11,
  ftBytes = 12,
  ftVarBytes = 13,
  ftAutoInc = 14,
  ftBlob = 15,
  ftMemo = 16,
  ftGraphic = 17,
  ftFmtMemo = 18,
  ftFixedChar = 23,
  ftWideString = 24,
  ftLargeint = 25,
  ftGuid = 35,
  ftTimeStamp = 36,
};

struct THDBTypeRow {
  const char* Word;
  std::uint8_t Declared;
  std::uint8_t Base;
  std::uint8_t Dataset;
};
inline constexpr int TypeRowCount = 62;
// Row i (0-based) of the type table.
const THDBTypeRow& TypeRow(int i);

// Declared type -> base type; 0 when the declared type is not supported.
std::uint8_t DeclaredToBaseType(std::uint8_t declaredType);
// Whether a field may carry the pair: the declared type is supported and baseType is
// the one the table maps it to (every row of a declared type names the same base type).
inline bool IsTypeTablePair(std::uint8_t declaredType, std::uint8_t baseType) {
  return baseType != 0 && DeclaredToBaseType(declaredType) == baseType;
}
// Base type -> the declared type of the first row with that base type; 0 when none.
std::uint8_t BaseToDeclaredType(std::uint8_t baseType);
// Dataset field type -> declared type; raises "Unknown DataType" (30289) when no row has it.
std::uint8_t DatasetToDeclaredType(int datasetType);
// Declared type -> dataset field type of its first row; 0 when none.
std::uint8_t DeclaredToDatasetType(std::uint8_t declaredType);
// Type words for messages: the word of the first row with the code, "Unknown" when none.
const char* BaseTypeWord(std::uint8_t baseType);
const char* DeclaredTypeWord(std::uint8_t declaredType);
// Type word -> declared type (case-insensitive); 0 when no row has the word.
std::uint8_t TypeWordToDeclaredType(std::string_view word);

// Type classes.
constexpr bool IsBlobBaseType(std::uint8_t t) { return t >= btBlob && t <= btWideMemo; }
constexpr bool IsStringBaseType(std::uint8_t t) { return t >= btFixedChar && t <= btWideString; }
constexpr bool IsWideStringBaseType(std::uint8_t t) { return t == btFixedWideChar || t == btWideString; }
constexpr bool IsAutoincDeclaredType(std::uint8_t t) { return t >= dtAutoinc && t <= dtAutoincCardinal; }
// Values read through streams, never copied as field data.
constexpr bool IsBlobLikeDeclaredType(std::uint8_t t) { return t >= dtBlob && t <= dtWideMemo; }
// Integer base types, signed (5..8) and unsigned (9..11).
constexpr bool IsIntegerBaseType(std::uint8_t t) { return t >= btShortInt && t <= btCardinal; }
constexpr bool IsSignedIntegerBaseType(std::uint8_t t) { return t >= btShortInt && t <= btLargeInt; }

// Bytes of a value of the base type in a record's memory form, n being the declared
// size (characters of strings, bytes of byte arrays). Raises "Unknown DataType" (30050).
std::int32_t MemoryDataSizeOf(std::uint8_t baseType, std::int32_t declaredSize);
// The same in the disk form: a BLOB slot keeps only its 6-byte reference.
std::int32_t DiskDataSizeOf(std::uint8_t baseType, std::int32_t declaredSize);
// Size of the reference part of a BLOB slot; the memory form adds a 4-byte handle.
inline constexpr std::int32_t BlobRefSize = 6;
inline constexpr std::int32_t BlobSlotSize = 10;

}  // namespace hdb
