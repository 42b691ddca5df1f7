#include "tool_commands.h"

#include <charconv>
#include <filesystem>
#include <iomanip>
#include <map>
#include <optional>
#include <ostream>

#include "dbengine/platform/codepage.h"
#include "dbengine/storage/active_sessions_file.h"
#include "dbengine/storage/disk_database.h"
#include "dbengine/storage/disk_page_manager.h"
#include "dbengine/storage/free_space.h"
#include "dbengine/storage/hdb_exception.h"
#include "dbengine/storage/map_page.h"
#include "dbengine/storage/page_header.h"
#include "dbengine/storage/system_directory.h"
#include "dbengine/storage/table_list_file.h"
#include "dbengine/tables/constraint_defs.h"
#include "dbengine/tables/field_defs.h"
#include "dbengine/tables/index_defs.h"
#include "store/service_table.h"
#include "table_access.h"
#include "tool_errors.h"

namespace hdbtool {

namespace {

long ParseNumber(const std::string& verb, const std::string& option, const std::string& text, long low, long high) {
  long value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value < low || value > high)
    throw TUsageError{verb, option + " needs a number from " + std::to_string(low) + " to " + std::to_string(high) +
                                ", not '" + text + "'"};
  return value;
}

const char* KindName(std::uint8_t kind) {
  switch (kind) {
    case hdb::sfTableList:
      return "table list";
    case hdb::sfActiveSessions:
      return "active sessions file";
    default:
      return "unknown";
  }
}

std::string TypeName(std::uint16_t type) { return type <= hdb::ptTableIndex ? hdb::PageTypeName(type) : "Invalid"; }

// A new file is made only where none is, unless the caller may replace it.
void RefuseExisting(const std::string& file, bool force) {
  std::error_code ec;
  if (std::filesystem::exists(file, ec) && !force) throw TRefused{file + " exists; give --force to replace it"};
}

std::string Plural(std::int64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string Utf8(const std::string& ansi) { return hdb::platform::Win1252ToUtf8(ansi); }

// The file header, page census, system directory, table list and sessions file.
void PrintFileLayout(const std::string& file, std::ostream& out) {
  hdb::THDBDiskDatabaseData db(file);
  db.ReadOnly = true;  // looking changes nothing
  const bool needsRepair = db.Open(false);
  hdb::THDBDiskPageManager& pm = *db.PageManager();
  const hdb::THDBFileHeader& h = pm.Header();

  out << "File: " << file << "\n";
  out << "Header position: " << pm.HeaderPosition() << "\n";
  out << "Format version: " << std::fixed << std::setprecision(2) << h.FormatVersion() << "\n";
  out << "Page size: " << h.PageSize() << "\n";
  out << "Extent page count: " << h.ExtentPageCount() << "\n";
  out << "Total page count: " << h.TotalPageCount() << "\n";
  out << "Last used page: " << h.LastUsedPageNo() << "\n";
  out << "Change counter: " << h.ChangeCounter() << "\n";
  out << "Database state: " << static_cast<int>(h.DatabaseState())
      << (h.DatabaseState() == hdb::DatabaseStateConsistent ? " (consistent)" : " (a commit was interrupted)") << "\n";
  out << "Encrypted: " << (h.EncryptedFlag() ? "yes" : "no") << "\n";
  out << "Needs repair: " << (needsRepair ? "yes" : "no") << "\n";

  const std::int64_t fileSize = pm.File().GetSize();
  const std::int64_t pagesInFile = (fileSize - pm.PagesStart()) / pm.PageSize();
  out << "File size: " << fileSize << " bytes (" << pagesInFile << " pages)\n";

  // A page is in use when its free-space map bit is set; a freed or never written
  // page keeps whatever its bytes say, which is no type.
  constexpr int FreePage = -1;
  const hdb::THDBDatabaseFreeSpaceManager& freeSpace = *pm.FreeSpace();
  std::map<std::uint16_t, std::int32_t> counts;
  std::int32_t freeCount = 0;
  std::vector<int> types;
  std::optional<hdb::THDBMapPage> pfs;
  const std::int32_t total = std::min<std::int64_t>(h.TotalPageCount(), pagesInFile);
  for (std::int32_t p = 0; p < total; ++p) {
    const std::int32_t pfsNo = p / freeSpace.PagesPerPFS() * freeSpace.PagesPerPFS();
    if (!pfs || pfs->PageNo() != pfsNo) pfs.emplace(pm, pfsNo, hdb::ptPFS, hdb::Errors::PFSPageTypeWhileTesting);
    if (!pfs->Bit(p - pfsNo)) {
      ++freeCount;
      types.push_back(FreePage);
      continue;
    }
    std::uint8_t bytes[2];
    pm.ReadPageRange(bytes, p, 2, hdb::PageHeaderLayout::PageType::offset);
    const std::uint16_t type = hdb::le::Load<std::uint16_t>(bytes, 0);
    ++counts[type];
    types.push_back(type);
  }
  auto name = [](int type) {
    return type == FreePage ? std::string("Free") : TypeName(static_cast<std::uint16_t>(type));
  };
  out << "Page types:\n";
  for (const auto& [type, count] : counts) out << "  " << TypeName(type) << ": " << count << "\n";
  if (freeCount > 0) out << "  " << name(FreePage) << ": " << freeCount << "\n";
  if (types.size() <= 64) {
    out << "Pages:\n";
    for (std::size_t p = 0; p < types.size(); ++p) out << "  " << p << " " << name(types[p]) << "\n";
  }

  out << "System directory:\n";
  for (const auto& e : db.SystemDirectory()->Entries())
    out << "  kind " << static_cast<int>(e.Kind) << " (" << KindName(e.Kind) << ") at page " << e.StartPageNo << "\n";
  const auto& tables = db.TableList()->Entries();
  out << "Table list: " << Plural(static_cast<std::int64_t>(tables.size()), "entry", "entries") << "\n";
  for (const auto& t : tables)
    out << "  " << Utf8(t.Name) << " id " << t.TableID << ", definition page " << t.DefinitionStartPageNo
        << ", state page " << t.StateStartPageNo << ", locks page " << t.LocksStartPageNo << "\n";
  out << "Sessions file: " << db.SessionsFile()->MaxSessions() << " slots\n";
  db.Close();
}

void PrintTable(const TTableInfo& table, std::ostream& out) {
  out << "  " << Utf8(table.Name) << ": " << Plural(table.RecordCount, "record", "records") << "\n";
  for (std::size_t i = 0; i < table.Fields.size(); ++i) {
    const TFieldInfo& f = table.Fields[i];
    out << "    field " << i << " " << Utf8(f.Name) << " " << f.TypeWord;
    if (f.Size > 0) out << "(" << f.Size << ")";
    if (f.Required) out << " required";
    out << "\n";
  }
  for (const TIndexInfo& index : table.Indexes) {
    out << "    index " << Utf8(index.Name) << ":";
    for (std::size_t c = 0; c < index.Columns.size(); ++c) out << (c ? ", " : " ") << Utf8(index.Columns[c]);
    if (index.Primary) out << " (primary)";
    else if (index.Unique) out << " (unique)";
    out << "\n";
  }
}

}  // namespace

int RunCreate(const TParsedArgs& args, TToolStreams& streams) {
  const std::string& file = args.Operands[0];
  long pageSize = hdb::DefaultPageSize, slots = hdb::DefaultMaxSessions, extentPages = hdb::DefaultExtentPageCount;
  if (const std::string* v = args.Value("--page-size")) pageSize = ParseNumber("create", "--page-size", *v, hdb::MinimumPageSize, 65535);
  if (const std::string* v = args.Value("--slots")) slots = ParseNumber("create", "--slots", *v, 1, 100000);
  if (const std::string* v = args.Value("--extent-pages")) extentPages = ParseNumber("create", "--extent-pages", *v, 1, 1024);
  RefuseExisting(file, args.Flag("--force"));
  hdb::THDBDiskDatabaseData db(file);
  db.PageSize = static_cast<std::int32_t>(pageSize);
  db.MaxSessions = static_cast<std::int32_t>(slots);
  db.ExtentPageCount = static_cast<std::int32_t>(extentPages);
  try {
    db.CreateDatabase();
  } catch (const hdb::EHDBException& e) {
    throw TRefused{file + ": " + e.what()};
  }
  streams.Out << "Created " << file << " (page size " << pageSize << ", " << slots << " connection slots)\n";
  return ExitDone;
}

int RunCreateStore(const TParsedArgs& args, TToolStreams& streams) {
  const std::string& file = args.Operands[0];
  RefuseExisting(file, args.Flag("--force"));
  TDatabaseAccess::CreateDatabase(file);
  try {
    TDatabaseAccess db(file, TAccessMode::Write);
    hdb::THDBFieldDefs fields;
    hdb::THDBIndexDefs indexes;
    hdb::THDBConstraintDefs constraints;
    store::ServiceTableDefinitions(fields, indexes, constraints);
    db.CreateTable(store::ServiceTableName, fields, indexes, constraints);
  } catch (...) {
    // No half-made store is left behind.
    std::error_code ec;
    std::filesystem::remove(file, ec);
    throw;
  }
  streams.Out << "Created " << file << " with the table " << store::ServiceTableName << " and its index "
              << store::ServiceIndexName << "\n";
  return ExitDone;
}

int RunInfo(const TParsedArgs& args, TToolStreams& streams) {
  const std::string& file = args.Operands[0];
  try {
    PrintFileLayout(file, streams.Out);
  } catch (const hdb::EHDBException& e) {
    throw TUnreadable{file + ": " + e.what()};
  }
  TDatabaseAccess db(file, TAccessMode::Read);
  const std::vector<std::string> names = db.TableNames();
  streams.Out << "Tables:" << (names.empty() ? " none" : "") << "\n";
  int damaged = 0;
  for (const std::string& name : names) {
    try {
      PrintTable(db.Describe(name), streams.Out);
    } catch (const TUnreadable& e) {
      streams.Out << "  " << Utf8(name) << ": cannot be read (" << e.Text << ")\n";
      ++damaged;
    }
  }
  if (damaged > 0) throw TProblemsFound{file + ": " + Plural(damaged, "table", "tables") + " cannot be read"};
  return ExitDone;
}

int RunCheck(const TParsedArgs& args, TToolStreams& streams) {
  const std::string& file = args.Operands[0];
  TDatabaseAccess db(file, TAccessMode::Read);
  const std::vector<std::string> problems = db.Check();
  for (const std::string& p : problems) streams.Out << Utf8(p) << "\n";
  if (!problems.empty())
    throw TProblemsFound{file + ": " + Plural(static_cast<std::int64_t>(problems.size()), "problem", "problems") + " found"};
  streams.Out << file << ": no problems found\n";
  return ExitDone;
}

}  // namespace hdbtool
