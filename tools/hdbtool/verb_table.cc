#include "verb_table.h"

#include <algorithm>

#include "tool_commands.h"

namespace hdbtool {

namespace {

constexpr char CsvForm[] =
    "CSV form (RFC 4180): UTF-8 text, one record per line, lines ending with CRLF (a\n"
    "lone LF is accepted); the first line names the fields. Cells are separated by\n"
    "commas; a cell holding a comma, a double quote, CR or LF is enclosed in double\n"
    "quotes with its quotes doubled. An empty cell is NULL. Texts stand as they are;\n"
    "integers are decimal; floating values are the shortest text that reads back to\n"
    "the same value; logicals are True or False; dates yyyy-mm-dd; times hh:mm:ss and\n"
    "date-times yyyy-mm-dd hh:mm:ss, with .zzz when there are milliseconds; byte\n"
    "arrays and BLOBs hexadecimal digits. A dump read by import and dumped again gives\n"
    "the same bytes.\n";

std::vector<TVerb> MakeVerbs() {
  const TOption force{"--force", "", "replace an existing file"};
  return {
      {"create",
       {"FILE"},
       "make a new, empty database file",
       "Makes a new database file without tables: 4096-byte pages and 500 connection\n"
       "slots unless told otherwise. An existing file is replaced only with --force.\n",
       {{"--page-size", "N", "bytes per page (default 4096)"},
        {"--slots", "N", "connection slots (default 500)"},
        {"--extent-pages", "N", "pages the file grows by (default 8)"},
        force},
       RunCreate},
      {"create-store",
       {"FILE"},
       "make a new database file with the program's service record table",
       "Makes a new database file holding dsTable, the program's service record table:\n"
       "FG STRING(17), DAT DATE, MLG LARGEINT, THND WORD, NHND STRING(7) and\n"
       "SSTAT WORD, each required, and the index FGDAT over FG;DAT. An existing file is\n"
       "replaced only with --force.\n",
       {force},
       RunCreateStore},
      {"demo",
       {"DIR"},
       "fill a program folder with demo data and a simulated car",
       "Writes into DIR (made when missing) a Data.hdb with a few dozen vehicles and\n"
       "their service history, an App.cfg with a workshop's partner data, and\n"
       "ediabas-sim.ini, a simulated car that is one of the vehicles, its odometer a\n"
       "little beyond its last service (its head-unit memory, ediabas-sim.state, starts\n"
       "empty). Every demo is the same. Existing files are replaced only with --force.\n",
       {{"--force", "", "replace existing demo files"}},
       RunDemo},
      {"info",
       {"FILE"},
       "describe a database file and its tables",
       "Prints the file header, the page count and the page types, the system\n"
       "directory, the table list, the connection slots, and each table with its\n"
       "fields, indexes and record count. Changes nothing.\n",
       {},
       RunInfo},
      {"check",
       {"FILE"},
       "check a database file for consistency",
       "Runs every consistency check there is: the free-space maps; per table its\n"
       "definition and state, its record pages against the page index and the record\n"
       "count, each index's tree, its entries against the records, and the order of\n"
       "the records as the index walks them. Prints one line per problem. Changes\n"
       "nothing. Exit code 0 when the file is consistent, 1 when problems were found.\n",
       {},
       RunCheck},
      {"dump",
       {"FILE", "TABLE"},
       "write a table's records as CSV",
       std::string("Writes the records of TABLE to standard output as CSV, in the order they\n"
                   "are stored or, with --index, in the order of that index. With --filter only\n"
                   "the records that pass the filter text (for example FG='WBA...'), in the\n"
                   "same order; a text that does not parse gives the parser's message and exit\n"
                   "code 2. --explain adds two lines on standard error: the path the search\n"
                   "took (path: index NAME [key range], or path: scan) and records read: N.\n\n") +
           CsvForm,
       {{"--index", "NAME", "the order of this index"},
        {"--filter", "TEXT", "only the records that pass this filter"},
        {"--case-insensitive", "", "compare texts in the filter without regard to case"},
        {"--partial", "", "a text constant ending in * matches the values it begins"},
        {"--explain", "", "say on standard error how the records were found"}},
       RunDump},
      {"import",
       {"FILE", "TABLE", "CSV"},
       "add the records of a CSV file to a table",
       std::string("Adds the records of the CSV file (- reads standard input) to TABLE, in one\n"
                   "transaction. The header may name the fields in any order; a field it\n"
                   "leaves out takes its default. Each value is converted and checked as the\n"
                   "engine checks every record posted to the table (type, size, required\n"
                   "fields, constraints, unique indexes). The first bad line is reported with\n"
                   "its number and the reason, and then nothing is imported.\n\n") +
           CsvForm,
       {},
       RunImport},
      {"delete",
       {"FILE", "TABLE"},
       "delete the records of a table that pass a filter",
       "Deletes the records of TABLE that pass the filter text (for example\n"
       "FG='WBA...'), in one transaction: all of them or, should one fail, none. Prints\n"
       "how many were deleted. The indexes shrink with the records, and the pages freed\n"
       "are used again by later imports. A text that does not parse gives the parser's\n"
       "message and exit code 2.\n",
       {{"--filter", "TEXT", "the records to delete (required)"},
        {"--case-insensitive", "", "compare texts in the filter without regard to case"},
        {"--partial", "", "a text constant ending in * matches the values it begins"}},
       RunDelete},
      {"repair",
       {"FILE"},
       "copy every readable record into a fresh file that takes the original's place",
       "Copies every table of FILE, definitions and records, into a fresh file beside it\n"
       "(FILE.tmp), the copy the program makes of a file that was not closed correctly.\n"
       "The records are read page by page: those on the pages that can be read are\n"
       "saved, the indexes are built anew from them. Once the copy is complete and\n"
       "passes every check, the original is renamed FILE.bak and the copy takes its\n"
       "name; until then the original is not changed. Prints per table how many records\n"
       "were saved and which record pages could not be read. An existing FILE.bak is\n"
       "replaced only with --force. Exit code 0 when every record was saved, 1 when\n"
       "some were lost or the repair was refused, 2 when the file cannot be read.\n",
       {{"--force", "", "replace an existing FILE.bak"}},
       RunRepair},
  };
}

}  // namespace

const std::vector<TVerb>& Verbs() {
  static const std::vector<TVerb> verbs = MakeVerbs();
  return verbs;
}

const TVerb* FindVerb(const std::string& name) {
  const auto& verbs = Verbs();
  auto it = std::find_if(verbs.begin(), verbs.end(), [&](const TVerb& v) { return v.Name == name; });
  return it == verbs.end() ? nullptr : &*it;
}

std::string Overview() {
  std::string text =
      "usage: hdbtool VERB OPERANDS [OPTIONS]\n"
      "       hdbtool VERB --help\n"
      "\n"
      "Works on the program's database files (Data.hdb).\n"
      "\n"
      "Verbs:\n";
  std::size_t width = 0;
  std::vector<std::string> heads;
  for (const TVerb& v : Verbs()) {
    std::string head = v.Name;
    for (const std::string& o : v.Operands) head += " " + o;
    width = std::max(width, head.size());
    heads.push_back(head);
  }
  for (std::size_t i = 0; i < heads.size(); ++i)
    text += "  " + heads[i] + std::string(width - heads[i].size() + 2, ' ') + Verbs()[i].Summary + "\n";
  text +=
      "\n"
      "Exit codes: 0 done; 1 problems found or refused; 2 a wrong command line or a file\n"
      "that cannot be read. Every error is one line on standard error naming its file.\n";
  return text;
}

}  // namespace hdbtool
