#include "platform/ModuleLoader.h"

#include <dlfcn.h>

namespace platform {
namespace {

class PosixModuleLoader final : public ModuleLoader {
 public:
  // A bare name is searched like any shared library: the loaded objects,
  // LD_LIBRARY_PATH, the program's RUNPATH, then the system's directories.
  void* Load(const char* name) override { return dlopen(name, RTLD_NOW | RTLD_LOCAL); }
  void* Symbol(void* module, const char* name) override { return dlsym(module, name); }
  void Free(void* module) override { dlclose(module); }
};

}  // namespace

ModuleLoader& SystemModuleLoader() {
  static PosixModuleLoader loader;
  return loader;
}

}  // namespace platform
