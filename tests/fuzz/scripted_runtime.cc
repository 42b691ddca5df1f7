// A runtime library whose every answer is taken from a script of bytes: whether the
// start succeeds and the handle it gives, whether a result exists, its text (with or
// without a terminating zero, anywhere within the buffer), a binary result's bytes and
// the length it claims (also more than the buffer holds), error codes of any sign and
// error texts that fill their buffer. It never writes beyond the buffers the binding
// hands it, as the runtime's contract says; everything else is up to the script. Once
// the script is used up every answer is zero. The fuzzing target of the runtime's
// answers sets the script through ScriptedRuntimeSetAnswers before each input.
#include <algorithm>
#include <cstring>

#include "headunit/ediabas_entry_points.h"

#define SCRIPTED_EXPORT __attribute__((visibility("default")))

extern "C" {
SCRIPTED_EXPORT ApiInitFunc __apiInit;
SCRIPTED_EXPORT ApiEndFunc __apiEnd;
SCRIPTED_EXPORT ApiJobFunc __apiJob;
SCRIPTED_EXPORT ApiResultTextFunc __apiResultText;
SCRIPTED_EXPORT ApiResultBinaryFunc __apiResultBinary;
SCRIPTED_EXPORT ApiErrorCodeFunc __apiErrorCode;
SCRIPTED_EXPORT ApiErrorTextFunc __apiErrorText;
SCRIPTED_EXPORT void ScriptedRuntimeSetAnswers(const std::uint8_t* data, std::size_t size);
}

namespace {

const std::uint8_t* g_script = nullptr;
std::size_t g_left = 0;

std::uint8_t Byte() {
  if (g_left == 0) return 0;
  --g_left;
  return *g_script++;
}

std::uint16_t Word() { return static_cast<std::uint16_t>(Byte() | Byte() << 8); }

std::uint32_t Long() { return static_cast<std::uint32_t>(Word()) | static_cast<std::uint32_t>(Word()) << 16; }

// Copies up to `count` script bytes to `to`; the rest of the count is filled with 'x'.
void Bytes(void* to, std::size_t count) {
  const std::size_t have = std::min(count, g_left);
  std::memcpy(to, g_script, have);
  std::memset(static_cast<unsigned char*>(to) + have, 'x', count - have);
  g_script += have;
  g_left -= have;
}

// A text of the script's length (at most `capacity` bytes) and, when the script says
// so and there is room, a terminating zero.
void Text(char* buffer, std::size_t capacity) {
  const std::uint8_t form = Byte();
  std::size_t length = form & 0x80 ? Word() : Byte();
  length = std::min(length, capacity);
  Bytes(buffer, length);
  if ((form & 1) == 0 && length < capacity) buffer[length] = '\0';
}

}  // namespace

void ScriptedRuntimeSetAnswers(const std::uint8_t* data, std::size_t size) {
  g_script = data;
  g_left = size;
}

int __apiInit(std::uint32_t* handle) {
  const std::uint8_t ready = Byte();
  *handle = Long();
  return ready & 1;
}

void __apiEnd(std::uint32_t) {}

void __apiJob(std::uint32_t, const char*, const char*, const char*, const char*) {}

int __apiResultText(std::uint32_t, char* buffer, const char*, std::uint16_t, const char*) {
  if ((Byte() & 3) == 0) return 0;
  Text(buffer, headunit::ResultTextBufferSize);
  return 1;
}

int __apiResultBinary(std::uint32_t, unsigned char* buffer, std::uint16_t* length, const char*, std::uint16_t) {
  if ((Byte() & 3) == 0) return 0;
  *length = Word();
  Bytes(buffer, std::min<std::size_t>(*length, headunit::ResultBinaryBufferSize));
  return 1;
}

int __apiErrorCode(std::uint32_t) {
  const std::uint8_t form = Byte();
  // Mostly no error, so that the commands get past their first job.
  if ((form & 3) != 0) return 0;
  return form & 4 ? static_cast<int>(Long()) : form >> 3;
}

void __apiErrorText(std::uint32_t, char* buffer, int capacity) {
  Text(buffer, static_cast<std::size_t>(capacity) + 1);
}
