// TEdiabasApi: the binding to the diagnostic runtime library. It holds the loaded
// library (none when loading failed) and the runtime handle, and looks each entry point
// up by name on every call, so a missing library or entry point never stops the
// program: every wrapper then does nothing and yields its empty value.
// Used from the user-interface thread only; nothing is locked.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace hdb::platform {
class DynamicLibrary;
}

namespace headunit {

inline constexpr char RuntimeLibraryName[] = "libapi32.so";

// A start of the runtime, a job or an end of the runtime as the program issued it, for
// the call trace; sgbd, job and parameter are empty for a start and an end.
enum class TApiCallKind { Init, Job, End };
struct TApiCall {
  TApiCallKind kind = TApiCallKind::Job;
  std::string sgbd;
  std::string job;
  std::string parameter;
};

struct TApiError {
  int code = 0;
  std::string text;
};

class TEdiabasApi {
 public:
  TEdiabasApi();
  ~TEdiabasApi();
  TEdiabasApi(const TEdiabasApi&) = delete;
  TEdiabasApi& operator=(const TEdiabasApi&) = delete;

  // Loads the library by name from the standard search path; a failure leaves the
  // binding without a library and is not reported. Returns whether it loaded.
  bool LoadRuntimeLibrary(const std::string& name);
  bool HasLibrary() const { return library_ != nullptr; }
  // True when a library is loaded and exports all seven entry points: only then can a
  // head-unit command tell success from failure.
  bool RuntimeLoaded() const { return library_ != nullptr && loadError_.empty(); }
  // Why the runtime is not loaded (the loader's reason or the missing entry point);
  // empty when it is.
  const std::string& LoadError() const { return loadError_; }

  // True when the runtime is ready; false without library or entry point.
  bool ApiInit();
  void ApiEnd();
  void ApiJob(const std::string& sgbd, const std::string& job, const std::string& parameter,
              const std::string& resultFilter);
  // The named result of the last job as text, empty when it does not exist.
  std::string ApiResultText(const std::string& result, std::uint16_t resultSet);
  // The named binary result of the last job; empty when it does not exist. Never
  // longer than ResultBinaryBufferSize, whatever length the runtime reports.
  std::vector<unsigned char> ApiResultBinary(const std::string& result, std::uint16_t resultSet);
  // Code and text of the last job's error; code 0 and empty text when there is none or
  // the entry points are missing.
  TApiError ApiErrorCode();

  // Called with every ApiInit, ApiJob and ApiEnd before it is handed to the runtime
  // (also without library).
  void SetCallTrace(std::function<void(const TApiCall&)> trace) { callTrace_ = std::move(trace); }

 private:
  template <class Func>
  Func* Resolve(const char* name) const;

  std::unique_ptr<hdb::platform::DynamicLibrary> library_;
  std::string loadError_ = "no library was loaded";
  std::uint32_t handle_ = 0;
  std::function<void(const TApiCall&)> callTrace_;
};

}  // namespace headunit
