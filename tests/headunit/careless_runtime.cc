// A runtime library that misbehaves within the buffers it is given: texts without a
// terminating zero and a binary length larger than the buffer. The binding must cope.
#include <cstring>

#include "headunit/ediabas_entry_points.h"

#define CARELESS_EXPORT __attribute__((visibility("default")))

extern "C" {
CARELESS_EXPORT ApiInitFunc __apiInit;
CARELESS_EXPORT ApiResultTextFunc __apiResultText;
CARELESS_EXPORT ApiResultBinaryFunc __apiResultBinary;
CARELESS_EXPORT ApiErrorCodeFunc __apiErrorCode;
CARELESS_EXPORT ApiErrorTextFunc __apiErrorText;
}

int __apiInit(std::uint32_t* handle) {
  *handle = 7;
  return 1;
}

int __apiResultText(std::uint32_t, char* buffer, const char*, std::uint16_t, const char*) {
  std::memset(buffer, 'R', headunit::ResultTextBufferSize);
  return 1;
}

int __apiResultBinary(std::uint32_t, unsigned char* buffer, std::uint16_t* length, const char*, std::uint16_t) {
  std::memset(buffer, 0x51, headunit::ResultBinaryBufferSize);
  *length = 40000;
  return 1;
}

int __apiErrorCode(std::uint32_t handle) { return static_cast<int>(handle); }

void __apiErrorText(std::uint32_t, char* buffer, int capacity) { std::memset(buffer, 'X', capacity + 1); }
