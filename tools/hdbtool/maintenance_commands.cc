// delete and repair: the verbs that change a file's records without CSV, pruning a
// table by a filter and saving what can still be read of a damaged file.
#include <filesystem>
#include <ostream>
#include <sstream>

#include "dbengine/components/database_repair.h"
#include "dbengine/platform/codepage.h"
#include "dbengine/storage/error_messages.h"
#include "dbengine/storage/hdb_exception.h"
#include "table_access.h"
#include "tool_commands.h"
#include "tool_errors.h"

namespace hdbtool {

namespace {

std::string Utf8(const std::string& ansi) { return hdb::platform::Win1252ToUtf8(ansi); }

std::string Records(std::int64_t n) { return std::to_string(n) + (n == 1 ? " record" : " records"); }

std::string PageList(const std::vector<std::int32_t>& pages) {
  std::string text;
  for (std::size_t i = 0; i < pages.size(); ++i) text += (i ? ", " : "") + std::to_string(pages[i]);
  return text;
}

}  // namespace

int RunDelete(const TParsedArgs& args, TToolStreams& streams) {
  const std::string& file = args.Operands[0];
  const std::string table = hdb::platform::Utf8ToWin1252(args.Operands[1]);
  const std::string* text = args.Value("--filter");
  // Without a filter every record would go: that is never asked for by leaving it out.
  if (!text) throw TUsageError{"delete", "needs --filter TEXT"};
  TRecordFilter filter;
  filter.Text = hdb::platform::Utf8ToWin1252(*text);
  filter.CaseInsensitive = args.Flag("--case-insensitive");
  filter.PartialCompare = args.Flag("--partial");
  TDatabaseAccess db(file, TAccessMode::Write);
  std::int64_t deleted = 0;
  try {
    deleted = db.DeleteRecords(table, filter);
  } catch (const TRefused& e) {
    throw TRefused{e.Text + "; nothing was deleted"};
  }
  streams.Out << "Deleted " << Records(deleted) << " from " << Utf8(table) << " of " << file << "\n";
  return ExitDone;
}

int RunRepair(const TParsedArgs& args, TToolStreams& streams) {
  const std::string& file = args.Operands[0];
  const std::string backup = file + ".bak";
  std::error_code ec;
  if (std::filesystem::exists(backup, ec) && !args.Flag("--force"))
    throw TRefused{backup + " exists; give --force to replace it"};
  // A file that cannot be opened at all is left as it is, with the reason.
  {
    TDatabaseAccess probe(file, TAccessMode::Read);
    probe.TableNames();
  }
  hdb::THDBRepairOptions options;
  options.Salvage = true;
  options.BackupName = backup;
  hdb::THDBRepairReport report;
  try {
    hdb::RepairDatabaseFile(file, options, report);
  } catch (const hdb::EHDBException& e) {
    if (e.NativeError() == hdb::Errors::RepairFailed.Code) throw TRefused{e.Message() + "; nothing was changed"};
    throw TRefused{file + ": " + e.what() + "; nothing was changed"};
  }

  std::ostream& out = streams.Out;
  out << "Repaired " << file << "; the original is kept as " << backup << "\n";
  std::int64_t lostPages = 0, refused = 0;
  for (const hdb::THDBRepairTableReport& t : report.Tables) {
    out << "  " << Utf8(t.Name) << ": ";
    if (t.Saved == t.Counted)
      out << Records(t.Saved) << " saved";
    else
      out << t.Saved << " of " << Records(t.Counted) << " saved";
    if (!t.UnreadablePages.empty())
      out << "; record " << (t.UnreadablePages.size() == 1 ? "page" : "pages") << " that could not be read: "
          << PageList(t.UnreadablePages);
    out << "\n";
    for (const std::string& r : t.Refused) out << "    not saved: " << Utf8(r) << "\n";
    lostPages += static_cast<std::int64_t>(t.UnreadablePages.size());
    refused += static_cast<std::int64_t>(t.Refused.size());
  }
  if (!report.Warnings.empty()) {
    out << "Damage found in the original:\n";
    std::istringstream lines(report.Warnings);
    std::string line;
    while (std::getline(lines, line)) out << "  " << Utf8(line) << "\n";
  }
  if (lostPages > 0 || refused > 0) {
    std::string lost;
    if (lostPages > 0) lost = "the records of " + std::to_string(lostPages) + (lostPages == 1 ? " page" : " pages");
    if (refused > 0) lost += (lost.empty() ? "" : " and ") + Records(refused);
    throw TProblemsFound{file + ": repaired, but " + lost + " could not be saved; the original is kept as " + backup};
  }
  return ExitDone;
}

}  // namespace hdbtool
