#include "ediabas-sim/sim_runtime.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "headunit/ediabas_entry_points.h"

namespace ediabas_sim {

TSimRuntime& TSimRuntime::Instance() {
  static TSimRuntime runtime;
  return runtime;
}

int TSimRuntime::Init(std::uint32_t* handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string error;
  std::unique_ptr<TSimCar> car = TSimCar::Load(TSimCar::CarFilePath(), error);
  if (car && !car->InitAllowed()) {
    car.reset();
    error = "SIM: runtime told not to start (INIT = fail)";
  }
  if (!car) {
    // The handle a failed start leaves behind (0) answers the error reads with why.
    if (handle != nullptr) *handle = 0;
    THandleState& failed = handles_[0];
    failed = THandleState{};
    failed.last.code = ErrInit;
    failed.last.errorText = error;
    return 0;
  }
  car_ = std::move(car);
  const std::uint32_t issued = nextHandle_++;
  handles_[issued] = THandleState{true, {}};
  if (handle != nullptr) *handle = issued;
  return 1;
}

void TSimRuntime::End(std::uint32_t handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = handles_.find(handle);
  if (found != handles_.end()) found->second.open = false;
}

void TSimRuntime::Job(std::uint32_t handle, const char* sgbd, const char* job, const char* parameter) {
  std::lock_guard<std::mutex> lock(mutex_);
  THandleState& state = handles_[handle];
  state.last = TJobOutcome{};
  if (!state.open || !car_) {
    state.last.code = ErrHandle;
    state.last.errorText = "SIM: runtime not initialised or already ended";
    return;
  }
  if (sgbd == nullptr || job == nullptr) {
    state.last.code = ErrJob;
    state.last.errorText = "SIM: job without name";
    return;
  }
  if (int delay = car_->JobDelayMs(); delay > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delay));
  state.last = car_->RunJob(sgbd, job, parameter ? parameter : "");
}

const TResultValue* TSimRuntime::FindResult(std::uint32_t handle, const char* result, std::uint16_t resultSet) {
  if (result == nullptr) return nullptr;
  auto state = handles_.find(handle);
  if (state == handles_.end()) return nullptr;
  auto found = state->second.last.results.find({resultSet, LowerAscii(result)});
  return found == state->second.last.results.end() ? nullptr : &found->second;
}

int TSimRuntime::ResultText(std::uint32_t handle, char* buffer, const char* result, std::uint16_t resultSet) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (buffer == nullptr) return 0;
  buffer[0] = '\0';
  const TResultValue* value = FindResult(handle, result, resultSet);
  if (value == nullptr || value->binary) return 0;
  const std::size_t length = std::min(value->bytes.size(), headunit::ResultTextBufferSize - 1);
  std::memcpy(buffer, value->bytes.data(), length);
  buffer[length] = '\0';
  return 1;
}

int TSimRuntime::ResultBinary(std::uint32_t handle, unsigned char* buffer, std::uint16_t* length, const char* result,
                              std::uint16_t resultSet) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (buffer == nullptr || length == nullptr) return 0;
  const TResultValue* value = FindResult(handle, result, resultSet);
  if (value == nullptr || !value->binary) {
    *length = 0;
    return 0;
  }
  const std::size_t count = std::min(value->bytes.size(), headunit::ResultBinaryBufferSize);
  std::memcpy(buffer, value->bytes.data(), count);
  *length = static_cast<std::uint16_t>(count);
  return 1;
}

int TSimRuntime::ErrorCode(std::uint32_t handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto state = handles_.find(handle);
  return state == handles_.end() ? 0 : state->second.last.code;
}

void TSimRuntime::ErrorText(std::uint32_t handle, char* buffer, int capacity) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (buffer == nullptr || capacity < 0) return;
  std::string text;
  auto state = handles_.find(handle);
  if (state != handles_.end()) text = state->second.last.errorText;
  const std::size_t length =
      std::min({text.size(), static_cast<std::size_t>(capacity), static_cast<std::size_t>(headunit::ErrorTextCapacity)});
  std::memcpy(buffer, text.data(), length);
  buffer[length] = '\0';
}

}  // namespace ediabas_sim
