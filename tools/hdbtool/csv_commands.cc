// dump and import: a table's records as CSV (csv_format.h, field_text.h) and back.
#include <iostream>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <optional>

#include "csv_format.h"
#include "dbengine/platform/ansi_charset.h"
#include "dbengine/platform/codepage.h"
#include "field_text.h"
#include "table_access.h"
#include "tool_commands.h"
#include "tool_errors.h"

namespace hdbtool {

namespace {

// A cell as a message shows it: on one line and not too long.
std::string Shown(std::string_view text) {
  constexpr std::size_t Longest = 40;
  std::size_t cut = std::min(text.size(), Longest);
  // Never inside a UTF-8 sequence.
  while (cut < text.size() && cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  std::string shown;
  for (char ch : text.substr(0, cut)) shown += ch == '\n' ? std::string("\\n") : ch == '\r' ? std::string("\\r") : std::string(1, ch);
  return "'" + shown + (cut < text.size() ? "...'" : "'");
}

std::string Utf8(const std::string& ansi) { return hdb::platform::Win1252ToUtf8(ansi); }

// The field of each header cell.
std::vector<std::size_t> MapHeader(const std::vector<std::string>& header, const TTableInfo& table,
                                   const std::string& where) {
  std::vector<std::size_t> columns;
  std::vector<bool> named(table.Fields.size(), false);
  for (const std::string& cell : header) {
    const std::string name = hdb::platform::Utf8ToWin1252(cell);
    std::size_t found = table.Fields.size();
    for (std::size_t f = 0; f < table.Fields.size(); ++f)
      if (hdb::platform::AnsiSameText(table.Fields[f].Name, name)) found = f;
    if (cell.empty() || found == table.Fields.size())
      throw TRefused{where + " line 1: table " + Utf8(table.Name) + " has no field " + Shown(cell)};
    if (named[found]) throw TRefused{where + " line 1: the field " + Utf8(table.Fields[found].Name) + " is named twice"};
    named[found] = true;
    columns.push_back(found);
  }
  return columns;
}

}  // namespace

int RunDump(const TParsedArgs& args, TToolStreams& streams) {
  const std::string& file = args.Operands[0];
  const std::string table = hdb::platform::Utf8ToWin1252(args.Operands[1]);
  const std::string* index = args.Value("--index");
  TDatabaseAccess db(file, TAccessMode::Read);
  const TTableInfo info = db.Describe(table);
  TCsvWriter csv(streams.Out);
  // The header waits for the walk to start, which refuses an unknown index first.
  bool started = false;
  auto header = [&] {
    for (const TFieldInfo& f : info.Fields) csv.Cell(Utf8(f.Name));
    csv.EndRecord();
    started = true;
  };
  std::string cell, reason;
  std::int64_t record = 0;
  const std::string* filterText = args.Value("--filter");
  if (!filterText && (args.Flag("--case-insensitive") || args.Flag("--partial") || args.Flag("--explain")))
    throw TUsageError{"dump", "--case-insensitive, --partial and --explain need --filter"};
  TRecordFilter filter;
  if (filterText) {
    filter.Text = hdb::platform::Utf8ToWin1252(*filterText);
    filter.CaseInsensitive = args.Flag("--case-insensitive");
    filter.PartialCompare = args.Flag("--partial");
  }
  TWalkReport report;
  db.ForEachRecord(table, index ? hdb::platform::Utf8ToWin1252(*index) : std::string(),
                   [&](const std::vector<TFieldValue>& values) {
                     if (!started) header();
                     ++record;
                     for (std::size_t i = 0; i < values.size(); ++i) {
                       cell.clear();
                       if (!values[i].IsNull && !FormatFieldText(info.Fields[i], values[i], cell, reason))
                         throw TUnreadable{file + ": table " + Utf8(table) + ", record " + std::to_string(record) +
                                           ": " + Utf8(info.Fields[i].Name) + " " + reason};
                       csv.Cell(cell);
                     }
                     csv.EndRecord();
                   },
                   filterText ? &filter : nullptr, &report);
  if (!started) header();
  if (args.Flag("--explain"))
    std::cerr << "path: " << report.Path << "\nrecords read: " << report.RecordsRead << "\n";
  if (!csv.Flush()) throw TRefused{"standard output: the dump could not be written"};
  return ExitDone;
}

int RunImport(const TParsedArgs& args, TToolStreams& streams) {
  const std::string& file = args.Operands[0];
  const std::string table = hdb::platform::Utf8ToWin1252(args.Operands[1]);
  const std::string& csvFile = args.Operands[2];
  const bool fromInput = csvFile == "-";
  const std::string where = fromInput ? std::string("standard input") : csvFile;

  std::ifstream opened;
  if (!fromInput) {
    opened.open(csvFile, std::ios::binary);
    if (!opened) throw TUnreadable{csvFile + ": " + std::strerror(errno)};
  }
  std::istream& in = fromInput ? streams.In : opened;

  TDatabaseAccess db(file, TAccessMode::Write);
  TTableInserter inserter(db, table);
  const TTableInfo& info = inserter.Table();
  TCsvReader reader(in);
  std::vector<std::string> cells;
  std::int64_t imported = 0;
  try {
    if (!reader.Next(cells)) {
      if (reader.Failed()) throw TUnreadable{where + ": cannot be read"};
      throw TRefused{where + " is empty: its first line must name the fields"};
    }
    const std::vector<std::size_t> columns = MapHeader(cells, info, where);
    std::vector<std::optional<TFieldValue>> values(info.Fields.size());
    std::string reason;
    while (reader.Next(cells)) {
      const std::string line = where + " line " + std::to_string(reader.RecordLine());
      if (cells.size() != columns.size())
        throw TRefused{line + ": " + std::to_string(cells.size()) + (cells.size() == 1 ? " value" : " values") +
                     ", the header names " + std::to_string(columns.size())};
      for (std::size_t c = 0; c < columns.size(); ++c) {
        const TFieldInfo& field = info.Fields[columns[c]];
        std::optional<TFieldValue>& value = values[columns[c]];
        if (!value) value.emplace();
        if (cells[c].empty()) {
          value->IsNull = true;
        } else if (!ParseFieldText(field, cells[c], *value, reason)) {
          throw TRefused{line + ": " + Utf8(field.Name) + ": " + Shown(cells[c]) + " " + reason};
        }
      }
      reason = inserter.Insert(values);
      if (!reason.empty()) throw TRefused{line + ": " + Utf8(reason)};
      ++imported;
    }
    if (reader.Failed()) throw TUnreadable{where + ": cannot be read"};
  } catch (const TRefused& e) {
    // The transaction rolls back with the inserter: say so.
    throw TRefused{e.Text + "; nothing was imported"};
  } catch (const TCsvSyntaxError& e) {
    throw TRefused{where + " line " + std::to_string(e.Line) + ": " + e.Text + "; nothing was imported"};
  }
  inserter.Commit();
  streams.Out << "Imported " << imported << (imported == 1 ? " record" : " records") << " into " << Utf8(table)
              << " of " << file << "\n";
  return ExitDone;
}

}  // namespace hdbtool
