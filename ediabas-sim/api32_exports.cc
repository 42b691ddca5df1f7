// The seven exported entry points of libapi32.so. They are declared through the
// binding's own function types, so a signature that drifts from the binding does not
// compile, and forward to the process's one TSimRuntime.
#include "ediabas-sim/sim_runtime.h"
#include "headunit/ediabas_entry_points.h"

#define SIM_EXPORT __attribute__((visibility("default")))

extern "C" {
SIM_EXPORT ApiInitFunc __apiInit;
SIM_EXPORT ApiEndFunc __apiEnd;
SIM_EXPORT ApiJobFunc __apiJob;
SIM_EXPORT ApiResultTextFunc __apiResultText;
SIM_EXPORT ApiResultBinaryFunc __apiResultBinary;
SIM_EXPORT ApiErrorCodeFunc __apiErrorCode;
SIM_EXPORT ApiErrorTextFunc __apiErrorText;
}

using ediabas_sim::TSimRuntime;

int __apiInit(std::uint32_t* handle) { return TSimRuntime::Instance().Init(handle); }

void __apiEnd(std::uint32_t handle) { TSimRuntime::Instance().End(handle); }

void __apiJob(std::uint32_t handle, const char* sgbd, const char* job, const char* parameter,
              const char* /*resultFilter*/) {
  TSimRuntime::Instance().Job(handle, sgbd, job, parameter);
}

int __apiResultText(std::uint32_t handle, char* buffer, const char* result, std::uint16_t resultSet,
                    const char* /*format*/) {
  return TSimRuntime::Instance().ResultText(handle, buffer, result, resultSet);
}

int __apiResultBinary(std::uint32_t handle, unsigned char* buffer, std::uint16_t* length, const char* result,
                      std::uint16_t resultSet) {
  return TSimRuntime::Instance().ResultBinary(handle, buffer, length, result, resultSet);
}

int __apiErrorCode(std::uint32_t handle) { return TSimRuntime::Instance().ErrorCode(handle); }

void __apiErrorText(std::uint32_t handle, char* buffer, int capacity) {
  TSimRuntime::Instance().ErrorText(handle, buffer, capacity);
}
