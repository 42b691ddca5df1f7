#include "tool_commands.h"

#include <charconv>
#include <filesystem>
#include <iomanip>
#include <map>
#include <optional>

#include "dbengine/storage/active_sessions_file.h"
#include "dbengine/storage/disk_database.h"
#include "dbengine/storage/disk_page_manager.h"
#include "dbengine/storage/free_space.h"
#include "dbengine/storage/hdb_exception.h"
#include "dbengine/storage/map_page.h"
#include "dbengine/storage/page_header.h"
#include "dbengine/storage/system_directory.h"
#include "dbengine/storage/table_list_file.h"

namespace hdbtool {

namespace {

long ParseNumber(const std::string& option, const std::string& text, long low, long high) {
  long value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value < low || value > high)
    throw UsageError{option + " needs a number from " + std::to_string(low) + " to " + std::to_string(high) +
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

}  // namespace

int Create(const std::vector<std::string>& args, std::ostream& out) {
  std::string file;
  long pageSize = hdb::DefaultPageSize, slots = hdb::DefaultMaxSessions, extentPages = hdb::DefaultExtentPageCount;
  bool force = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&]() -> const std::string& {
      if (i + 1 >= args.size()) throw UsageError{a + " needs a value"};
      return args[++i];
    };
    if (a == "--page-size") {
      pageSize = ParseNumber(a, value(), hdb::MinimumPageSize, 65535);
    } else if (a == "--slots") {
      slots = ParseNumber(a, value(), 1, 100000);
    } else if (a == "--extent-pages") {
      extentPages = ParseNumber(a, value(), 1, 1024);
    } else if (a == "--force") {
      force = true;
    } else if (!a.empty() && a[0] == '-') {
      throw UsageError{"unknown option " + a};
    } else if (file.empty()) {
      file = a;
    } else {
      throw UsageError{"create takes one file"};
    }
  }
  if (file.empty()) throw UsageError{"create needs a file"};
  std::error_code ec;
  if (std::filesystem::exists(file, ec) && !force) {
    throw ToolError{file + " exists; give --force to replace it"};
  }
  hdb::THDBDiskDatabaseData db(file);
  db.PageSize = static_cast<std::int32_t>(pageSize);
  db.MaxSessions = static_cast<std::int32_t>(slots);
  db.ExtentPageCount = static_cast<std::int32_t>(extentPages);
  db.CreateDatabase();
  out << "Created " << file << " (page size " << pageSize << ", " << slots << " connection slots)\n";
  return 0;
}

int Info(const std::vector<std::string>& args, std::ostream& out) {
  if (args.size() != 1 || args[0].empty() || args[0][0] == '-') throw UsageError{"info takes one file"};
  const std::string& file = args[0];
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
  out << "Table list: " << tables.size() << (tables.size() == 1 ? " entry" : " entries") << "\n";
  for (const auto& t : tables)
    out << "  " << t.Name << " id " << t.TableID << ", definition page " << t.DefinitionStartPageNo
        << ", state page " << t.StateStartPageNo << ", locks page " << t.LocksStartPageNo << "\n";
  out << "Sessions file: " << db.SessionsFile()->MaxSessions() << " slots\n";
  db.Close();
  return 0;
}

}  // namespace hdbtool
