#include "table_access.h"

#include "field_text.h"

#include <cassert>
#include <cstring>
#include <limits>

#include "dbengine/cursor/blob_stream.h"
#include "dbengine/cursor/cursor.h"
#include "dbengine/cursor/local_session.h"
#include "dbengine/platform/ansi_charset.h"
#include "dbengine/platform/codepage.h"
#include "dbengine/storage/byte_layout.h"
#include "dbengine/storage/disk_database.h"
#include "dbengine/storage/free_space_check.h"
#include "dbengine/storage/hdb_exception.h"
#include "dbengine/tables/constraint_defs.h"
#include "dbengine/tables/data_types.h"
#include "dbengine/tables/disk_table_data.h"
#include "dbengine/tables/extended_float.h"
#include "dbengine/tables/field_defs.h"
#include "dbengine/tables/index_defs.h"
#include "dbengine/tables/navigation_request.h"
#include "dbengine/tables/value_conversion.h"

namespace hdbtool {

namespace {

namespace le = hdb::le;

// The registry finds a database by its file; the name only has to be there.
constexpr char SessionDatabaseName[] = "hdbtool";

std::string RecordText(hdb::RecordID id) {
  return "(" + std::to_string(id.PageNo) + ", " + std::to_string(id.SlotNo) + ")";
}

void IntegerRange(std::uint8_t baseType, std::int64_t& low, std::int64_t& high) {
  switch (baseType) {
    case hdb::btShortInt:
      low = std::numeric_limits<std::int8_t>::min(), high = std::numeric_limits<std::int8_t>::max();
      return;
    case hdb::btSmallInt:
      low = std::numeric_limits<std::int16_t>::min(), high = std::numeric_limits<std::int16_t>::max();
      return;
    case hdb::btInteger:
      low = std::numeric_limits<std::int32_t>::min(), high = std::numeric_limits<std::int32_t>::max();
      return;
    case hdb::btByte:
      low = 0, high = std::numeric_limits<std::uint8_t>::max();
      return;
    case hdb::btWord:
      low = 0, high = std::numeric_limits<std::uint16_t>::max();
      return;
    case hdb::btCardinal:
      low = 0, high = std::numeric_limits<std::uint32_t>::max();
      return;
    default:
      low = std::numeric_limits<std::int64_t>::min(), high = std::numeric_limits<std::int64_t>::max();
  }
}

TFieldInfo DescribeField(const hdb::THDBFieldDef& f, const hdb::THDBConstraintDefs& constraints) {
  TFieldInfo info;
  info.Name = f.Name;
  info.TypeWord = hdb::DeclaredTypeWord(f.DeclaredType);
  info.Autoinc = hdb::IsAutoincDeclaredType(f.DeclaredType);
  const std::uint8_t d = f.DeclaredType;
  if (d == hdb::dtChar || d == hdb::dtString || d == hdb::dtGuid) {
    info.Kind = TValueKind::Text;
    info.Size = info.Capacity = f.DeclaredSize;
  } else if (d == hdb::dtWideChar || d == hdb::dtWideString) {
    info.Kind = TValueKind::WideText;
    info.Size = info.Capacity = f.DeclaredSize;
  } else if (hdb::IsIntegerBaseType(f.BaseType)) {
    info.Kind = TValueKind::Integer;
    IntegerRange(f.BaseType, info.MinInteger, info.MaxInteger);
  } else {
    switch (f.BaseType) {
      case hdb::btSingle:
        info.Kind = TValueKind::Float;
        info.FloatWidth = TFloatWidth::Single;
        break;
      case hdb::btDouble:
        info.Kind = TValueKind::Float;
        break;
      case hdb::btExtended:
        info.Kind = TValueKind::Float;
        info.FloatWidth = TFloatWidth::Extended;
        break;
      case hdb::btLogical:
        info.Kind = TValueKind::Logical;
        break;
      case hdb::btCurrency:
        info.Kind = TValueKind::Currency;
        break;
      case hdb::btDate:
        info.Kind = TValueKind::Date;
        break;
      case hdb::btTime:
        info.Kind = TValueKind::Time;
        break;
      case hdb::btDateTime:
        info.Kind = TValueKind::DateTime;
        break;
      case hdb::btBytes:
        // The declared bytes; the slot's last byte stays zero.
        info.Kind = TValueKind::Bytes;
        info.Size = info.Capacity = f.DeclaredSize;
        break;
      case hdb::btVarBytes:
        // The whole slot is the value.
        info.Kind = TValueKind::Bytes;
        info.Size = f.DeclaredSize;
        info.Capacity = f.MemoryDataSize;
        break;
      case hdb::btBlob:
        info.Kind = TValueKind::Blob;
        break;
      case hdb::btMemo:
        info.Kind = TValueKind::Memo;
        break;
      case hdb::btWideMemo:
        info.Kind = TValueKind::WideMemo;
        break;
      default:
        assert(false && "a field of a type the type table does not have");
    }
  }
  for (int c = 0; c < constraints.Count(); ++c) {
    const hdb::THDBConstraintDef& def = constraints[c];
    if (def.ConstraintKind != hdb::ckNotNull) continue;
    const auto& notNull = static_cast<const hdb::THDBConstraintDefNotNull&>(def);
    if (notNull.FieldRef.ObjectID == f.ObjectID || hdb::platform::AnsiSameText(notNull.FieldRef.Name, f.Name))
      info.Required = true;
  }
  return info;
}

TTableInfo DescribeCursor(hdb::THDBLocalCursor& cursor) {
  TTableInfo info;
  info.Name = cursor.TableName;
  for (int i = 0; i < cursor.TableFields.Count(); ++i)
    info.Fields.push_back(DescribeField(cursor.TableFields[i], cursor.ConstraintDefs));
  for (int i = 0; i < cursor.IndexDefs.Count(); ++i) {
    const hdb::THDBIndexDef& def = cursor.IndexDefs[i];
    if (def.IsTemporary) continue;
    TIndexInfo index{def.Name, {}, def.IsUnique, def.IsPrimary};
    for (const hdb::THDBIndexColumn& column : def.Columns)
      index.Columns.push_back(column.Name + (column.Descending ? " DESC" : "") +
                              (column.CaseInsensitive ? " NO_CASE" : ""));
    info.Indexes.push_back(std::move(index));
  }
  info.RecordCount = cursor.GetRecordCount();
  return info;
}

}  // namespace

// Field values between a cursor's record buffer and the tool's terms.
class TRecordCodec {
 public:
  TRecordCodec(hdb::THDBLocalCursor& cursor, const TTableInfo& info) : cursor_(cursor), info_(info) {
    std::size_t largest = 8;
    for (int i = 0; i < cursor.TableFields.Count(); ++i)
      largest = std::max(largest, static_cast<std::size_t>(cursor.TableFields[i].MemoryDataSize) + 2);
    scratch_.resize(largest);
  }

  // The cursor's CurrentRecord must be the buffer (BLOB streams read it).
  void Read(const std::uint8_t* buffer, std::int32_t fieldNo, TFieldValue& value) {
    const hdb::THDBFieldDef& f = cursor_.TableFields[fieldNo];
    const TFieldInfo& info = info_.Fields[static_cast<std::size_t>(fieldNo)];
    std::uint8_t* raw = scratch_.data();
    std::memset(raw, 0, scratch_.size());
    value.IsNull = !cursor_.ReadField(fieldNo, buffer, raw);
    if (value.IsNull) return;
    switch (info.Kind) {
      case TValueKind::Text:
        value.Bytes.assign(reinterpret_cast<const char*>(raw),
                           strnlen(reinterpret_cast<const char*>(raw), static_cast<std::size_t>(f.MemoryDataSize)));
        return;
      case TValueKind::WideText: {
        value.Wide.clear();
        for (std::int32_t i = 0; i + 1 < f.MemoryDataSize; i += 2) {
          const char16_t unit = le::Load<std::uint16_t>(raw, static_cast<std::size_t>(i));
          if (unit == 0) break;
          value.Wide.push_back(unit);
        }
        return;
      }
      case TValueKind::Integer:
      case TValueKind::Logical:
        value.Integer = hdb::LoadIntegerValue(raw, f.BaseType);
        return;
      case TValueKind::Float:
        value.Float = f.BaseType == hdb::btSingle   ? le::Load<float>(raw, 0)
                      : f.BaseType == hdb::btDouble ? le::Load<double>(raw, 0)
                                                    : hdb::ExtendedToLongDouble(raw);
        return;
      case TValueKind::Currency:
        value.Float = le::Load<double>(raw, 0);
        return;
      case TValueKind::Date:
      case TValueKind::Time:
        value.Integer = le::Load<std::int32_t>(raw, 0);
        return;
      case TValueKind::DateTime:
        value.Integer = le::Load<std::int32_t>(raw, 0);
        value.Time = le::Load<std::int32_t>(raw, 4);
        return;
      case TValueKind::Bytes:
        value.Bytes.assign(reinterpret_cast<const char*>(raw), static_cast<std::size_t>(info.Capacity));
        return;
      case TValueKind::Blob:
      case TValueKind::Memo:
      case TValueKind::WideMemo: {
        hdb::THDBLocalBLOBStream& stream = cursor_.OpenBlob(fieldNo, false);
        std::string bytes(static_cast<std::size_t>(stream.Size()), '\0');
        stream.Read(bytes.data(), stream.Size());
        cursor_.CloseBlob(fieldNo);
        if (info.Kind == TValueKind::WideMemo) {
          value.Wide.resize(bytes.size() / 2);
          for (std::size_t i = 0; i < value.Wide.size(); ++i) value.Wide[i] = le::Load<std::uint16_t>(bytes.data(), 2 * i);
        } else {
          value.Bytes = std::move(bytes);
        }
        value.IsNull = value.Bytes.empty() && value.Wide.empty();
        return;
      }
    }
  }

  // The cursor's CurrentRecord must be the buffer (BLOB streams write to it).
  void Write(std::uint8_t* buffer, std::int32_t fieldNo, const TFieldValue& value) {
    if (value.IsNull) {
      cursor_.WriteField(fieldNo, buffer, nullptr);
      return;
    }
    const hdb::THDBFieldDef& f = cursor_.TableFields[fieldNo];
    const TFieldInfo& info = info_.Fields[static_cast<std::size_t>(fieldNo)];
    std::uint8_t* raw = scratch_.data();
    std::memset(raw, 0, scratch_.size());
    switch (info.Kind) {
      case TValueKind::Text:
        assert(value.Bytes.size() <= static_cast<std::size_t>(info.Capacity));
        std::memcpy(raw, value.Bytes.data(), value.Bytes.size());
        break;
      case TValueKind::WideText:
        assert(value.Wide.size() <= static_cast<std::size_t>(info.Capacity));
        for (std::size_t i = 0; i < value.Wide.size(); ++i) le::Store<std::uint16_t>(raw, 2 * i, value.Wide[i]);
        break;
      case TValueKind::Integer:
        assert(value.Integer >= info.MinInteger && value.Integer <= info.MaxInteger);
        hdb::StoreIntegerValue(raw, f.BaseType, value.Integer);
        break;
      case TValueKind::Logical:
        hdb::StoreIntegerValue(raw, f.BaseType, value.Integer != 0);
        break;
      case TValueKind::Float:
        if (f.BaseType == hdb::btSingle) {
          le::Store<float>(raw, 0, static_cast<float>(value.Float));
        } else if (f.BaseType == hdb::btDouble) {
          le::Store<double>(raw, 0, static_cast<double>(value.Float));
        } else {
          hdb::LongDoubleToExtended(value.Float, raw);
        }
        break;
      case TValueKind::Currency:
        le::Store<double>(raw, 0, static_cast<double>(value.Float));
        break;
      case TValueKind::Date:
      case TValueKind::Time:
        le::Store<std::int32_t>(raw, 0, static_cast<std::int32_t>(value.Integer));
        break;
      case TValueKind::DateTime:
        le::Store<std::int32_t>(raw, 0, static_cast<std::int32_t>(value.Integer));
        le::Store<std::int32_t>(raw, 4, value.Time);
        break;
      case TValueKind::Bytes:
        assert(value.Bytes.size() <= static_cast<std::size_t>(info.Capacity));
        std::memcpy(raw, value.Bytes.data(), value.Bytes.size());
        break;
      case TValueKind::Blob:
      case TValueKind::Memo:
      case TValueKind::WideMemo: {
        // The stream brings the value and clears the field's NULL flag.
        hdb::THDBLocalBLOBStream& stream = cursor_.OpenBlob(fieldNo, true);
        if (info.Kind == TValueKind::WideMemo) {
          std::string bytes(value.Wide.size() * 2, '\0');
          for (std::size_t i = 0; i < value.Wide.size(); ++i) le::Store<std::uint16_t>(bytes.data(), 2 * i, value.Wide[i]);
          stream.Write(bytes.data(), static_cast<std::int64_t>(bytes.size()));
        } else {
          stream.Write(value.Bytes.data(), static_cast<std::int64_t>(value.Bytes.size()));
        }
        return;
      }
    }
    cursor_.WriteField(fieldNo, buffer, raw);
  }

 private:
  hdb::THDBLocalCursor& cursor_;
  const TTableInfo& info_;
  std::vector<std::uint8_t> scratch_;
};

// ---- The database -------------------------------------------------------------------

TDatabaseAccess::TDatabaseAccess(std::string file, TAccessMode mode)
    : file_(std::move(file)), session_(std::make_unique<hdb::THDBLocalSession>()) {
  session_->DatabaseName = SessionDatabaseName;
  session_->DatabaseFileName = file_;
  session_->ReadOnly = mode == TAccessMode::Read;
  try {
    session_->SetConnected(true);
  } catch (const hdb::EHDBException& e) {
    RaiseUnreadable(e.what());
  }
}

TDatabaseAccess::~TDatabaseAccess() = default;

void TDatabaseAccess::CreateDatabase(const std::string& file) {
  hdb::THDBLocalSession maker;
  maker.DatabaseName = SessionDatabaseName;
  maker.DatabaseFileName = file;
  try {
    maker.CreateDatabase();
  } catch (const hdb::EHDBException& e) {
    throw TRefused{file + ": " + e.what()};
  }
}

void TDatabaseAccess::RaiseUnreadable(const std::string& what) const { throw TUnreadable{file_ + ": " + what}; }

bool TDatabaseAccess::NeedsRepair() const { return session_->NeedsRepair != 0; }

std::vector<std::string> TDatabaseAccess::TableNames() {
  std::vector<std::string> names;
  try {
    session_->GetTableNames(names);
  } catch (const hdb::EHDBException& e) {
    RaiseUnreadable(e.what());
  }
  return names;
}

std::unique_ptr<hdb::THDBLocalCursor> TDatabaseAccess::OpenCursor(const std::string& table) {
  bool exists = false;
  try {
    exists = session_->TableExists(table);
  } catch (const hdb::EHDBException& e) {
    RaiseUnreadable(e.what());
  }
  if (!exists) {
    std::string known;
    for (const std::string& name : TableNames()) known += (known.empty() ? "" : ", ") + name;
    throw TRefused{file_ + ": no table '" + table + "' (" + (known.empty() ? "the file holds no table" : "tables: " + known) +
                   ")"};
  }
  auto cursor = std::make_unique<hdb::THDBLocalCursor>(*session_);
  cursor->TableName = table;
  cursor->ReadOnly = session_->ReadOnly;
  try {
    cursor->OpenTable();
  } catch (const hdb::EHDBException& e) {
    RaiseUnreadable("table '" + table + "': " + e.what());
  }
  return cursor;
}

TTableInfo TDatabaseAccess::Describe(const std::string& table) {
  std::unique_ptr<hdb::THDBLocalCursor> cursor = OpenCursor(table);
  try {
    return DescribeCursor(*cursor);
  } catch (const hdb::EHDBException& e) {
    RaiseUnreadable("table '" + table + "': " + e.what());
  }
}

void TDatabaseAccess::CreateTable(const std::string& table, const hdb::THDBFieldDefs& fields,
                                  const hdb::THDBIndexDefs& indexes, const hdb::THDBConstraintDefs& constraints) {
  hdb::THDBLocalCursor maker(*session_);
  maker.TableName = table;
  try {
    maker.CreateTable(fields, indexes, constraints);
  } catch (const hdb::EHDBException& e) {
    throw TRefused{file_ + ": cannot create table '" + table + "': " + e.what()};
  }
}

namespace {

// "index NAME [FG >= 'A', FG < 'B']" for a key range (one end given when the range is
// open on the other), "scan" for a walk that tests every record.
std::string DescribePath(hdb::THDBLocalCursor& c, TRecordCodec& codec, const TTableInfo& info) {
  const hdb::THDBSearchReport& r = c.LastSearch;
  if (r.IndexNo == -1) return "scan";
  const int index = c.IndexDefs.FindByObjectID(r.IndexNo);
  if (index < 0) return "index " + std::to_string(r.IndexNo);
  const hdb::THDBIndexDef& def = c.IndexDefs[index];
  static const char* const kOperators[] = {"", "=", "<", ">", "<=", ">="};
  std::vector<std::string> terms;
  auto describe = [&](std::uint8_t type, std::vector<std::uint8_t> key, std::int32_t count) {
    if (type < 1 || type > 5 || key.empty()) return;
    key.resize(std::max(key.size(), static_cast<std::size_t>(c.FullSize)), 0);
    std::uint8_t* const saved = c.CurrentRecord;
    c.CurrentRecord = key.data();
    for (std::int32_t k = 0; k < count && k < def.ColumnCount(); ++k) {
      const int fieldNo = c.TableFields.FindByName(def.Columns[static_cast<std::size_t>(k)].Name);
      if (fieldNo < 0) continue;
      TFieldValue value;
      codec.Read(key.data(), fieldNo, value);
      std::string text, reason;
      if (value.IsNull || !FormatFieldText(info.Fields[static_cast<std::size_t>(fieldNo)], value, text, reason))
        text = "NULL";
      else
        text = "'" + text + "'";
      // The leading columns of a key over several are equal; only the last one carries
      // the relation.
      const bool last = k + 1 == count;
      terms.push_back(hdb::platform::Win1252ToUtf8(info.Fields[static_cast<std::size_t>(fieldNo)].Name) + " " +
                      (last ? kOperators[type] : "=") + " " + text);
    }
    c.CurrentRecord = saved;
  };
  describe(r.StartType, r.StartKey, r.StartKeyFieldCount);
  if (r.StopType != r.StartType || r.StopKey != r.StartKey)
    describe(r.StopType, r.StopKey, r.StopKeyFieldCount);
  std::string text = "index " + hdb::platform::Win1252ToUtf8(def.Name);
  if (!terms.empty()) {
    text += " [";
    for (std::size_t i = 0; i < terms.size(); ++i) text += (i ? ", " : "") + terms[i];
    text += "]";
  }
  return text;
}

}  // namespace

void TDatabaseAccess::ForEachRecord(const std::string& table, const std::string& index,
                                    const std::function<void(const std::vector<TFieldValue>&)>& visit,
                                    const TRecordFilter* filter, TWalkReport* report) {
  std::unique_ptr<hdb::THDBLocalCursor> cursor = OpenCursor(table);
  hdb::THDBLocalCursor& c = *cursor;
  TTableInfo info;
  try {
    info = DescribeCursor(c);
  } catch (const hdb::EHDBException& e) {
    RaiseUnreadable("table '" + table + "': " + e.what());
  }
  if (!index.empty()) {
    const int found = c.IndexDefs.FindByName(index);
    if (found < 0 || c.IndexDefs[found].IsTemporary) {
      std::string known;
      for (const TIndexInfo& i : info.Indexes) known += (known.empty() ? "" : ", ") + i.Name;
      throw TRefused{file_ + ": table '" + table + "' has no index '" + index + "' (" +
                     (known.empty() ? "it has none" : "indexes: " + known) + ")"};
    }
    c.SetIndexByName(index);
  }
  if (filter) {
    try {
      c.SetFilterText(filter->Text, filter->CaseInsensitive, filter->PartialCompare);
    } catch (const hdb::EHDBException& e) {
      throw TUnreadable{file_ + ": filter: " + e.Message()};
    }
  }
  TRecordCodec codec(c, info);
  std::vector<std::uint8_t> buffer = c.AllocRecordBuffer();
  std::vector<TFieldValue> values(info.Fields.size());
  std::int64_t visited = 0;
  bool firstSearch = true;
  try {
    c.SetToBegin();
    for (;;) {
      c.CurrentRecord = buffer.data();
      c.LastSearch = {};
      const std::uint8_t result = c.GetRecord(hdb::gmNext);
      if (filter && report) {
        // Every filtered step is a search from where the last one stopped; the first
        // one shows the path every later one takes.
        if (firstSearch) report->Path = DescribePath(c, codec, info);
        firstSearch = false;
        report->RecordsRead += c.LastSearch.RecordsRead;
      }
      if (result == hdb::grEOF) break;
      if (result != hdb::grOK)
        RaiseUnreadable("table '" + table + "': record " + std::to_string(visited + 1) + " cannot be read");
      for (std::int32_t i = 0; i < static_cast<std::int32_t>(values.size()); ++i)
        codec.Read(buffer.data(), i, values[static_cast<std::size_t>(i)]);
      ++visited;
      visit(values);
    }
  } catch (const hdb::EHDBException& e) {
    RaiseUnreadable("table '" + table + "', after record " + std::to_string(visited) + ": " + e.what());
  }
}

// ---- Deletes ------------------------------------------------------------------------

std::int64_t TDatabaseAccess::DeleteRecords(const std::string& table, const TRecordFilter& filter) {
  std::unique_ptr<hdb::THDBLocalCursor> cursor = OpenCursor(table);
  hdb::THDBLocalCursor& c = *cursor;
  try {
    c.SetFilterText(filter.Text, filter.CaseInsensitive, filter.PartialCompare);
  } catch (const hdb::EHDBException& e) {
    throw TUnreadable{file_ + ": filter: " + e.Message()};
  }
  std::vector<std::uint8_t> buffer = c.AllocRecordBuffer();
  // The passing records are found first and then deleted, so that no delete moves
  // the search under its feet.
  std::vector<hdb::RecordID> passing;
  try {
    c.SetToBegin();
    for (;;) {
      c.CurrentRecord = buffer.data();
      const std::uint8_t result = c.GetRecord(hdb::gmNext);
      if (result == hdb::grEOF) break;
      if (result != hdb::grOK)
        RaiseUnreadable("table '" + table + "': record " + std::to_string(passing.size() + 1) + " cannot be read");
      passing.push_back(c.Position);
    }
    c.ClearFilter();
  } catch (const hdb::EHDBException& e) {
    RaiseUnreadable("table '" + table + "': " + e.what());
  }
  if (passing.empty()) return 0;
  try {
    session_->StartTransaction();
    for (const hdb::RecordID& id : passing) {
      c.Position = id;
      c.AtBOF = c.AtEOF = false;
      c.CurrentRecord = buffer.data();
      if (c.GetRecord(hdb::gmCurrent) != hdb::grOK)
        throw TRefused{file_ + ": table '" + table + "': record " + RecordText(id) + " cannot be read"};
      c.RemoveRecord();
      if (c.LastResult != hdb::wrOK)
        throw TRefused{file_ + ": table '" + table + "': record " + RecordText(id) + " cannot be deleted: " +
                       (c.LastResult == hdb::wrErrorText ? c.LastErrorText : hdb::WriteResultText(c.LastResult))};
    }
    session_->CommitTransaction(true);
  } catch (...) {
    try {
      if (session_->InTransaction()) session_->RollbackTransaction();
    } catch (const hdb::EHDBException&) {
      // The file closes with the session, which drops what no commit wrote.
    }
    try {
      throw;
    } catch (const hdb::EHDBException& e) {
      throw TRefused{file_ + ": table '" + table + "': the delete failed: " + e.what()};
    }
  }
  return static_cast<std::int64_t>(passing.size());
}

// ---- The check ----------------------------------------------------------------------

std::vector<std::string> TDatabaseAccess::Check() {
  std::vector<std::string> problems;
  if (NeedsRepair()) problems.push_back("the file's last commit was interrupted: it needs repair");
  try {
    for (const std::string& p : hdb::CheckFreeSpaceMaps(*session_->DatabaseData()->PageManager()))
      problems.push_back("free-space maps: " + p);
  } catch (const hdb::EHDBException& e) {
    problems.push_back(std::string("free-space maps: ") + e.what());
  }
  for (const std::string& table : TableNames()) CheckTable(table, problems);
  return problems;
}

void TDatabaseAccess::CheckTable(const std::string& table, std::vector<std::string>& problems) {
  const std::string prefix = "table " + table + ": ";
  auto cursor = std::make_unique<hdb::THDBLocalCursor>(*session_);
  hdb::THDBLocalCursor& c = *cursor;
  c.TableName = table;
  c.ReadOnly = true;
  try {
    c.OpenTable();
  } catch (const hdb::EHDBException& e) {
    problems.push_back(prefix + "cannot be opened: " + e.what());
    return;
  }
  std::vector<std::string> found;
  std::int64_t count = 0;
  try {
    found = c.Table()->CheckTable(session_->SessionID());
    count = c.GetRecordCount();
  } catch (const hdb::EHDBException& e) {
    found.push_back(e.what());
  }
  for (const std::string& p : found) problems.push_back(prefix + p);

  std::vector<std::uint8_t> buffer = c.AllocRecordBuffer();
  // Walks the records in the cursor's order; a walk longer than the records would
  // never end on a damaged tree, so it stops one past the count.
  auto walk = [&](const std::string& what, int indexNo) {
    c.SetIndexByName(indexNo < 0 ? std::string() : c.IndexDefs[indexNo].Name);
    std::int64_t visited = 0;
    hdb::RecordID previous;
    try {
      c.SetToBegin();
      for (;;) {
        c.CurrentRecord = buffer.data();
        const std::uint8_t result = c.GetRecord(hdb::gmNext);
        if (result == hdb::grEOF) break;
        if (result != hdb::grOK) {
          problems.push_back(prefix + what + ": record " + std::to_string(visited + 1) + " in its order cannot be read");
          return;
        }
        const hdb::RecordID current = c.Position;
        if (visited > 0 && indexNo >= 0 && c.CompareBookmarks(previous, current) >= 0) {
          problems.push_back(prefix + what + ": record " + RecordText(previous) + " comes before " +
                             RecordText(current) + " but does not sort before it");
          return;
        }
        if (++visited > count) break;
        previous = current;
      }
    } catch (const hdb::EHDBException& e) {
      problems.push_back(prefix + what + ": " + e.what());
      return;
    }
    if (visited != count)
      problems.push_back(prefix + what + " visits " + (visited > count ? "more than " + std::to_string(count) : std::to_string(visited)) +
                         " records, the table counts " + std::to_string(count));
  };
  walk("natural order", -1);
  for (int i = 0; i < c.IndexDefs.Count(); ++i) {
    if (c.IndexDefs[i].IsTemporary) continue;
    const std::string what = "index " + c.IndexDefs[i].Name;
    // A tree the check already found damaged is not walked again.
    bool damaged = false;
    for (const std::string& p : found) damaged = damaged || p.rfind(what + ":", 0) == 0;
    if (!damaged) walk(what, i);
  }
}

// ---- Imports ------------------------------------------------------------------------

TTableInserter::TTableInserter(TDatabaseAccess& database, const std::string& table)
    : database_(database), cursor_(database.OpenCursor(table)) {
  try {
    info_ = DescribeCursor(*cursor_);
  } catch (const hdb::EHDBException& e) {
    database_.RaiseUnreadable("table '" + table + "': " + e.what());
  }
  buffer_ = cursor_->AllocRecordBuffer();
  codec_ = std::make_unique<TRecordCodec>(*cursor_, info_);
  database_.session_->StartTransaction();
}

TTableInserter::~TTableInserter() {
  if (committed_) return;
  try {
    cursor_->FreeBlobs(false);
    if (database_.session_->InTransaction()) database_.session_->RollbackTransaction();
  } catch (const hdb::EHDBException&) {
    // The file closes with the session, which drops what no commit wrote.
  }
}

std::string TTableInserter::Insert(const std::vector<std::optional<TFieldValue>>& values) {
  assert(values.size() == info_.Fields.size());
  hdb::THDBLocalCursor& c = *cursor_;
  TRecordCodec& codec = *codec_;
  try {
    c.InitRecordBuffer(buffer_.data(), true);
    c.CurrentRecord = buffer_.data();
    for (std::int32_t i = 0; i < static_cast<std::int32_t>(values.size()); ++i)
      if (const auto& v = values[static_cast<std::size_t>(i)]) codec.Write(buffer_.data(), i, *v);
    c.CurrentRecord = buffer_.data();
    c.WriteRecord(true);
  } catch (const hdb::EHDBException& e) {
    database_.RaiseUnreadable("table '" + info_.Name + "': " + e.what());
  }
  if (c.LastResult == hdb::wrOK) return {};
  c.FreeBlobs(false);
  return c.LastResult == hdb::wrErrorText ? c.LastErrorText : hdb::WriteResultText(c.LastResult);
}

void TTableInserter::Commit() {
  try {
    database_.session_->CommitTransaction(true);
  } catch (const hdb::EHDBException& e) {
    throw TRefused{database_.File() + ": the import could not be committed: " + e.what()};
  }
  committed_ = true;
}

}  // namespace hdbtool
