#include "command_line.h"

#include <algorithm>

#include "tool_errors.h"

namespace hdbtool {

namespace {

std::string OperandList(const TVerb& verb) {
  std::string text;
  for (const std::string& o : verb.Operands) text += (text.empty() ? "" : " ") + o;
  return text;
}

}  // namespace

TParsedArgs ParseArguments(const TVerb& verb, const std::vector<std::string>& args) {
  TParsedArgs parsed;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (optionsEnded || a.size() < 2 || a[0] != '-') {
      parsed.Operands.push_back(a);
      continue;
    }
    if (a == "--") {
      optionsEnded = true;
      continue;
    }
    if (a == "--help" || a == "-h") {
      parsed.HelpAsked = true;
      continue;
    }
    const std::size_t equals = a.find('=');
    const std::string name = a.substr(0, equals);
    auto option = std::find_if(verb.Options.begin(), verb.Options.end(),
                             [&](const TOption& o) { return o.Name == name; });
    if (option == verb.Options.end()) throw TUsageError{verb.Name, "unknown option " + name};
    if (option->ValueName.empty()) {
      if (equals != std::string::npos) throw TUsageError{verb.Name, name + " takes no value"};
      parsed.Flags.insert(name);
    } else if (equals != std::string::npos) {
      parsed.Values[name] = a.substr(equals + 1);
    } else {
      if (i + 1 >= args.size()) throw TUsageError{verb.Name, name + " needs a value " + option->ValueName};
      parsed.Values[name] = args[++i];
    }
  }
  if (parsed.HelpAsked) return parsed;
  if (parsed.Operands.size() < verb.Operands.size())
    throw TUsageError{verb.Name, "needs " + OperandList(verb)};
  if (parsed.Operands.size() > verb.Operands.size())
    throw TUsageError{verb.Name, "takes only " + OperandList(verb) + ", not '" + parsed.Operands[verb.Operands.size()] + "'"};
  return parsed;
}

std::string Synopsis(const TVerb& verb) {
  std::string text = "hdbtool " + verb.Name;
  for (const std::string& o : verb.Operands) text += " " + o;
  for (const TOption& o : verb.Options) text += " [" + o.Name + (o.ValueName.empty() ? "" : " " + o.ValueName) + "]";
  return text;
}

std::string VerbHelp(const TVerb& verb) {
  std::vector<TOption> options = verb.Options;
  options.push_back({"--help", "", "show this text and exit"});
  std::size_t width = 0;
  for (const TOption& o : options) width = std::max(width, o.Name.size() + (o.ValueName.empty() ? 0 : o.ValueName.size() + 1));
  std::string text = "usage: " + Synopsis(verb) + "\n\n" + verb.Description + "\nOptions:\n";
  for (const TOption& o : options) {
    const std::string head = o.Name + (o.ValueName.empty() ? "" : " " + o.ValueName);
    text += "  " + head + std::string(width - head.size() + 2, ' ') + o.Help + "\n";
  }
  return text;
}

}  // namespace hdbtool
