// libFuzzer driver of the database file target (built with HALVARIN_FUZZ=ON and clang).
// Seeds: HALVARIN_FUZZ_MAKE_SEEDS=<folder> writes the seed databases there and stops.
#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <string>

#include "open_database_target.h"

namespace {
std::string g_path;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (const char* folder = std::getenv("HALVARIN_FUZZ_MAKE_SEEDS")) {
    for (const std::string& file : hdbfuzz::MakeSeedDatabases(folder)) std::cout << file << "\n";
    std::exit(0);
  }
  const char* shm = "/dev/shm";
  g_path = std::string(::access(shm, W_OK) == 0 ? shm : "/tmp") + "/halvarin-fuzz-" + std::to_string(::getpid()) +
           ".hdb";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  hdbfuzz::OpenDatabaseFromBytes(data, size, g_path);
  return 0;
}
