// hdbtool: the command-line tool for database files. It finds the verb, parses its
// arguments and runs it; every failure is one line on standard error and the exit code
// of tool_errors.h.
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "dbengine/storage/hdb_exception.h"
#include "tool_errors.h"
#include "verb_table.h"

namespace {

// One line: a message that holds line breaks keeps them as blanks.
int Fail(const std::string& text, int exitCode) {
  std::string line = "hdbtool: " + text;
  for (char& ch : line)
    if (ch == '\n' || ch == '\r') ch = ' ';
  std::cerr << line << "\n";
  return exitCode;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace hdbtool;
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return Fail("no verb given (see 'hdbtool --help')", ExitUsage);
  std::string verbName = args[0];
  args.erase(args.begin());
  if (verbName == "--help" || verbName == "-h" || verbName == "help") {
    if (args.empty()) {
      std::cout << Overview();
      return ExitDone;
    }
    verbName = args[0];
    args = {"--help"};
  }
  if (verbName == "--version") {
    std::cout << "hdbtool " << HALVARIN_VERSION << "\n";
    return ExitDone;
  }
  const TVerb* verb = FindVerb(verbName);
  if (!verb) return Fail("unknown verb '" + verbName + "' (see 'hdbtool --help')", ExitUsage);
  try {
    const TParsedArgs parsed = ParseArguments(*verb, args);
    if (parsed.HelpAsked) {
      std::cout << VerbHelp(*verb);
      return ExitDone;
    }
    TToolStreams streams{std::cin, std::cout};
    return verb->Run(parsed, streams);
  } catch (const TUsageError& e) {
    return Fail(e.Verb + ": " + e.Text + " (see 'hdbtool " + e.Verb + " --help')", ExitUsage);
  } catch (const TUnreadable& e) {
    return Fail(e.Text, ExitUsage);
  } catch (const TRefused& e) {
    return Fail(e.Text, ExitProblems);
  } catch (const TProblemsFound& e) {
    return Fail(e.Text, ExitProblems);
  } catch (const hdb::EHDBException& e) {
    // Verbs name the file of every engine error they expect; this one came unexpected.
    return Fail(e.what(), ExitUsage);
  } catch (const std::exception& e) {
    return Fail(e.what(), ExitProblems);
  }
}
