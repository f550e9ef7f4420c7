#pragma once
// Run-time loading of a shared library by name: LoadLibraryA, GetProcAddress
// and FreeLibrary on Windows, dlopen, dlsym and dlclose elsewhere. The OS
// counts the loads of one library; each Load needs its own Free.

namespace platform {

class ModuleLoader {
 public:
  virtual ~ModuleLoader() = default;
  // Null when the library cannot be found or loaded.
  virtual void* Load(const char* name) = 0;
  // Null when the library does not export `name`.
  virtual void* Symbol(void* module, const char* name) = 0;
  virtual void Free(void* module) = 0;
};

// The operating system's loader; it holds no state of its own.
ModuleLoader& SystemModuleLoader();

}  // namespace platform
