// A shared library loaded at run time by name, and the lookup of its entry points.
// The library is found through the standard search path of the dynamic loader (for a
// program, its run path first). Owns the loader handle and releases it on destruction.
// Not locked: the loader itself is thread-safe, the object is used by one thread.
#pragma once

#include <memory>
#include <string>

namespace hdb::platform {

class DynamicLibrary {
 public:
  // Loads `name`; nullptr when the loader cannot find or bind it, with its reason in `error`.
  static std::unique_ptr<DynamicLibrary> Open(const std::string& name, std::string& error);

  ~DynamicLibrary();
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;

  // The address of an exported symbol, nullptr when the library has none of that name.
  void* FindSymbol(const char* symbol) const;

  // The file of the loaded program or library that holds `address` (code or data), as
  // the loader names it; empty when no loaded file holds it.
  static std::string FileContaining(const void* address);

 private:
  explicit DynamicLibrary(void* handle) : handle_(handle) {}
  void* handle_;
};

}  // namespace hdb::platform
