#pragma once
// The settings file next to the program: section "Settings", read and
// written at each use, nothing cached.
#include <cstddef>
#include <string>

#include "input/DeviceProfile.h"
#include "output/TouchOutputs.h"

constexpr const char* kSettingsSection = "Settings";
constexpr const char* kMouseEnableKey = "MouseEnable";
constexpr const char* kVidPidListKey = "Vid&PidList";

// The program path with its extension replaced by "ini" ("%s.ini" on the
// path cut at the dot). A path without a four-character extension gets
// ".ini" appended, so the file still sits next to the program.
std::string SettingsPathFor(const std::string& programPath);
// SettingsPathFor the running program.
std::string SettingsFilePath();

std::string ReadSettingsString(const std::string& settingsPath, const char* key,
                               const std::string& def, std::size_t bufferSize = 260);
bool WriteSettingsString(const std::string& settingsPath, const char* key,
                         const std::string& value);

// Off only when the stored value starts with '0'; a missing file means on.
bool ReadMouseEnable(const std::string& settingsPath);
bool ReadMouseEnable();
// Reads "Vid&PidList"; when no entry results, loads the default list and
// writes it back.
void LoadVidPidList(const std::string& settingsPath, VidPidList& list);

// Stores "1" or "0".
void WriteMouseEnable(const std::string& settingsPath, bool on);
void WriteMouseEnable(bool on);

// Section "Listen": where the TUIO stream listeners and the XML listener
// listen (TuioTcp, TuioTcpAddress, TuioTcpPort, TuioTcpClients, WebSocket,
// WebSocketAddress, WebSocketPort, WebSocketClients, WebSocketOrigins,
// WebCalibration, XmlAddress). Read once at start-up. A missing key keeps its default (both
// stream listeners on, on 127.0.0.1 ports 3333 and 3334, 16 clients each;
// XML on all interfaces); a value that cannot be used gets one trace line
// and its default.
constexpr const char* kListenSection = "Listen";
void ReadListenSettings(const std::string& settingsPath, OutputEndpoints& endpoints);
