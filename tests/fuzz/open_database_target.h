// The fuzzing target of the database file: a file made of arbitrary bytes is opened the
// way the program opens its database, and every table in its table list is opened,
// read to the end in natural order and along each index, and checked. Any error must
// be an EHDBException; anything else (another exception, a crash, a leak) is a fault.
// Shared by the libFuzzer driver and the replay test that runs in the test suite.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace hdbfuzz {

// Runs one input; the database file is written to `path` (and its journal removed).
void OpenDatabaseFromBytes(const std::uint8_t* data, std::size_t size, const std::string& path);

// Writes small database files made by the engine into `folder`, as the seeds of a
// fuzzing run: an empty database and one with two tables of records, in 512- and
// 4096-byte pages. Returns the file names written.
std::vector<std::string> MakeSeedDatabases(const std::string& folder);

}  // namespace hdbfuzz
