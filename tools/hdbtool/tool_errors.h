// The outcomes of a verb that are not success, each with its exit code. Every one is
// reported as one line on standard error; the texts name the file they are about.
#pragma once

#include <string>

namespace hdbtool {

inline constexpr int ExitDone = 0;
inline constexpr int ExitProblems = 1;  // problems found, or the tool refused
inline constexpr int ExitUsage = 2;     // a wrong command line, or a file that cannot be read

// A mistake in the command line (exit 2); the verb is empty for the tool as a whole.
struct TUsageError {
  std::string Verb;
  std::string Text;
};
// A database or input file that cannot be opened or read (exit 2).
struct TUnreadable {
  std::string Text;
};
// The tool refuses what it was asked to do (exit 1).
struct TRefused {
  std::string Text;
};
// A verb that examines a file found problems, already listed in its report (exit 1).
struct TProblemsFound {
  std::string Text;
};

}  // namespace hdbtool
