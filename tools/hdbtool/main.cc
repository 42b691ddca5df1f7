// hdbtool: the command-line tool for database files. Every failure is one line on
// standard error and a non-zero exit.
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "dbengine/storage/hdb_exception.h"
#include "tool_commands.h"

namespace {

constexpr const char* Usage =
    "usage: hdbtool create FILE [--page-size N] [--slots N] [--extent-pages N] [--force]\n"
    "       hdbtool info FILE\n";

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty() || args[0] == "--help" || args[0] == "-h") {
    std::cout << Usage;
    return args.empty() ? 2 : 0;
  }
  const std::string verb = args[0];
  args.erase(args.begin());
  try {
    if (verb == "create") return hdbtool::Create(args, std::cout);
    if (verb == "info") return hdbtool::Info(args, std::cout);
    throw hdbtool::UsageError{"unknown command '" + verb + "'"};
  } catch (const hdbtool::UsageError& e) {
    std::cerr << "hdbtool: " << e.Text << "\n" << Usage;
    return 2;
  } catch (const hdbtool::ToolError& e) {
    std::cerr << "hdbtool: " << e.Text << "\n";
    return 1;
  } catch (const hdb::EHDBException& e) {
    std::cerr << "hdbtool: " << e.what() << "\n";
    return 1;
  } catch (const std::exception& e) {
    std::cerr << "hdbtool: " << e.what() << "\n";
    return 1;
  }
}
