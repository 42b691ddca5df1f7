// TSimRuntime: the runtime side of the stand-in library, one per process. It hands out
// runtime handles, keeps the outcome of the last job per handle and serves the result
// and error reads from it. Every __apiInit loads the car afresh (car file and state
// file), so what tests write into those files takes effect at the next init. A start
// that fails leaves handle 0, whose error code and text say why. A job on a handle that
// __apiEnd has ended, or that was never handed out, fails.
// Guarded by one mutex: the entry points may be called from any thread.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

#include "ediabas-sim/sim_car.h"

namespace ediabas_sim {

class TSimRuntime {
 public:
  static TSimRuntime& Instance();

  int Init(std::uint32_t* handle);
  void End(std::uint32_t handle);
  void Job(std::uint32_t handle, const char* sgbd, const char* job, const char* parameter);
  int ResultText(std::uint32_t handle, char* buffer, const char* result, std::uint16_t resultSet);
  int ResultBinary(std::uint32_t handle, unsigned char* buffer, std::uint16_t* length, const char* result,
                   std::uint16_t resultSet);
  int ErrorCode(std::uint32_t handle);
  void ErrorText(std::uint32_t handle, char* buffer, int capacity);

 private:
  struct THandleState {
    bool open = false;
    TJobOutcome last;
  };
  const TResultValue* FindResult(std::uint32_t handle, const char* result, std::uint16_t resultSet);

  std::mutex mutex_;
  std::map<std::uint32_t, THandleState> handles_;
  std::uint32_t nextHandle_ = 1;
  std::unique_ptr<TSimCar> car_;
};

}  // namespace ediabas_sim
