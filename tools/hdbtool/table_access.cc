#include "table_access.h"

#include "field_text.h"

#include <cassert>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>

#include "dbengine/components/database_error.h"
#include "dbengine/components/engine_error.h"
#include "dbengine/components/hdb_database.h"
#include "dbengine/components/hdb_table.h"
#include "dbengine/cursor/cursor.h"
#include "dbengine/cursor/local_session.h"
#include "dbengine/platform/ansi_charset.h"
#include "dbengine/platform/codepage.h"
#include "dbengine/storage/byte_layout.h"
#include "dbengine/storage/disk_database.h"
#include "dbengine/storage/error_messages.h"
#include "dbengine/storage/free_space_check.h"
#include "dbengine/storage/hdb_exception.h"
#include "dbengine/tables/constraint_defs.h"
#include "dbengine/tables/data_types.h"
#include "dbengine/tables/date_time_codec.h"
#include "dbengine/tables/disk_table_data.h"
#include "dbengine/tables/extended_float.h"
#include "dbengine/tables/field_defs.h"
#include "dbengine/tables/index_defs.h"
#include "dbengine/tables/navigation_request.h"
#include "dbengine/tables/value_conversion.h"

namespace hdbtool {

namespace {

namespace le = hdb::le;

// The database components the tool makes are named after it.
constexpr char DatabaseNamePrefix[] = "hdbtool";

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

// The table component's cursor: a table always opens a local one.
hdb::THDBLocalCursor& LocalCursor(hdb::THDBTable& table) {
  assert(table.Cursor());
  return *static_cast<hdb::THDBLocalCursor*>(table.Cursor());
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
// Field values between the table component's current record (or a key buffer of its
// cursor) and the tool's terms. Reads and writes of the record go through the field
// objects of the table, as the program's do; values cross in the engine's stored form,
// except date-times, which the field objects hold as milliseconds.
class TRecordCodec {
 public:
  TRecordCodec(hdb::THDBTable& table, const TTableInfo& info)
      : table_(table), cursor_(LocalCursor(table)), info_(info) {
    std::size_t largest = 8;
    for (int i = 0; i < cursor_.TableFields.Count(); ++i)
      largest = std::max(largest, static_cast<std::size_t>(cursor_.TableFields[i].MemoryDataSize) + 2);
    scratch_.resize(largest);
    for (std::int32_t i = 0; i < table.FieldCount(); ++i) {
      hdb::THDBField& field = table.Fields(i);
      assert(field.FieldNo() == i + 1 && "default field objects stand in field order");
      fields_.push_back(&field);
    }
  }

  // A field of the table's current record (or of the record being inserted).
  void ReadCurrent(std::int32_t fieldNo, TFieldValue& value) {
    const TFieldInfo& info = info_.Fields[static_cast<std::size_t>(fieldNo)];
    hdb::THDBField& field = *fields_[static_cast<std::size_t>(fieldNo)];
    if (info.Kind == TValueKind::Blob || info.Kind == TValueKind::Memo || info.Kind == TValueKind::WideMemo) {
      value.Bytes.clear();
      value.Wide.clear();
      if (table_.GetFieldData(field, nullptr)) {
        std::string bytes = table_.GetBlobData(field);
        if (info.Kind == TValueKind::WideMemo) {
          value.Wide.resize(bytes.size() / 2);
          for (std::size_t i = 0; i < value.Wide.size(); ++i) value.Wide[i] = le::Load<std::uint16_t>(bytes.data(), 2 * i);
        } else {
          value.Bytes = std::move(bytes);
        }
      }
      value.IsNull = value.Bytes.empty() && value.Wide.empty();
      return;
    }
    std::uint8_t* raw = scratch_.data();
    std::memset(raw, 0, scratch_.size());
    value.IsNull = !table_.GetFieldData(field, raw);
    if (value.IsNull) return;
    if (info.Kind == TValueKind::DateTime) {
      // Back from milliseconds to the stored day and time of day.
      const double ms = le::Load<double>(raw, 0);
      const double days = std::floor(ms / hdb::MSecsPerDay);
      le::Store<std::int32_t>(raw, 0, static_cast<std::int32_t>(days));
      le::Store<std::int32_t>(raw, 4, static_cast<std::int32_t>(ms - days * hdb::MSecsPerDay));
    }
    Decode(fieldNo, value);
  }

  // A field of a key buffer of the cursor (the key range of a search).
  void ReadKey(const std::uint8_t* buffer, std::int32_t fieldNo, TFieldValue& value) {
    std::uint8_t* raw = scratch_.data();
    std::memset(raw, 0, scratch_.size());
    value.IsNull = !cursor_.ReadField(fieldNo, buffer, raw);
    if (!value.IsNull) Decode(fieldNo, value);
  }

  // A field of the record being inserted.
  void Write(std::int32_t fieldNo, const TFieldValue& value) {
    hdb::THDBField& field = *fields_[static_cast<std::size_t>(fieldNo)];
    if (value.IsNull) {
      table_.SetFieldData(field, nullptr);
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
        table_.SetBlobData(field, value.Bytes);
        return;
      case TValueKind::WideMemo: {
        std::string bytes(value.Wide.size() * 2, '\0');
        for (std::size_t i = 0; i < value.Wide.size(); ++i) le::Store<std::uint16_t>(bytes.data(), 2 * i, value.Wide[i]);
        table_.SetBlobData(field, bytes);
        return;
      }
    }
    if (info.Kind == TValueKind::DateTime) {
      const double ms = static_cast<double>(le::Load<std::int32_t>(raw, 0)) * hdb::MSecsPerDay + le::Load<std::int32_t>(raw, 4);
      le::Store<double>(raw, 0, ms);
    }
    table_.SetFieldData(field, raw);
  }

 private:
  // The value in scratch_ (the stored form of a field that is not a BLOB).
  void Decode(std::int32_t fieldNo, TFieldValue& value) {
    const hdb::THDBFieldDef& f = cursor_.TableFields[fieldNo];
    const TFieldInfo& info = info_.Fields[static_cast<std::size_t>(fieldNo)];
    const std::uint8_t* raw = scratch_.data();
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
      case TValueKind::WideMemo:
        assert(false && "BLOB values come from the dataset");
        return;
    }
  }

  hdb::THDBTable& table_;
  hdb::THDBLocalCursor& cursor_;
  const TTableInfo& info_;
  std::vector<hdb::THDBField*> fields_;
  std::vector<std::uint8_t> scratch_;
};

// ---- The database -------------------------------------------------------------------

namespace {

// Each access joins the default session under a name of its own, so that two accesses
// (or one left by a caller) never meet.
std::string NextDatabaseName() {
  static int next = 0;
  return std::string(DatabaseNamePrefix) + std::to_string(++next);
}

// The engine's word for a failure, whatever layer raised it.
std::string ErrorText(const std::exception& e) { return e.what(); }

bool IsCannotRetrieve(const hdb::EHDBException& e) { return e.NativeError() == hdb::Errors::CannotRetrieveRecord.Code; }

}  // namespace

TDatabaseAccess::TDatabaseAccess(std::string file, TAccessMode mode)
    : file_(std::move(file)), database_(std::make_unique<hdb::THDBDatabase>()) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(file_, ec)) {
    // The component only says that the file does not exist; the engine says why it
    // cannot be opened (no such file, a folder, no permission).
    hdb::THDBLocalSession probe;
    probe.DatabaseName = NextDatabaseName();
    probe.DatabaseFileName = file_;
    probe.ReadOnly = true;
    try {
      probe.SetConnected(true);
    } catch (const hdb::EHDBException& e) {
      RaiseUnreadable(e.what());
    }
  }
  database_->SetDatabaseName(NextDatabaseName());
  database_->SetDatabaseFileName(file_);
  database_->ReadOnly = mode == TAccessMode::Read;
  // The tool opens a file that needs repair as it is: check names the problem and
  // repair is a verb of its own.
  database_->SilentMode = true;
  database_->OnNeedRepair = [](hdb::THDBDatabase&) { return false; };
  try {
    database_->Open();
  } catch (const std::exception& e) {
    RaiseUnreadable(ErrorText(e));
  }
}

TDatabaseAccess::~TDatabaseAccess() {
  try {
    database_->Close();
  } catch (const std::exception&) {
    // The file closes with the session, which drops what no commit wrote.
  }
}

hdb::THDBLocalSession& TDatabaseAccess::Session() const { return database_->EngineSession(); }

void TDatabaseAccess::CreateDatabase(const std::string& file) {
  hdb::THDBLocalSession maker;
  maker.DatabaseName = NextDatabaseName();
  maker.DatabaseFileName = file;
  try {
    maker.CreateDatabase();
  } catch (const hdb::EHDBException& e) {
    throw TRefused{file + ": " + e.what()};
  }
}

void TDatabaseAccess::RaiseUnreadable(const std::string& what) const { throw TUnreadable{file_ + ": " + what}; }

bool TDatabaseAccess::NeedsRepair() const { return Session().NeedsRepair != 0; }

std::vector<std::string> TDatabaseAccess::TableNames() {
  std::vector<std::string> names;
  try {
    Session().GetTableNames(names);
  } catch (const hdb::EHDBException& e) {
    RaiseUnreadable(e.what());
  }
  return names;
}

void TDatabaseAccess::RequireTable(const std::string& table) {
  bool exists = false;
  try {
    exists = Session().TableExists(table);
  } catch (const hdb::EHDBException& e) {
    RaiseUnreadable(e.what());
  }
  if (exists) return;
  std::string known;
  for (const std::string& name : TableNames()) known += (known.empty() ? "" : ", ") + name;
  throw TRefused{file_ + ": no table '" + table + "' (" + (known.empty() ? "the file holds no table" : "tables: " + known) +
                 ")"};
}

std::unique_ptr<hdb::THDBTable> TDatabaseAccess::NewTable(const std::string& table) const {
  auto component = std::make_unique<hdb::THDBTable>();
  component->SetDatabaseName(database_->DatabaseName());
  component->SetTableName(table);
  component->SetReadOnly(database_->ReadOnly);
  return component;
}

std::unique_ptr<hdb::THDBTable> TDatabaseAccess::TryOpenTable(const std::string& table, TOpenFailure& failure,
                                                              std::unique_ptr<hdb::THDBLocalCursor>* bare,
                                                              const std::string& index, const TRecordFilter* filter) {
  RequireTable(table);
  std::unique_ptr<hdb::THDBTable> component = NewTable(table);
  // The order and the filter are the component's before it opens, so that the first
  // record it shows is the first one of the walk.
  if (!index.empty()) component->SetIndexName(index);
  if (filter) {
    component->SetFilterOptions(static_cast<std::uint8_t>((filter->CaseInsensitive ? hdb::foCaseInsensitive : 0) |
                                                          (filter->PartialCompare ? 0 : hdb::foNoPartialCompare)));
    component->SetFilter(filter->Text);
    component->SetFiltered(true);
  }
  try {
    // An empty Filter is no filter to the component; to the tool it is a text that
    // does not parse (a delete with it must not take every record).
    if (filter && filter->Text.empty()) throw hdb::EHDBException(0, "the filter text is empty");
    component->Open();
  } catch (const std::exception& e) {
    // Opening shows the first record. Whether the table itself opens tells a table
    // that cannot be read at all from one whose first record cannot be, and whether
    // the filter parses on it one whose filter text is wrong.
    failure.Text = ErrorText(e);
    const auto* engine = dynamic_cast<const hdb::EHDBException*>(&e);
    failure.CannotRetrieve = engine && IsCannotRetrieve(*engine);
    auto cursor = std::make_unique<hdb::THDBLocalCursor>(Session());
    cursor->TableName = table;
    cursor->ReadOnly = true;
    try {
      cursor->OpenTable();
      failure.TableOpens = true;
    } catch (const hdb::EHDBException& opening) {
      failure.TableOpens = false;
      failure.Text = opening.what();
      return nullptr;
    }
    if (filter) {
      try {
        cursor->SetFilterText(filter->Text, filter->CaseInsensitive, filter->PartialCompare);
        cursor->ClearFilter();
      } catch (const hdb::EHDBException& parsing) {
        failure.BadFilter = true;
        failure.Text = parsing.Message();
      }
    }
    if (bare) *bare = std::move(cursor);
    return nullptr;
  }
  // The engine's own constraint check words a missing value; the field objects' check
  // of required fields would come first with a text of its own.
  for (std::int32_t i = 0; i < component->FieldCount(); ++i) component->Fields(i).Required = false;
  return component;
}

std::unique_ptr<hdb::THDBTable> TDatabaseAccess::OpenTable(const std::string& table) {
  TOpenFailure failure;
  std::unique_ptr<hdb::THDBTable> component = TryOpenTable(table, failure);
  if (!component) RaiseUnreadable("table '" + table + "': " + failure.Text);
  return component;
}

TTableInfo TDatabaseAccess::Describe(const std::string& table) {
  TOpenFailure failure;
  std::unique_ptr<hdb::THDBLocalCursor> bare;
  std::unique_ptr<hdb::THDBTable> component = TryOpenTable(table, failure, &bare);
  // The definitions of a table whose records cannot be shown are still read.
  if (!component && !bare) RaiseUnreadable("table '" + table + "': " + failure.Text);
  try {
    return DescribeCursor(component ? LocalCursor(*component) : *bare);
  } catch (const hdb::EHDBException& e) {
    RaiseUnreadable("table '" + table + "': " + e.what());
  }
}

void TDatabaseAccess::CreateTable(const std::string& table, const hdb::THDBFieldDefs& fields,
                                  const hdb::THDBIndexDefs& indexes, const hdb::THDBConstraintDefs& constraints) {
  hdb::THDBLocalCursor maker(Session());
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
    for (std::int32_t k = 0; k < count && k < def.ColumnCount(); ++k) {
      const int fieldNo = c.TableFields.FindByName(def.Columns[static_cast<std::size_t>(k)].Name);
      if (fieldNo < 0) continue;
      TFieldValue value;
      codec.ReadKey(key.data(), fieldNo, value);
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
  const TTableInfo info = Describe(table);
  std::string indexName;
  if (!index.empty()) {
    for (const TIndexInfo& i : info.Indexes)
      if (hdb::platform::AnsiSameText(i.Name, index)) indexName = i.Name;
    if (indexName.empty()) {
      std::string known;
      for (const TIndexInfo& i : info.Indexes) known += (known.empty() ? "" : ", ") + i.Name;
      throw TRefused{file_ + ": table '" + table + "' has no index '" + index + "' (" +
                     (known.empty() ? "it has none" : "indexes: " + known) + ")"};
    }
  }
  TOpenFailure failure;
  std::unique_ptr<hdb::THDBTable> component = TryOpenTable(table, failure, nullptr, indexName, filter);
  if (!component) RaiseOpenFailure(table, failure);
  hdb::THDBTable& t = *component;
  hdb::THDBLocalCursor& c = LocalCursor(t);
  TRecordCodec codec(t, info);
  // Every filtered step is a search from where the last one stopped; the first one,
  // made by opening, shows the path every later one takes.
  if (filter && report) {
    report->Path = DescribePath(c, codec, info);
    report->RecordsRead += c.LastSearch.RecordsRead;
  }
  std::vector<TFieldValue> values(info.Fields.size());
  std::int64_t visited = 0;
  try {
    while (!t.IsAtEnd()) {
      for (std::int32_t i = 0; i < static_cast<std::int32_t>(values.size()); ++i)
        codec.ReadCurrent(i, values[static_cast<std::size_t>(i)]);
      ++visited;
      visit(values);
      c.LastSearch = {};
      t.GoNext();
      if (filter && report) report->RecordsRead += c.LastSearch.RecordsRead;
    }
  } catch (const hdb::EHDBException& e) {
    if (IsCannotRetrieve(e))
      RaiseUnreadable("table '" + table + "': record " + std::to_string(visited + 1) + " cannot be read");
    RaiseUnreadable("table '" + table + "', after record " + std::to_string(visited) + ": " + e.what());
  }
}

void TDatabaseAccess::RaiseOpenFailure(const std::string& table, const TOpenFailure& failure) const {
  if (!failure.TableOpens) RaiseUnreadable("table '" + table + "': " + failure.Text);
  if (failure.BadFilter) throw TUnreadable{file_ + ": filter: " + failure.Text};
  // The first record of the walk could not be read.
  if (failure.CannotRetrieve) RaiseUnreadable("table '" + table + "': record 1 cannot be read");
  RaiseUnreadable("table '" + table + "', after record 0: " + failure.Text);
}

// ---- Deletes ------------------------------------------------------------------------

std::int64_t TDatabaseAccess::DeleteRecords(const std::string& table, const TRecordFilter& filter) {
  TOpenFailure failure;
  std::unique_ptr<hdb::THDBTable> component = TryOpenTable(table, failure, nullptr, std::string(), &filter);
  if (!component) RaiseOpenFailure(table, failure);
  hdb::THDBTable& t = *component;
  hdb::THDBLocalCursor& c = LocalCursor(t);
  if (t.IsEmpty()) return 0;
  // The view moves on to the next passing record after each delete; a view that
  // never empties would be a fault, and stops at the table's count.
  const std::int64_t limit = t.RecordCount();
  std::int64_t deleted = 0;
  hdb::RecordID current;
  try {
    Session().StartTransaction();
    while (!t.IsEmpty()) {
      if (deleted == limit) throw TRefused{file_ + ": table '" + table + "': the delete does not come to an end"};
      current = t.GetBookmark();
      t.DeleteCurrent();
      ++deleted;
    }
    Session().CommitTransaction(true);
  } catch (...) {
    try {
      if (Session().InTransaction()) Session().RollbackTransaction();
    } catch (const hdb::EHDBException&) {
      // The file closes with the session, which drops what no commit wrote.
    }
    try {
      throw;
    } catch (const hdb::EHDBEngineError&) {
      throw TRefused{file_ + ": table '" + table + "': record " + RecordText(current) + " cannot be deleted: " +
                     (c.LastResult == hdb::wrErrorText ? c.LastErrorText : hdb::WriteResultText(c.LastResult))};
    } catch (const hdb::EHDBException& e) {
      throw TRefused{file_ + ": table '" + table + "': the delete failed: " + e.what()};
    } catch (const hdb::EDatabaseError& e) {
      throw TRefused{file_ + ": table '" + table + "': the delete failed: " + e.what()};
    }
  }
  return deleted;
}

// ---- The check ----------------------------------------------------------------------

std::vector<std::string> TDatabaseAccess::Check() {
  std::vector<std::string> problems;
  if (NeedsRepair()) problems.push_back("the file's last commit was interrupted: it needs repair");
  try {
    for (const std::string& p : hdb::CheckFreeSpaceMaps(*Session().DatabaseData()->PageManager()))
      problems.push_back("free-space maps: " + p);
  } catch (const hdb::EHDBException& e) {
    problems.push_back(std::string("free-space maps: ") + e.what());
  }
  for (const std::string& table : TableNames()) CheckTable(table, problems);
  return problems;
}

namespace {

// The steps of a check's walk over a table in one order. The table component walks as
// the program does; a table it cannot open (its first record cannot be read) is walked
// by a bare cursor, so that the check still names every problem. A record that cannot
// be fetched raises Errors::CannotRetrieveRecord either way.
class TCheckWalk {
 public:
  virtual ~TCheckWalk() = default;
  // Empty name: natural order. Then the first record; false when there is none.
  virtual bool First(const std::string& index) = 0;
  virtual bool Next() = 0;
  virtual hdb::RecordID Current() const = 0;
  virtual int Compare(hdb::RecordID a, hdb::RecordID b) const = 0;
};

class TComponentWalk final : public TCheckWalk {
 public:
  explicit TComponentWalk(hdb::THDBTable& table) : t_(table) {}
  bool First(const std::string& index) override {
    t_.SetIndexName(index);
    t_.GoFirst();
    return !t_.IsAtEnd();
  }
  bool Next() override {
    t_.GoNext();
    return !t_.IsAtEnd();
  }
  hdb::RecordID Current() const override { return t_.GetBookmark(); }
  int Compare(hdb::RecordID a, hdb::RecordID b) const override { return t_.CompareBookmarks(a, b); }

 private:
  hdb::THDBTable& t_;
};

class TCursorWalk final : public TCheckWalk {
 public:
  explicit TCursorWalk(hdb::THDBLocalCursor& cursor) : c_(cursor), buffer_(cursor.AllocRecordBuffer()) {}
  bool First(const std::string& index) override {
    c_.SetIndexByName(index);
    c_.SetToBegin();
    return Next();
  }
  bool Next() override {
    c_.CurrentRecord = buffer_.data();
    const std::uint8_t result = c_.GetRecord(hdb::gmNext);
    if (result == hdb::grEOF) return false;
    if (result != hdb::grOK) hdb::RaiseHDB(hdb::Errors::CannotRetrieveRecord);
    return true;
  }
  hdb::RecordID Current() const override { return c_.Position; }
  int Compare(hdb::RecordID a, hdb::RecordID b) const override { return c_.CompareBookmarks(a, b); }

 private:
  hdb::THDBLocalCursor& c_;
  std::vector<std::uint8_t> buffer_;
};

}  // namespace

void TDatabaseAccess::CheckTable(const std::string& table, std::vector<std::string>& problems) {
  const std::string prefix = "table " + table + ": ";
  std::unique_ptr<hdb::THDBTable> component = NewTable(table);
  component->SetReadOnly(true);
  std::unique_ptr<hdb::THDBLocalCursor> bare;
  std::unique_ptr<TCheckWalk> walker;
  try {
    component->Open();
    walker = std::make_unique<TComponentWalk>(*component);
  } catch (const std::exception&) {
    bare = std::make_unique<hdb::THDBLocalCursor>(Session());
    bare->TableName = table;
    bare->ReadOnly = true;
    try {
      bare->OpenTable();
    } catch (const hdb::EHDBException& e) {
      problems.push_back(prefix + "cannot be opened: " + e.what());
      return;
    }
    walker = std::make_unique<TCursorWalk>(*bare);
  }
  hdb::THDBLocalCursor& c = bare ? *bare : LocalCursor(*component);
  std::vector<std::string> found;
  std::int64_t count = 0;
  try {
    found = c.Table()->CheckTable(Session().SessionID());
    count = c.GetRecordCount();
  } catch (const hdb::EHDBException& e) {
    found.push_back(e.what());
  }
  for (const std::string& p : found) problems.push_back(prefix + p);

  // Walks the records in one order; a walk longer than the records would never end on
  // a damaged tree, so it stops one past the count.
  auto walk = [&](const std::string& what, int indexNo) {
    std::int64_t visited = 0;
    hdb::RecordID previous;
    try {
      for (bool more = walker->First(indexNo < 0 ? std::string() : c.IndexDefs[indexNo].Name); more;
           more = walker->Next()) {
        const hdb::RecordID current = walker->Current();
        if (visited > 0 && indexNo >= 0 && walker->Compare(previous, current) >= 0) {
          problems.push_back(prefix + what + ": record " + RecordText(previous) + " comes before " +
                             RecordText(current) + " but does not sort before it");
          return;
        }
        if (++visited > count) break;
        previous = current;
      }
    } catch (const hdb::EHDBException& e) {
      if (IsCannotRetrieve(e))
        problems.push_back(prefix + what + ": record " + std::to_string(visited + 1) + " in its order cannot be read");
      else
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
    : database_(database), table_(database.OpenTable(table)) {
  try {
    info_ = DescribeCursor(LocalCursor(*table_));
  } catch (const hdb::EHDBException& e) {
    database_.RaiseUnreadable("table '" + table + "': " + e.what());
  }
  codec_ = std::make_unique<TRecordCodec>(*table_, info_);
  database_.Session().StartTransaction();
}

TTableInserter::~TTableInserter() {
  if (committed_) return;
  try {
    // A refused record is still pending: cancelling it drops what it held.
    table_->Close();
    if (database_.Session().InTransaction()) database_.Session().RollbackTransaction();
  } catch (const std::exception&) {
    // The file closes with the session, which drops what no commit wrote.
  }
}

std::string TTableInserter::Insert(const std::vector<std::optional<TFieldValue>>& values) {
  assert(values.size() == info_.Fields.size());
  hdb::THDBTable& t = *table_;
  try {
    t.BeginInsert();
    for (std::int32_t i = 0; i < static_cast<std::int32_t>(values.size()); ++i)
      if (const auto& v = values[static_cast<std::size_t>(i)]) codec_->Write(i, *v);
    t.PostRecord();
  } catch (const hdb::EHDBEngineError&) {
    hdb::THDBLocalCursor& c = LocalCursor(t);
    std::string reason = c.LastResult == hdb::wrErrorText ? c.LastErrorText : hdb::WriteResultText(c.LastResult);
    t.CancelRecord();
    return reason;
  } catch (const hdb::EHDBException& e) {
    database_.RaiseUnreadable("table '" + info_.Name + "': " + e.what());
  } catch (const hdb::EDatabaseError& e) {
    database_.RaiseUnreadable("table '" + info_.Name + "': " + e.what());
  }
  return {};
}

void TTableInserter::Commit() {
  try {
    database_.Session().CommitTransaction(true);
  } catch (const hdb::EHDBException& e) {
    throw TRefused{database_.File() + ": the import could not be committed: " + e.what()};
  }
  committed_ = true;
}

}  // namespace hdbtool
