#include "dbengine/components/database_repair.h"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "dbengine/cursor/blob_stream.h"
#include "dbengine/cursor/cursor.h"
#include "dbengine/cursor/local_session.h"
#include "dbengine/cursor/open_databases.h"
#include "dbengine/storage/disk_database.h"
#include "dbengine/storage/free_space_check.h"
#include "dbengine/storage/hdb_exception.h"
#include "dbengine/tables/constraint_defs.h"
#include "dbengine/tables/data_types.h"
#include "dbengine/tables/disk_table_data.h"
#include "dbengine/tables/navigation_request.h"
#include "dbengine/tables/null_bitmap.h"

namespace hdb {

namespace {

namespace fs = std::filesystem;

// The constraints to hand to the new table: a unique or primary constraint that its
// index yields is made again by the new table from that index, so only the others go.
void OwnConstraints(const THDBConstraintDefs& all, const THDBIndexDefs& indexes, const std::string& tableName,
                    THDBConstraintDefs& own) {
  for (int i = 0; i < all.Count(); ++i) {
    const THDBConstraintDef& c = all[i];
    if (c.ConstraintKind == ckUnique || c.ConstraintKind == ckPrimaryKey) {
      const auto& u = static_cast<const THDBConstraintDefUnique&>(c);
      const int index = indexes.FindByName(u.IndexRef.Name);
      if (index >= 0 && THDBConstraintDefUnique::FromIndex(indexes[index], tableName)->Name == c.Name) continue;
    }
    own.Add(c.Clone());
  }
}

class Copier {
 public:
  Copier(const std::string& fileName, const THDBRepairOptions& options, THDBRepairReport& report)
      : fileName_(fileName), options_(options), report_(report) {}

  void Run() {
    source_.DatabaseName = "Repair";
    source_.DatabaseFileName = fileName_;
    source_.Exclusive = true;
    {
      std::lock_guard<std::recursive_mutex> guard(THDBOpenDatabases::Instance().Lock());
      if (THDBOpenDatabases::Instance().Find(source_)) throw std::runtime_error("the database is in use");
    }
    source_.SetConnected(true);
    CheckSpace();

    // Every table of the original must open before anything is made: a table whose
    // definition cannot be read would be lost by the copy.
    std::vector<std::string> names;
    source_.GetTableNames(names);
    std::vector<std::unique_ptr<THDBLocalCursor>> sources;
    for (const std::string& name : names) {
      auto cursor = std::make_unique<THDBLocalCursor>(source_);
      cursor->TableName = name;
      cursor->ReadOnly = true;
      try {
        cursor->OpenTable();
      } catch (const EHDBException& e) {
        throw std::runtime_error("table '" + name + "' cannot be opened: " + e.what());
      }
      total_ += cursor->GetRecordCount();
      sources.push_back(std::move(cursor));
    }

    const std::string copyName = RepairCopyName(fileName_);
    std::error_code ec;
    fs::remove(copyName, ec);
    THDBLocalSession maker;
    maker.DatabaseName = "Repair";
    maker.DatabaseFileName = copyName;
    maker.PageSize = options_.PageSize > 0 ? options_.PageSize : source_.PageSize;
    maker.ExtentPageCount = options_.ExtentPageCount > 0 ? options_.ExtentPageCount : source_.ExtentPageCount;
    maker.MaxConnections = options_.MaxConnections > 0 ? options_.MaxConnections : source_.MaxConnections;
    maker.CreateDatabase();
    target_.DatabaseName = "Repair";
    target_.DatabaseFileName = copyName;
    target_.Exclusive = true;
    target_.SetConnected(true);

    for (auto& cursor : sources) CopyTable(*cursor);
    sources.clear();
    VerifyCopy();
    target_.SetConnected(false);
    source_.SetConnected(false);
    PutInPlace(copyName);
  }

 private:
  void CheckSpace() {
    std::error_code ec;
    const fs::path path = fs::absolute(fileName_, ec);
    const std::uintmax_t need = fs::file_size(path, ec);
    if (ec) return;
    const fs::space_info space = fs::space(path.parent_path(), ec);
    if (!ec && space.available < need) RaiseHDB(Errors::NotEnoughDiskSpace);
  }

  void Report(const std::string& table, bool force) {
    const int percent = total_ > 0 ? static_cast<int>(std::min<std::int64_t>(copied_ * 100 / total_, 100)) : 100;
    if (!force && percent == lastPercent_) return;
    lastPercent_ = percent;
    if (options_.Progress) options_.Progress(percent, table);
  }

  void CopyTable(THDBLocalCursor& in) {
    const std::string& name = in.TableName;
    THDBRepairTableReport& table = report_.Tables.emplace_back();
    table.Name = name;
    table.Counted = in.GetRecordCount();
    Report(name, true);
    THDBDiskTableData* data = in.Table();
    if (data)
      for (const std::string& problem : data->CheckTable(in.Session))
        report_.Warnings += "Table '" + name + "': " + problem + "\n";

    THDBLocalCursor out(target_);
    out.TableName = name;
    THDBConstraintDefs constraints;
    OwnConstraints(in.ConstraintDefs, in.IndexDefs, name, constraints);
    out.CreateTable(in.TableFields, in.IndexDefs, constraints);
    out.OpenTable();
    if (out.DataSize != in.DataSize) throw std::runtime_error("the copy of table '" + name + "' has another layout");

    std::vector<std::uint8_t> from = in.AllocRecordBuffer();
    std::vector<std::uint8_t> to = out.AllocRecordBuffer();
    std::vector<std::int32_t> blobFields;
    for (int i = 0; i < in.TableFields.Count(); ++i)
      if (IsBlobBaseType(in.TableFields[i].BaseType)) blobFields.push_back(i);

    // The record in `from` (memory form) goes into the copy.
    auto copyOne = [&](RecordID id) {
      out.InitRecordBuffer(to.data(), false);
      std::copy(from.begin(), from.begin() + static_cast<std::ptrdiff_t>(in.DataSize), to.begin());
      out.CurrentRecord = to.data();
      for (std::int32_t field : blobFields) {
        // The slot names the original's value; the copy gets the bytes themselves.
        const bool present = !NullBitmap::IsNull(from.data(), field);
        const std::int32_t offset = out.TableFields[field].MemoryOffset;
        std::fill(to.begin() + offset, to.begin() + offset + out.TableFields[field].MemoryDataSize, 0);
        NullBitmap::SetNull(to.data(), field);
        if (!present) continue;
        std::vector<std::uint8_t> bytes;
        try {
          in.CurrentRecord = from.data();
          THDBLocalBLOBStream& reader = in.OpenBlob(field, false);
          bytes.resize(static_cast<std::size_t>(reader.Size()));
          reader.Read(bytes.data(), reader.Size());
          in.CloseBlob(field);
        } catch (const EHDBException& e) {
          if (!options_.Salvage) throw;
          in.FreeBlobs(false);
          // The record is saved without the value that is lost.
          report_.Warnings += "Table '" + name + "': record (" + std::to_string(id.PageNo) + ", " +
                              std::to_string(id.SlotNo) + "): field " + in.TableFields[field].Name +
                              " cannot be read and stays empty: " + e.what() + "\n";
          continue;
        }
        out.CurrentRecord = to.data();
        THDBLocalBLOBStream& writer = out.OpenBlob(field, true);
        writer.SetSize(0);
        writer.Write(bytes.data(), static_cast<std::int64_t>(bytes.size()));
      }
      out.CurrentRecord = to.data();
      out.WriteRecord(true);
      if (out.LastResult != 0) {
        const std::string why = out.LastErrorText.empty() ? WriteResultText(out.LastResult) : out.LastErrorText;
        if (!options_.Salvage) throw std::runtime_error("a record of table '" + name + "' cannot be stored: " + why);
        out.FreeBlobs(false);
        table.Refused.push_back("record (" + std::to_string(id.PageNo) + ", " + std::to_string(id.SlotNo) + "): " + why);
        return;
      }
      ++table.Saved;
      ++copied_;
      Report(name, false);
    };

    out.BeginBatchUpdate();
    if (options_.Salvage && data) {
      data->SalvageRecords(
          in.Session,
          [&](RecordID id, const std::uint8_t* record) {
            std::copy(record, record + in.DataSize, from.begin());
            in.SetBufferRecordID(from.data(), id, BookmarkCurrent);
            copyOne(id);
          },
          table.UnreadablePages);
    } else {
      in.SetToBegin();
      for (;;) {
        in.CurrentRecord = from.data();
        const std::uint8_t r = in.GetRecord(gmNext);
        if (r == grEOF) break;
        if (r != grOK) throw std::runtime_error("a record of table '" + name + "' cannot be read");
        copyOne(in.Position);
      }
    }
    out.EndBatchUpdate();
    out.CloseTable();
    in.CloseTable();
  }

  // The copy must be sound before it may replace anything: its free-space maps, and
  // every table with the records that went into it.
  void VerifyCopy() {
    std::vector<std::string> problems = CheckFreeSpaceMaps(*target_.DatabaseData()->PageManager());
    for (const THDBRepairTableReport& table : report_.Tables) {
      THDBLocalCursor check(target_);
      check.TableName = table.Name;
      check.ReadOnly = true;
      check.OpenTable();
      for (const std::string& p : check.Table()->CheckTable(check.Session))
        problems.push_back("table '" + table.Name + "': " + p);
      if (check.GetRecordCount() != table.Saved)
        problems.push_back("table '" + table.Name + "' holds " + std::to_string(check.GetRecordCount()) +
                           " records, " + std::to_string(table.Saved) + " were copied");
      check.CloseTable();
    }
    if (!problems.empty()) throw std::runtime_error("the copy is not consistent: " + problems.front());
  }

  void PutInPlace(const std::string& copyName) {
    if (options_.BackupName.empty()) {
      fs::rename(copyName, fileName_);
      return;
    }
    fs::rename(fileName_, options_.BackupName);
    std::error_code ec;
    fs::rename(copyName, fileName_, ec);
    if (ec) {
      // The original goes back to its name; the copy is removed by the caller.
      std::error_code back;
      fs::rename(options_.BackupName, fileName_, back);
      throw fs::filesystem_error("the copy cannot take the original's place", copyName, fileName_, ec);
    }
  }

  std::string fileName_;
  const THDBRepairOptions& options_;
  THDBRepairReport& report_;
  THDBLocalSession source_;
  THDBLocalSession target_;
  std::int64_t total_ = 0;
  std::int64_t copied_ = 0;
  int lastPercent_ = -1;
};

}  // namespace

void RepairDatabaseFile(const std::string& fileName, const THDBRepairOptions& options, THDBRepairReport& report) {
  std::string failure;
  report = {};
  try {
    Copier copier(fileName, options, report);
    copier.Run();
    return;
  } catch (const EHDBException& e) {
    if (e.NativeError() == Errors::NotEnoughDiskSpace.Code) {
      std::error_code ec;
      fs::remove(RepairCopyName(fileName), ec);
      throw;
    }
    failure = e.what();
  } catch (const std::exception& e) {
    failure = e.what();
  }
  std::error_code ec;
  fs::remove(RepairCopyName(fileName), ec);
  RaiseHDB(Errors::RepairFailed, fileName, failure);
}

std::string RepairDatabaseFile(const std::string& fileName, const THDBRepairOptions& options) {
  THDBRepairReport report;
  RepairDatabaseFile(fileName, options, report);
  return report.Warnings;
}

}  // namespace hdb
