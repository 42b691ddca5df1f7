// The fuzzing target of App.cfg: a settings file made of arbitrary bytes is read the way
// the program reads it at start, every text and flag is taken out of the record, the
// texts go through the code-page conversion the settings dialog applies and back into
// the record, the head unit's partner parameters are built from it, and the record is
// written and read again. A record read from a file of full length is written back byte
// for byte; a violated rule throws TargetFault. Shared by the libFuzzer driver and the
// replay test that runs in the test suite.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace hdbfuzz {

// A rule a target checks on its input was broken.
struct TargetFault : std::logic_error {
  using std::logic_error::logic_error;
};

// Runs one input; the settings file is written to `path` and rewritten at `path` + ".out".
void ReadAppConfigFromBytes(const std::uint8_t* data, std::size_t size, const std::string& path);

}  // namespace hdbfuzz
