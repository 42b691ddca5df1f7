// The fuzzing target of what the runtime library reports to the program: a scripted
// runtime (libscripted_runtime.so) answers every call from the input's bytes, and the
// binding's wrappers and the head-unit operations (identification of the car, the
// partner data and telephone numbers, the reset, the erase of the history) run on those
// answers. Results, texts, lengths and error codes of any value must stay within the
// binding's buffers and reach the log as bounded lines; a broken rule throws
// TargetFault. Shared by the libFuzzer driver and the replay test.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "app_config_target.h"

namespace hdbfuzz {

// Loads the scripted runtime from `runtimePath` (once per process and path) and runs one
// input: its first byte picks the operations and the user's answers, the rest is the
// runtime's script.
void RunOnRuntimeAnswers(const std::uint8_t* data, std::size_t size, const std::string& runtimePath);

}  // namespace hdbfuzz
