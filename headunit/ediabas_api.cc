#include "headunit/ediabas_api.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "dbengine/platform/dynamic_library.h"
#include "headunit/ediabas_entry_points.h"

namespace headunit {

TEdiabasApi::TEdiabasApi() = default;
TEdiabasApi::~TEdiabasApi() = default;

bool TEdiabasApi::LoadRuntimeLibrary(const std::string& name) {
  library_ = hdb::platform::DynamicLibrary::Open(name, loadError_);
  if (!library_) return false;
  // The wrappers still look every entry point up on each call; a library that lacks one
  // is kept, but it is no runtime the commands can rely on.
  loadError_.clear();
  for (const char* entryPoint : {ApiInitName, ApiEndName, ApiJobName, ApiResultTextName, ApiResultBinaryName,
                                 ApiErrorCodeName, ApiErrorTextName})
    if (library_->FindSymbol(entryPoint) == nullptr) {
      loadError_ = name + " has no entry point " + entryPoint;
      break;
    }
  return true;
}

template <class Func>
Func* TEdiabasApi::Resolve(const char* name) const {
  if (!library_) return nullptr;
  return reinterpret_cast<Func*>(library_->FindSymbol(name));
}

bool TEdiabasApi::ApiInit() {
  if (callTrace_) callTrace_(TApiCall{TApiCallKind::Init, {}, {}, {}});
  auto* init = Resolve<ApiInitFunc>(ApiInitName);
  if (init == nullptr) return false;
  return init(&handle_) != 0;
}

void TEdiabasApi::ApiEnd() {
  if (callTrace_) callTrace_(TApiCall{TApiCallKind::End, {}, {}, {}});
  if (auto* end = Resolve<ApiEndFunc>(ApiEndName)) end(handle_);
}

void TEdiabasApi::ApiJob(const std::string& sgbd, const std::string& job, const std::string& parameter,
                         const std::string& resultFilter) {
  if (callTrace_) callTrace_(TApiCall{TApiCallKind::Job, sgbd, job, parameter});
  if (auto* run = Resolve<ApiJobFunc>(ApiJobName))
    run(handle_, sgbd.c_str(), job.c_str(), parameter.c_str(), resultFilter.c_str());
}

std::string TEdiabasApi::ApiResultText(const std::string& result, std::uint16_t resultSet) {
  auto* read = Resolve<ApiResultTextFunc>(ApiResultTextName);
  if (read == nullptr) return {};
  std::array<char, ResultTextBufferSize> buffer{};
  if (read(handle_, buffer.data(), result.c_str(), resultSet, "") == 0) return {};
  buffer.back() = '\0';  // a runtime that forgot the terminator must not make us read on
  return std::string(buffer.data());
}

std::vector<unsigned char> TEdiabasApi::ApiResultBinary(const std::string& result, std::uint16_t resultSet) {
  auto* read = Resolve<ApiResultBinaryFunc>(ApiResultBinaryName);
  if (read == nullptr) return {};
  std::vector<unsigned char> buffer(ResultBinaryBufferSize);
  std::uint16_t length = 0;
  if (read(handle_, buffer.data(), &length, result.c_str(), resultSet) == 0) return {};
  buffer.resize(std::min<std::size_t>(length, ResultBinaryBufferSize));
  return buffer;
}

TApiError TEdiabasApi::ApiErrorCode() {
  TApiError error;
  auto* code = Resolve<ApiErrorCodeFunc>(ApiErrorCodeName);
  auto* text = Resolve<ApiErrorTextFunc>(ApiErrorTextName);
  if (code != nullptr) error.code = code(handle_);
  if (text != nullptr) {
    std::array<char, ErrorTextCapacity + 1> buffer{};
    text(handle_, buffer.data(), ErrorTextCapacity);
    buffer.back() = '\0';
    error.text = buffer.data();
  }
  return error;
}

}  // namespace headunit
