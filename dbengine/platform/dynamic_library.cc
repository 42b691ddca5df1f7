#include "dbengine/platform/dynamic_library.h"

#include <dlfcn.h>

#include <cassert>

namespace hdb::platform {

std::unique_ptr<DynamicLibrary> DynamicLibrary::Open(const std::string& name, std::string& error) {
  error.clear();
  void* handle = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* reason = ::dlerror();
    error = reason ? reason : "cannot load " + name;
    return nullptr;
  }
  return std::unique_ptr<DynamicLibrary>(new DynamicLibrary(handle));
}

DynamicLibrary::~DynamicLibrary() {
  assert(handle_ != nullptr);
  ::dlclose(handle_);
}

void* DynamicLibrary::FindSymbol(const char* symbol) const {
  ::dlerror();
  return ::dlsym(handle_, symbol);
}

std::string DynamicLibrary::FileContaining(const void* address) {
  Dl_info info{};
  if (::dladdr(address, &info) == 0 || info.dli_fname == nullptr) return {};
  return info.dli_fname;
}

}  // namespace hdb::platform
