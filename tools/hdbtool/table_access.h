// TDatabaseAccess, the tool's one way to the tables and records of a database file:
// open a file for reading or writing, describe its tables, walk a table's records in
// natural or index order, insert and delete records inside one transaction, create
// tables, and run every consistency check the engine has. It reaches the file the way
// the program does, through a database component (THDBDatabase) and a table component
// (THDBTable) per table: walks are the component's navigation, inserts its edit cycle,
// filters its filter properties. Values cross this interface in the tool's own terms
// (TFieldValue), never as record buffers, so nothing else in the tool knows the
// engine's components or cursors.
//
// A TDatabaseAccess owns one database component connected to the file (and so keeps
// the file open); a TTableInserter owns the table component and the open transaction
// of one import. The tool is single-threaded: neither object is locked. Failures are
// TUnreadable (the file cannot be opened or read) or TRefused (tool_errors.h).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tool_errors.h"

namespace hdb {
class THDBDatabase;
class THDBTable;
class THDBLocalSession;
class THDBLocalCursor;
class THDBFieldDefs;
class THDBIndexDefs;
class THDBConstraintDefs;
}  // namespace hdb

namespace hdbtool {

// How the tool writes and reads a field's value.
enum class TValueKind : std::uint8_t {
  Text,       // single-byte text (Windows-1252), at most Capacity characters
  WideText,   // UTF-16 text, at most Capacity code units
  Integer,    // within [MinInteger, MaxInteger]
  Float,      // binary32, binary64 or x87 extended (FloatWidth)
  Logical,
  Currency,   // an amount held as binary64
  Date,       // day number, 0001-01-01 = 1
  Time,       // milliseconds since midnight
  DateTime,   // day number and milliseconds
  Bytes,      // Capacity raw bytes (a shorter value is padded with zero bytes)
  Blob,       // raw bytes of any length
  Memo,       // single-byte text of any length
  WideMemo,   // UTF-16 text of any length
};

enum class TFloatWidth : std::uint8_t { Single, Double, Extended };

struct TFieldInfo {
  std::string Name;
  std::string TypeWord;       // the engine's word for the declared type ("STRING")
  std::int32_t Size = 0;      // the declared size; 0 for types without one
  TValueKind Kind = TValueKind::Text;
  std::int32_t Capacity = 0;  // characters of texts, bytes of byte arrays
  std::int64_t MinInteger = 0;
  std::int64_t MaxInteger = 0;
  TFloatWidth FloatWidth = TFloatWidth::Double;
  bool Required = false;  // a NOT NULL constraint holds it
  bool Autoinc = false;
};

struct TIndexInfo {
  std::string Name;
  // Field names, each followed by " DESC" and " NO_CASE" where they apply.
  std::vector<std::string> Columns;
  bool Unique = false;
  bool Primary = false;
};

struct TTableInfo {
  std::string Name;
  std::vector<TFieldInfo> Fields;
  std::vector<TIndexInfo> Indexes;
  std::int64_t RecordCount = 0;
};

// One field's value. Integer carries integers, logicals (0 / 1), dates (the day
// number) and times; a date-time is Integer (its day) with Time. Bytes carries
// single-byte texts, memos and raw bytes; Wide the UTF-16 texts.
struct TFieldValue {
  bool IsNull = true;
  std::int64_t Integer = 0;
  std::int32_t Time = 0;
  long double Float = 0;  // exact for every width
  std::string Bytes;
  std::u16string Wide;
};

enum class TAccessMode { Read, Write };

// A filter text for a walk, with the two options of the filter language.
struct TRecordFilter {
  std::string Text;
  bool CaseInsensitive = false;
  bool PartialCompare = false;
};

// How a filtered walk found its records: "index NAME [range]" or "scan", and how many
// records the searches read to test them.
struct TWalkReport {
  std::string Path;
  std::int64_t RecordsRead = 0;
};

class TRecordCodec;

class TDatabaseAccess {
 public:
  // Opens an existing database file; TUnreadable when that fails.
  TDatabaseAccess(std::string file, TAccessMode mode);
  ~TDatabaseAccess();
  TDatabaseAccess(const TDatabaseAccess&) = delete;
  TDatabaseAccess& operator=(const TDatabaseAccess&) = delete;

  // A new database file with default parameters, replacing any file of that name,
  // left closed.
  static void CreateDatabase(const std::string& file);

  const std::string& File() const { return file_; }
  // Whether the file's last commit was interrupted.
  bool NeedsRepair() const;
  // The tables in the order of the table list.
  std::vector<std::string> TableNames();
  // TRefused for a table the file does not hold, TUnreadable when it cannot be opened.
  TTableInfo Describe(const std::string& table);
  void CreateTable(const std::string& table, const hdb::THDBFieldDefs& fields, const hdb::THDBIndexDefs& indexes,
                   const hdb::THDBConstraintDefs& constraints);

  // Every record of the table, in natural order or (index not empty) in the order of
  // the named index; visit sees the values of all fields in field order. TRefused for
  // an unknown table or index, TUnreadable when a record cannot be read.
  // With a filter only the records that pass it, in the same order (a text that does
  // not parse is TUnreadable with the parser's message); report, when given, says how
  // the filtered walk found them.
  void ForEachRecord(const std::string& table, const std::string& index,
                     const std::function<void(const std::vector<TFieldValue>&)>& visit,
                     const TRecordFilter* filter = nullptr, TWalkReport* report = nullptr);

  // Deletes the records of the table that pass the filter, in one transaction of the
  // session: all of them or (on a failure, TRefused) none. Returns how many went. A
  // filter text that does not parse is TUnreadable with the parser's message.
  std::int64_t DeleteRecords(const std::string& table, const TRecordFilter& filter);

  // Every consistency check, one line per problem; empty when the file is sound. The
  // free-space maps, then per table: its definition and state, its record pages
  // against the page index and the record count, every index's tree, its entries
  // against the records, and the order of the records as the index walks them.
  std::vector<std::string> Check();

 private:
  friend class TTableInserter;
  // The engine session of the database component.
  hdb::THDBLocalSession& Session() const;
  // TRefused, naming the tables there are, when the file holds no such table.
  void RequireTable(const std::string& table);
  // A table component on the table, closed.
  std::unique_ptr<hdb::THDBTable> NewTable(const std::string& table) const;
  // Why a table component could not be opened: the table itself does not open, the
  // filter text does not parse, or the first record (which opening shows) cannot be
  // read.
  struct TOpenFailure {
    std::string Text;
    bool TableOpens = false;
    bool BadFilter = false;
    bool CannotRetrieve = false;
  };
  // A table component on the table, in the order of `index` (empty: natural order)
  // and with the filter, opened; nullptr with the failure when it cannot be, and then
  // (when asked for and the table opens) a bare cursor on it in `bare`. TRefused when
  // the file holds no such table.
  std::unique_ptr<hdb::THDBTable> TryOpenTable(const std::string& table, TOpenFailure& failure,
                                               std::unique_ptr<hdb::THDBLocalCursor>* bare = nullptr,
                                               const std::string& index = std::string(),
                                               const TRecordFilter* filter = nullptr);
  // The same, with TUnreadable for a table that cannot be opened.
  std::unique_ptr<hdb::THDBTable> OpenTable(const std::string& table);
  // The failure of a walk's open as the walk reports it.
  [[noreturn]] void RaiseOpenFailure(const std::string& table, const TOpenFailure& failure) const;
  [[noreturn]] void RaiseUnreadable(const std::string& what) const;
  void CheckTable(const std::string& table, std::vector<std::string>& problems);

  std::string file_;
  std::unique_ptr<hdb::THDBDatabase> database_;
};

// The inserts of one import, inside one transaction of the database's session: either
// every record arrives (Commit) or none (the destructor rolls back).
class TTableInserter {
 public:
  TTableInserter(TDatabaseAccess& database, const std::string& table);
  ~TTableInserter();
  TTableInserter(const TTableInserter&) = delete;
  TTableInserter& operator=(const TTableInserter&) = delete;

  const TTableInfo& Table() const { return info_; }
  // Inserts one record: a field without a value (nullopt) takes its default. The
  // record is checked as the engine checks every posted record (required fields,
  // constraints, unique indexes); a refusal returns its reason and stores nothing,
  // success returns "".
  std::string Insert(const std::vector<std::optional<TFieldValue>>& values);
  void Commit();

 private:
  TDatabaseAccess& database_;
  std::unique_ptr<hdb::THDBTable> table_;
  TTableInfo info_;
  std::unique_ptr<TRecordCodec> codec_;
  bool committed_ = false;
};

}  // namespace hdbtool
