#pragma once
// The driver-API functions that Vantrel exports and forwards to the
// component: the one list from which the exports, the bridge's members, the
// block tables and the export-table check are all made.
//
// Each entry is F(result, name, failure value, (parameters), (arguments)).
// The failure value is what the export returns at once when its block cannot
// load the component or the component lacks the name; functions without a
// result have an empty one. Block 2 passes ExitTouch through its own macro:
// it also releases the component and widens the component's 8-bit result.
//
// A context pointer comes first wherever the function acts on a frame: the
// 23616-byte driver-API context, room for 8 device records. Record arguments
// (`info`) are pointers to such a record.
#include <cstdint>

// clang-format off
#define DRIVER_API_BLOCK1(F) \
  F(std::uint8_t, StartTouchDev, 0xFF, (void* context, std::int32_t index), (context, index)) \
  F(std::uint8_t, StopTouchDev, 0xFF, (void* context, std::int32_t index), (context, index)) \
  F(std::uint8_t, SendCmdTouchDev, 0xFF, (void* context, const std::uint8_t* command, std::int32_t length), (context, command, length)) \
  F(std::uint8_t, GetTouchDevDetail, 0xFF, (void* context, void* info), (context, info)) \
  F(std::uint8_t, GetTouchDevDetailByIndex, 0xFF, (void* context, std::int32_t index, void* info), (context, index, info)) \
  F(std::uint8_t, GetTouchDevDetailByInfo, 0xFF, (void* context, const void* key, void* info), (context, key, info)) \
  F(std::int32_t, GetTouchModulePathName, -1, (void* context, char* path, std::int32_t capacity), (context, path, capacity)) \
  F(std::uint8_t, EnableTouchTUIO, 0xFF, (void* context), (context)) \
  F(std::uint8_t, DisableTouchTUIO, 0xFF, (void* context), (context)) \
  F(std::uint8_t, SetAllEnable, 0xFF, (void* context, std::uint8_t enable), (context, enable)) \
  F(std::uint8_t, GetRbStatus, 0xFF, (void* context), (context)) \
  F(std::uint8_t, EnableRightButton, 0xFF, (void* context), (context)) \
  F(std::uint8_t, DisableRightButton, 0xFF, (void* context), (context)) \
  F(std::int32_t, GetRbTime, -1, (void* context), (context)) \
  F(std::uint8_t, SetRbTime, 0xFF, (void* context, std::int32_t time), (context, time)) \
  F(std::int32_t, GetRbRange, -1, (void* context), (context)) \
  F(std::uint8_t, SetRbRange, 0xFF, (void* context, std::int32_t range), (context, range)) \
  F(std::uint8_t, GetWheelStatus, 0xFF, (void* context), (context)) \
  F(std::uint8_t, EnableWheel, 0xFF, (void* context), (context)) \
  F(std::uint8_t, DisableWheel, 0xFF, (void* context), (context)) \
  F(std::int32_t, GetWheelSensitivity, -1, (void* context), (context)) \
  F(std::uint8_t, SetWheelSensitivity, 0xFF, (void* context, std::int32_t sensitivity), (context, sensitivity)) \
  F(std::uint8_t, GetDragStatus, 0xFF, (void* context), (context)) \
  F(std::uint8_t, EnableDrag, 0xFF, (void* context), (context)) \
  F(std::uint8_t, DisableDrag, 0xFF, (void* context), (context)) \
  F(void, HWReset, , (void* context), (context)) \
  F(std::uint8_t, OIGetTouchDevStatus, 0xFF, (void* context), (context)) \
  F(std::uint8_t, OISetTouchDevStatus, 0xFF, (void* context, std::uint8_t status), (context, status)) \
  F(void, SetPtStatusOIMode, , (void* context, std::uint8_t enable), (context, enable)) \
  F(std::uint8_t, GetDejitterStatus, 0xFF, (void* context), (context)) \
  F(std::uint8_t, EnableDejitter, 0xFF, (void* context), (context)) \
  F(std::uint8_t, DisableDejitter, 0xFF, (void* context), (context)) \
  F(std::int32_t, GetDejitterLevel, -1, (void* context), (context)) \
  F(std::uint8_t, SetDejitterLevel, 0xFF, (void* context, std::int32_t level), (context, level)) \
  F(std::uint8_t, GetSmoothStatus, 0xFF, (void* context), (context)) \
  F(std::uint8_t, EnableSmooth, 0xFF, (void* context), (context)) \
  F(std::uint8_t, DisableSmooth, 0xFF, (void* context), (context)) \
  F(std::int32_t, GetSmoothLevel, -1, (void* context), (context)) \
  F(std::uint8_t, SetSmoothLevel, 0xFF, (void* context, std::int32_t level), (context, level)) \
  F(std::uint8_t, SetSignalInit, 0xFF, (void* context), (context)) \
  F(std::uint8_t, SetWidthDataEnable, 0xFF, (void* context, std::uint8_t enable), (context, enable)) \
  F(std::uint8_t, GetWidthData, 0xFF, (void* context, std::uint8_t* data, std::int32_t length), (context, data, length)) \
  F(void, SetPtWidthDataMode, , (void* context, std::uint8_t enable), (context, enable))

// InitTouch's three middle values are reserved; the service passes 0.
#define DRIVER_API_BLOCK2(F, F_EXIT) \
  F(std::int32_t, InitTouch, 0, (void* context, std::int32_t reserved1, std::int32_t reserved2, std::int32_t reserved3, void* owner), (context, reserved1, reserved2, reserved3, owner)) \
  F(std::int32_t, InitTouchRawData, 0, (void* context, void* owner), (context, owner)) \
  F_EXIT(std::int32_t, ExitTouch, -1, (), ()) \
  F(std::int32_t, GetTouchDevCount, -1, (), ()) \
  F(std::int32_t, GetTouchDevInfo, -1, (void* context, std::int32_t index, void* info), (context, index, info)) \
  F(std::int32_t, GetMaxPointNum, 0, (void* context), (context)) \
  F(std::int32_t, GetProductModel, 0, (void* context), (context)) \
  F(std::uint8_t, EnableTouch, 0xFF, (void* context), (context)) \
  F(std::uint8_t, DisableTouch, 0xFF, (void* context), (context)) \
  F(std::uint8_t, SendData, 0xFF, (void* context, const std::uint8_t* data, std::int32_t length), (context, data, length)) \
  F(std::uint8_t, EnableRawData, 0xFF, (void* context), (context)) \
  F(std::uint8_t, DisableRawData, 0xFF, (void* context), (context)) \
  F(std::uint8_t, SetMouseMode, 0xFF, (void* context), (context)) \
  F(std::uint8_t, SetSingleTouchMode, 0xFF, (void* context), (context)) \
  F(std::uint8_t, SetMultiTouchMode, 0xFF, (void* context), (context)) \
  F(std::uint8_t, GetTouchMode, 0, (void* context), (context)) \
  F(std::int32_t, GetLastStatusCode, -1, (), ())

#define DRIVER_API_BLOCK3(F) \
  F(std::uint8_t, TestGetTotal, 0, (void* context), (context)) \
  F(std::int32_t, TestGetBuf, 0, (void* context, std::uint8_t* buffer, std::int32_t length), (context, buffer, length)) \
  F(std::int32_t, GetXTotal, 0, (void* context), (context)) \
  F(std::int32_t, GetYTotal, 0, (void* context), (context)) \
  F(std::uint8_t, SetAGCValue, 0, (void* context, std::uint8_t value), (context, value)) \
  F(std::uint8_t, GetEdgeADC, 0, (void* context, std::uint8_t* values, std::int32_t length), (context, values, length)) \
  F(std::uint8_t, GetTValue, 0, (void* context, std::int32_t index), (context, index)) \
  F(std::uint8_t, GetAllTValue, 0, (void* context, std::uint8_t* values, std::int32_t length), (context, values, length)) \
  F(std::uint8_t, GetTotalTValue, 0, (void* context), (context)) \
  F(std::uint8_t, SetTonEnable, 0, (void* context, std::uint8_t enable), (context, enable)) \
  F(std::uint8_t, GetTonEnable, 0, (void* context), (context)) \
  F(std::uint8_t, OITestModeStart, 0, (void* context), (context)) \
  F(std::uint8_t, OITestModeStop, 0, (void* context), (context)) \
  F(std::uint8_t, SetFeatureReport_Control, 0xFF, (void* context, std::uint8_t* buffer, std::int32_t length), (context, buffer, length)) \
  F(std::uint8_t, GetFeatureReport_Control, 0xFF, (void* context, std::uint8_t* buffer, std::int32_t length), (context, buffer, length)) \
  F(std::int32_t, GetFeatureVersion, -1, (void* context), (context)) \
  F(std::uint16_t, GetInputReportBufferLength, 0xFFFF, (void* context), (context)) \
  F(std::uint8_t, GetInputReport_Interrupt, 0xFF, (void* context, std::uint8_t* buffer, std::int32_t length), (context, buffer, length))
// clang-format on

// The calling convention of the component's functions and of the exports:
// cdecl, whose names a 32-bit Windows linker exports undecorated.
#if defined(_WIN32)
#define DRIVER_API_CALL __cdecl
#else
#define DRIVER_API_CALL
#endif
