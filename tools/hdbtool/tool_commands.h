// The verbs of the database tool. Each writes its report to `out` and returns the
// process exit code; engine errors propagate to the caller, which prints them.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace hdbtool {

int Create(const std::vector<std::string>& args, std::ostream& out);
int Info(const std::vector<std::string>& args, std::ostream& out);

// A mistake in the command line: printed with the usage.
struct UsageError {
  std::string Text;
};

// A refusal of the tool itself (not of the engine): printed as it stands.
struct ToolError {
  std::string Text;
};

}  // namespace hdbtool
