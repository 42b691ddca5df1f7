// The verbs of the database tool. Each writes its report to the streams' Out and
// returns the process exit code (tool_errors.h); a failure leaves the verb as one of
// the errors of tool_errors.h, whose text names the file.
#pragma once

#include "command_line.h"

namespace hdbtool {

int RunCreate(const TParsedArgs& args, TToolStreams& streams);
int RunCreateStore(const TParsedArgs& args, TToolStreams& streams);
int RunInfo(const TParsedArgs& args, TToolStreams& streams);
int RunCheck(const TParsedArgs& args, TToolStreams& streams);
int RunDump(const TParsedArgs& args, TToolStreams& streams);
int RunImport(const TParsedArgs& args, TToolStreams& streams);
int RunDelete(const TParsedArgs& args, TToolStreams& streams);
int RunRepair(const TParsedArgs& args, TToolStreams& streams);
int RunDemo(const TParsedArgs& args, TToolStreams& streams);

}  // namespace hdbtool
