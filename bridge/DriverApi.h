#pragma once
// The 78 functions Vantrel exports under these undecorated names. Each
// forwards to the driver-API component's function of the same name, loading
// the component on first use; without the component, or without that name in
// it, it returns its failure value (DriverApiTable.h) at once.
#include "bridge/DriverApiTable.h"

#define DRIVER_API_DECLARE(result, name, failure, params, args) result DRIVER_API_CALL name params;

extern "C" {
DRIVER_API_BLOCK1(DRIVER_API_DECLARE)
DRIVER_API_BLOCK2(DRIVER_API_DECLARE, DRIVER_API_DECLARE)
DRIVER_API_BLOCK3(DRIVER_API_DECLARE)
}

#undef DRIVER_API_DECLARE
