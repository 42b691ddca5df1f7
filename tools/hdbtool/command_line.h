// The command line of the tool: the description of a verb (its operands, options and
// help text) and the parsing of a verb's arguments against it. Options may come before,
// between or after the operands, as "--name value" or "--name=value"; "--" ends the
// options and "-" is an operand (standard input where a verb reads a file).
//
// Plain values; parsing is a pure function.
#pragma once

#include <iosfwd>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace hdbtool {

struct TOption {
  std::string Name;       // "--index"
  std::string ValueName;  // "NAME"; empty for a flag
  std::string Help;
};

struct TParsedArgs {
  std::vector<std::string> Operands;
  std::map<std::string, std::string> Values;
  std::set<std::string> Flags;
  bool HelpAsked = false;

  bool Flag(const std::string& name) const { return Flags.count(name) != 0; }
  // The option's value; nullptr when not given.
  const std::string* Value(const std::string& name) const {
    auto it = Values.find(name);
    return it == Values.end() ? nullptr : &it->second;
  }
};

// What a verb reads and writes besides its files.
struct TToolStreams {
  std::istream& In;
  std::ostream& Out;
};

using TVerbHandler = int (*)(const TParsedArgs& args, TToolStreams& streams);

struct TVerb {
  std::string Name;
  std::vector<std::string> Operands;  // each one required, in order
  std::string Summary;                // one line for the overview
  std::string Description;            // the body of "VERB --help"
  std::vector<TOption> Options;
  TVerbHandler Run = nullptr;
};

// The verb's arguments (the words after the verb); TUsageError for an unknown option,
// a missing option value or the wrong number of operands. A "--help" anywhere only
// sets HelpAsked.
TParsedArgs ParseArguments(const TVerb& verb, const std::vector<std::string>& args);

// "hdbtool create FILE [--page-size N] [--force]"
std::string Synopsis(const TVerb& verb);
// The text of "hdbtool VERB --help".
std::string VerbHelp(const TVerb& verb);

}  // namespace hdbtool
