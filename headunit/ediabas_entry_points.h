// The seven entry points of the diagnostic runtime library, as the binding calls them and
// as the stand-in library defines them: one set of function types for both sides, so
// they cannot drift apart. C linkage, no calling-convention decoration (x86-64).
//
// Truth values are int (non-zero = true), the runtime handle is a uint32_t that
// __apiInit writes and every other entry point takes first, result sets are uint16_t.
// Strings are zero-terminated 8-bit strings in Windows-1252.
#pragma once

#include <cstddef>
#include <cstdint>

namespace headunit {

// Buffer sizes both sides rely on.
// A text result, terminating zero included, never takes more than this.
inline constexpr std::size_t ResultTextBufferSize = 1024;
// A binary result never exceeds this many bytes.
inline constexpr std::size_t ResultBinaryBufferSize = 32768;
// Characters of an error text; the buffer holds one more for the terminating zero.
inline constexpr int ErrorTextCapacity = 63;

inline constexpr char ApiInitName[] = "__apiInit";
inline constexpr char ApiEndName[] = "__apiEnd";
inline constexpr char ApiJobName[] = "__apiJob";
inline constexpr char ApiResultTextName[] = "__apiResultText";
inline constexpr char ApiResultBinaryName[] = "__apiResultBinary";
inline constexpr char ApiErrorCodeName[] = "__apiErrorCode";
inline constexpr char ApiErrorTextName[] = "__apiErrorText";

}  // namespace headunit

extern "C" {

// Starts the runtime and writes its handle; true when the runtime is ready.
typedef int ApiInitFunc(std::uint32_t* handle);
// Ends the runtime session of the handle.
typedef void ApiEndFunc(std::uint32_t handle);
// Runs a job of a control unit description (SGBD) and returns when it has finished.
typedef void ApiJobFunc(std::uint32_t handle, const char* sgbd, const char* job, const char* parameter,
                        const char* resultFilter);
// Copies the named result of the last job into buffer (ResultTextBufferSize bytes);
// true when it exists.
typedef int ApiResultTextFunc(std::uint32_t handle, char* buffer, const char* result, std::uint16_t resultSet,
                              const char* format);
// Copies the named binary result of the last job into buffer (ResultBinaryBufferSize
// bytes) and its length into *length; true when it exists.
typedef int ApiResultBinaryFunc(std::uint32_t handle, unsigned char* buffer, std::uint16_t* length,
                                const char* result, std::uint16_t resultSet);
// Error code of the last job, 0 = none.
typedef int ApiErrorCodeFunc(std::uint32_t handle);
// Copies at most capacity characters of the last job's error text plus a terminating zero.
typedef void ApiErrorTextFunc(std::uint32_t handle, char* buffer, int capacity);

}  // extern "C"
