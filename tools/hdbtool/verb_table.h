// The verbs of hdbtool, in the order the overview lists them: each with its operands,
// options, help text and the function that carries it out. A new verb (repair, delete)
// is one more entry here and one more handler in tool_commands.h.
//
// Built once on first use; read-only afterwards.
#pragma once

#include <string>
#include <vector>

#include "command_line.h"

namespace hdbtool {

const std::vector<TVerb>& Verbs();
// nullptr for a name no verb has.
const TVerb* FindVerb(const std::string& name);
// The text of "hdbtool --help".
std::string Overview();

}  // namespace hdbtool
