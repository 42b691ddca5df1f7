// libFuzzer driver of the App.cfg target (built with HALVARIN_FUZZ=ON and clang).
#include <unistd.h>

#include <string>

#include "app_config_target.h"

namespace {
std::string g_path;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const char* shm = "/dev/shm";
  g_path = std::string(::access(shm, W_OK) == 0 ? shm : "/tmp") + "/halvarin-fuzz-" + std::to_string(::getpid()) +
           ".cfg";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  hdbfuzz::ReadAppConfigFromBytes(data, size, g_path);
  return 0;
}
