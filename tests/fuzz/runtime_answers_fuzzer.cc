// libFuzzer driver of the runtime answers target (built with HALVARIN_FUZZ=ON and clang);
// the scripted runtime is the one built beside it.
#include "runtime_answers_target.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  hdbfuzz::RunOnRuntimeAnswers(data, size, HALVARIN_SCRIPTED_RUNTIME);
  return 0;
}
