#include "dbengine/tables/data_types.h"

#include <array>
#include <cassert>
#include <string>

#include "dbengine/platform/ansi_charset.h"
#include "dbengine/storage/hdb_exception.h"

namespace hdb {

namespace {

constexpr THDBTypeRow Rows[TypeRowCount] = {
    {"CHAR", 1, 1, 23},           {"FIXEDCHAR", 1, 1, 23},        {"STRING", 2, 3, 1},
    {"VARCHAR", 2, 3, 1},         {"VARCHAR2", 2, 3, 1},          {"WIDECHAR", 3, 2, 24},
    {"FIXEDWIDECHAR", 3, 2, 24},  {"WIDESTRING", 4, 4, 24},       {"WIDEVARCHAR", 4, 4, 24},
    {"SMALLINT", 6, 6, 2},        {"SIGNEDINT16", 6, 6, 2},       {"SHORTINT", 5, 5, 2},
    {"SIGNEDINT8", 5, 5, 2},      {"INTEGER", 7, 7, 3},           {"SIGNEDINT32", 7, 7, 3},
    {"LARGEINT", 8, 8, 25},       {"INT64", 8, 8, 25},            {"SIGNEDINT64", 8, 8, 25},
    {"WORD", 10, 10, 4},          {"UNSIGNEDINT16", 10, 10, 4},   {"BYTE", 9, 9, 4},
    {"UNSIGNEDINT8", 9, 9, 4},    {"CARDINAL", 11, 11, 25},       {"UNSIGNEDINT32", 11, 11, 25},
    {"AUTOINC", 12, 7, 14},       {"AUTOINCSHORTINT", 13, 5, 14}, {"AUTOINCSMALLINT", 14, 6, 14},
    {"AUTOINCINTEGER", 15, 7, 14}, {"AUTOINCLARGEINT", 16, 8, 25}, {"AUTOINCBYTE", 17, 9, 14},
    {"AUTOINCWORD", 18, 10, 14},  {"AUTOINCCARDINAL", 19, 11, 14}, {"FLOAT", 21, 13, 6},
    {"FLOAT", 21, 13, 8},         {"SINGLE", 20, 12, 6},          {"DOUBLE", 21, 13, 6},
    {"EXTENDED", 22, 14, 6},      {"LOGICAL", 23, 21, 5},         {"BOOLEAN", 23, 21, 5},
    {"BOOL", 23, 21, 5},          {"BIT", 23, 21, 5},             {"CURRENCY", 24, 22, 7},
    {"MONEY", 24, 22, 7},         {"DATE", 25, 15, 9},            {"TIME", 26, 16, 10},
    {"DATETIME", 27, 17, 11},     {"TIMESTAMP", 28, 17, 36},      {"BYTES", 29, 23, 12},
    {"VARBYTES", 30, 24, 13},     {"BLOB", 31, 18, 15},           {"BLOB", 31, 18, 19},
    {"BLOB", 31, 18, 21},         {"BLOB", 31, 18, 20},           {"BLOB", 31, 18, 30},
    {"BLOB", 31, 18, 31},         {"GRAPHIC", 32, 18, 17},        {"MEMO", 33, 19, 16},
    {"CLOB", 33, 19, 16},         {"FORMATTEDMEMO", 34, 19, 18},  {"WIDEMEMO", 35, 20, 15},
    {"WIDECLOB", 35, 20, 15},     {"GUID", 36, 1, 35},
};

// First-match maps, indexed by code; -1 = no row.
struct Maps {
  std::array<int, 256> firstByDeclared;
  std::array<int, 256> firstByBase;
  std::array<int, 256> firstByDataset;
};

constexpr Maps BuildMaps() {
  Maps m{};
  for (auto& v : m.firstByDeclared) v = -1;
  for (auto& v : m.firstByBase) v = -1;
  for (auto& v : m.firstByDataset) v = -1;
  for (int i = TypeRowCount - 1; i >= 0; --i) {
    m.firstByDeclared[Rows[i].Declared] = i;
    m.firstByBase[Rows[i].Base] = i;
    m.firstByDataset[Rows[i].Dataset] = i;
  }
  return m;
}

constexpr Maps TypeMaps = BuildMaps();

}  // namespace

const THDBTypeRow& TypeRow(int i) {
  assert(i >= 0 && i < TypeRowCount);
  return Rows[i];
}

std::uint8_t DeclaredToBaseType(std::uint8_t declaredType) {
  int row = TypeMaps.firstByDeclared[declaredType];
  return row < 0 ? 0 : Rows[row].Base;
}

std::uint8_t BaseToDeclaredType(std::uint8_t baseType) {
  int row = TypeMaps.firstByBase[baseType];
  return row < 0 ? 0 : Rows[row].Declared;
}

std::uint8_t DatasetToDeclaredType(int datasetType) {
  int row = datasetType >= 0 && datasetType < 256 ? TypeMaps.firstByDataset[datasetType] : -1;
  if (row < 0) RaiseHDB(Errors::UnknownDatasetType, std::to_string(datasetType));
  return Rows[row].Declared;
}

std::uint8_t DeclaredToDatasetType(std::uint8_t declaredType) {
  int row = TypeMaps.firstByDeclared[declaredType];
  return row < 0 ? 0 : Rows[row].Dataset;
}

const char* BaseTypeWord(std::uint8_t baseType) {
  int row = TypeMaps.firstByBase[baseType];
  return row < 0 ? "Unknown" : Rows[row].Word;
}

const char* DeclaredTypeWord(std::uint8_t declaredType) {
  int row = TypeMaps.firstByDeclared[declaredType];
  return row < 0 ? "Unknown" : Rows[row].Word;
}

std::uint8_t TypeWordToDeclaredType(std::string_view word) {
  for (const THDBTypeRow& row : Rows)
    if (platform::AnsiSameText(word, row.Word)) return row.Declared;
  return 0;
}

std::int32_t MemoryDataSizeOf(std::uint8_t baseType, std::int32_t n) {
  switch (baseType) {
    case btFixedChar:
    case btString:
    case btBytes:
    case btVarBytes:
      return n + 1;
    case btFixedWideChar:
    case btWideString:
      return (n + 1) * 2;
    case btShortInt:
    case btByte:
      return 1;
    case btSmallInt:
    case btWord:
    case btLogical:
      return 2;
    case btInteger:
    case btCardinal:
    case btSingle:
    case btDate:
    case btTime:
      return 4;
    case btLargeInt:
    case btDouble:
    case btDateTime:
    case btCurrency:
      return 8;
    case btExtended:
      return 10;
    case btBlob:
    case btMemo:
    case btWideMemo:
      return BlobSlotSize;
    default:
      RaiseHDB(Errors::SizeUnknownDataType, BaseTypeWord(baseType));
  }
}

std::int32_t DiskDataSizeOf(std::uint8_t baseType, std::int32_t n) {
  return IsBlobBaseType(baseType) ? BlobRefSize : MemoryDataSizeOf(baseType, n);
}

}  // namespace hdb
