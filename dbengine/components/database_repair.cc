#include "dbengine/components/database_repair.h"

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
  Copier(const std::string& fileName, const THDBRepairOptions& options) : fileName_(fileName), options_(options) {}

  std::string Run() {
    source_.DatabaseName = "Repair";
    source_.DatabaseFileName = fileName_;
    source_.Exclusive = true;
    {
      std::lock_guard<std::recursive_mutex> guard(THDBOpenDatabases::Instance().Lock());
      if (THDBOpenDatabases::Instance().Find(source_)) throw std::runtime_error("the database is in use");
    }
    source_.SetConnected(true);
    CheckSpace();

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

    std::vector<std::string> names;
    source_.GetTableNames(names);
    std::vector<std::unique_ptr<THDBLocalCursor>> sources;
    for (const std::string& name : names) {
      auto cursor = std::make_unique<THDBLocalCursor>(source_);
      cursor->TableName = name;
      cursor->ReadOnly = true;
      cursor->OpenTable();
      total_ += cursor->GetRecordCount();
      sources.push_back(std::move(cursor));
    }
    for (auto& cursor : sources) CopyTable(*cursor);
    sources.clear();
    target_.SetConnected(false);
    source_.SetConnected(false);
    fs::rename(copyName, fileName_);
    return warnings_;
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
    const int percent = total_ > 0 ? static_cast<int>(copied_ * 100 / total_) : 100;
    if (!force && percent == lastPercent_) return;
    lastPercent_ = percent;
    if (options_.Progress) options_.Progress(percent, table);
  }

  void CopyTable(THDBLocalCursor& in) {
    const std::string& name = in.TableName;
    Report(name, true);
    if (THDBDiskTableData* table = in.Table())
      for (const std::string& problem : table->CheckTable(in.Session))
        warnings_ += "Table '" + name + "': " + problem + "\n";

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

    out.BeginBatchUpdate();
    in.SetToBegin();
    for (;;) {
      in.CurrentRecord = from.data();
      const std::uint8_t r = in.GetRecord(gmNext);
      if (r == grEOF) break;
      if (r != grOK) throw std::runtime_error("a record of table '" + name + "' cannot be read");
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
        THDBLocalBLOBStream& reader = in.OpenBlob(field, false);
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(reader.Size()));
        reader.Read(bytes.data(), reader.Size());
        in.CloseBlob(field);
        THDBLocalBLOBStream& writer = out.OpenBlob(field, true);
        writer.SetSize(0);
        writer.Write(bytes.data(), static_cast<std::int64_t>(bytes.size()));
      }
      out.WriteRecord(true);
      if (out.LastResult != 0)
        throw std::runtime_error("a record of table '" + name + "' cannot be stored: " +
                                 (out.LastErrorText.empty() ? WriteResultText(out.LastResult) : out.LastErrorText));
      ++copied_;
      Report(name, false);
    }
    out.EndBatchUpdate();
    out.CloseTable();
    in.CloseTable();
  }

  std::string fileName_;
  const THDBRepairOptions& options_;
  THDBLocalSession source_;
  THDBLocalSession target_;
  std::int64_t total_ = 0;
  std::int64_t copied_ = 0;
  int lastPercent_ = -1;
  std::string warnings_;
};

}  // namespace

std::string RepairDatabaseFile(const std::string& fileName, const THDBRepairOptions& options) {
  std::string failure;
  try {
    Copier copier(fileName, options);
    return copier.Run();
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

}  // namespace hdb
