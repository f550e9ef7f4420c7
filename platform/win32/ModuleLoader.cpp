#include "platform/ModuleLoader.h"

#include <windows.h>

#include <cstdint>

namespace platform {
namespace {

class Win32ModuleLoader final : public ModuleLoader {
 public:
  void* Load(const char* name) override { return LoadLibraryA(name); }
  void* Symbol(void* module, const char* name) override {
    // FARPROC to data pointer through an integer: same width on Win32.
    FARPROC proc = GetProcAddress(static_cast<HMODULE>(module), name);
    return reinterpret_cast<void*>(reinterpret_cast<std::uintptr_t>(proc));
  }
  void Free(void* module) override { FreeLibrary(static_cast<HMODULE>(module)); }
};

}  // namespace

ModuleLoader& SystemModuleLoader() {
  static Win32ModuleLoader loader;
  return loader;
}

}  // namespace platform
