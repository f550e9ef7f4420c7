// The exported functions of Vantrel: plain C names with cdecl, which the
// 32-bit Windows linker exports undecorated, as GetProcAddress finds them.
// They forward to the process's bridge.
#include "bridge/DriverApi.h"
#include "bridge/DriverApiBridge.h"

#if defined(_WIN32)
#define DRIVER_API_EXPORT __declspec(dllexport)
#else
#define DRIVER_API_EXPORT __attribute__((visibility("default")))
#endif

#define DRIVER_API_DEFINE(result, name, failure, params, args)      \
  extern "C" DRIVER_API_EXPORT result DRIVER_API_CALL name params { \
    return bridge::ProcessBridge().name args;                       \
  }
DRIVER_API_BLOCK1(DRIVER_API_DEFINE)
DRIVER_API_BLOCK2(DRIVER_API_DEFINE, DRIVER_API_DEFINE)
DRIVER_API_BLOCK3(DRIVER_API_DEFINE)
