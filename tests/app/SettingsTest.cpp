#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "app/Settings.h"
#include "platform/IniFile.h"
#include "platform/Trace.h"
#include "tests/support/TempSettings.h"
#include "tests/support/TraceCapture.h"

namespace {

class SettingsFile : public ::testing::Test {
 protected:
  void Write(const std::string& text) { file_.Write(text); }
  std::string Contents() const { return file_.Contents(); }

  testsupport::TempSettings file_;
  const std::string& path_ = file_.path();
};

TEST(SettingsPath, ReplacesAFourCharacterExtension) {
  EXPECT_EQ(SettingsPathFor("C:\\Program Files\\Vantrel\\Vantrel.exe"),
            "C:\\Program Files\\Vantrel\\Vantrel.ini");
  EXPECT_EQ(SettingsPathFor("/opt/vantrel/bin/vantrel"), "/opt/vantrel/bin/vantrel.ini");
  EXPECT_EQ(SettingsPathFor("/opt/v.d/vantrel"), "/opt/v.d/vantrel.ini");
  EXPECT_EQ(SettingsPathFor(".exe"), ".exe.ini");  // no name before the dot
  const std::string own = SettingsFilePath();
  ASSERT_GT(own.size(), 4u);
  EXPECT_EQ(own.substr(own.size() - 4), ".ini");
}

TEST_F(SettingsFile, MouseEnableIsOffOnlyForALeadingZero) {
  EXPECT_TRUE(ReadMouseEnable(path_));  // no file: default on
  struct Case {
    const char* stored;
    bool on;
  } cases[] = {{"0", false}, {"1", true}, {"no", true}, {"00", false}, {"", true}};
  for (const Case& c : cases) {
    Write(std::string("[Settings]\r\nMouseEnable=") + c.stored + "\r\n");
    EXPECT_EQ(ReadMouseEnable(path_), c.on) << '"' << c.stored << '"';
  }
  WriteMouseEnable(path_, false);
  EXPECT_FALSE(ReadMouseEnable(path_));
  WriteMouseEnable(path_, true);
  EXPECT_TRUE(ReadMouseEnable(path_));
}

TEST_F(SettingsFile, WritingAKeyKeepsTheRestOfTheFile) {
  Write(
      "[Other]\r\nA=1\r\n\r\n[Settings]\r\nVid&PidList=3D5E0013\r\nMouseEnable=1\r\n"
      "[Tail]\r\nB=2\r\n");
  WriteMouseEnable(path_, false);
#ifndef _WIN32
  // Natively the file is rewritten byte for byte but for the one value (the
  // system's own writer may reformat it).
  EXPECT_EQ(Contents(),
            "[Other]\r\nA=1\r\n\r\n[Settings]\r\nVid&PidList=3D5E0013\r\nMouseEnable=0\r\n"
            "[Tail]\r\nB=2\r\n");
#endif
  EXPECT_FALSE(ReadMouseEnable(path_));
  EXPECT_EQ(platform::ReadIniString(path_, "Other", "A", "", 260), "1");
  EXPECT_EQ(platform::ReadIniString(path_, "Tail", "B", "", 260), "2");
  EXPECT_EQ(ReadSettingsString(path_, kVidPidListKey, ""), "3D5E0013");
}

TEST_F(SettingsFile, AddsMissingKeysAndSections) {
  Write("[Settings]\r\nVid&PidList=3D5E0013\r\n\r\n[Tail]\r\nB=2\r\n");
  WriteMouseEnable(path_, false);
  EXPECT_FALSE(ReadMouseEnable(path_));
  EXPECT_EQ(ReadSettingsString(path_, kVidPidListKey, ""), "3D5E0013");
  EXPECT_EQ(platform::ReadIniString(path_, "Tail", "B", "", 260), "2");
  EXPECT_TRUE(platform::WriteIniString(path_, "New", "K", "v"));
  EXPECT_EQ(platform::ReadIniString(path_, "New", "K", "", 260), "v");
  EXPECT_EQ(platform::ReadIniString(path_, "Tail", "B", "", 260), "2");
}

TEST_F(SettingsFile, ReadsLikeThePrivateProfileFunctions) {
  Write("[settings]\r\n  mouseenable =  0  \r\nQuoted=\"a b\"\r\n");
  EXPECT_FALSE(ReadMouseEnable(path_));  // names ignore case, blanks trimmed
  EXPECT_EQ(ReadSettingsString(path_, "Quoted", ""), "a b");
  EXPECT_EQ(ReadSettingsString(path_, "Missing", "dflt"), "dflt");
  // A buffer of n bytes holds n - 1 characters.
  Write("[Settings]\r\nLong=" + std::string(300, 'x') + "\r\n");
  EXPECT_EQ(ReadSettingsString(path_, "Long", "", 260).size(), 259u);
}

TEST_F(SettingsFile, VidPidListEmptyOrAbsentLoadsTheDefaultAndWritesItBack) {
  VidPidList list;
  LoadVidPidList(path_, list);
  EXPECT_EQ(list.count, 134u);
  const std::string stored = ReadSettingsString(path_, kVidPidListKey, "", kVidPidTextBuffer);
  EXPECT_EQ(stored.size(), 1205u);
  EXPECT_EQ(stored, FormatVidPidList(list));

  Write("[Settings]\nVid&PidList=  -- \nMouseEnable=0\n");
  LoadVidPidList(path_, list);
  EXPECT_EQ(list.count, 134u);
  EXPECT_FALSE(ReadMouseEnable(path_));  // the other key stays
}

TEST_F(SettingsFile, VidPidListStoredIsUsedAsIs) {
  Write("[Settings]\nVid&PidList=3d5e0013\n");
  VidPidList list;
  LoadVidPidList(path_, list);
  ASSERT_EQ(list.count, 1u);
  DeviceProfile profile;
  EXPECT_TRUE(MatchVidPid(list, 0x3D5E, 0x0013, profile));
  EXPECT_FALSE(MatchVidPid(list, 0x3D5E, 0x0014, profile));
  EXPECT_FALSE(MatchVidPid(list, 0x0013, 0x3D5E, profile));
  EXPECT_EQ(ReadSettingsString(path_, kVidPidListKey, ""), "3d5e0013");
}

// The Listen section: each case's file, the listeners it gives, and how
// many values were refused (one trace line each).
TEST_F(SettingsFile, ListenSectionPlacesTheListenersAndRefusesWhatCannotBeUsed) {
  struct Case {
    const char* text;  // nullptr: no file
    bool tcp, web;
    const char *tcpAddress, *webAddress, *xmlAddress;
    int tcpPort, webPort, tcpClients, webClients;
    const char* origins;
    int refused;
  };
  const Case cases[] = {
      {nullptr, true, true, "127.0.0.1", "127.0.0.1", "", 3333, 3334, 16, 16, "", 0},
      {"[Settings]\nMouseEnable=1\n", true, true, "127.0.0.1", "127.0.0.1", "", 3333, 3334, 16, 16,
       "", 0},
      {"[Listen]\nTuioTcp=0\nWebSocket=1\nWebSocketAddress=0.0.0.0\nWebSocketPort=8080\n"
       "WebSocketClients=4\nTuioTcpPort=4444\nTuioTcpClients=56\n"
       "WebSocketOrigins=http://localhost:8000, http://kiosk:80\nXmlAddress=127.0.0.1\n",
       false, true, "127.0.0.1", "0.0.0.0", "127.0.0.1", 4444, 8080, 56, 4,
       "http://localhost:8000, http://kiosk:80", 0},
      {"[listen]\ntuiotcp=yes\nWebSocket=2\nTuioTcpAddress=localhost\nWebSocketAddress=1.2.3\n"
       "TuioTcpPort=0\nWebSocketPort=65536\nTuioTcpClients=57\nWebSocketClients=-1\n"
       "XmlAddress=256.0.0.1\n",
       true, true, "127.0.0.1", "127.0.0.1", "", 3333, 3334, 16, 16, "", 9},
      {"[Listen]\nTuioTcpPort= 3335 \nWebSocketPort=33x\nTuioTcpAddress=1.2.3.4.5\n"
       "WebSocketAddress=127.0.0.01\nXmlAddress=127.1\n",
       true, true, "127.0.0.1", "127.0.0.1", "", 3335, 3334, 16, 16, "", 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text ? c.text : "no file");
    std::remove(path_.c_str());
    if (c.text) Write(c.text);
    testsupport::TraceCapture trace(trace::Level::kWarn);
    OutputEndpoints e;
    ReadListenSettings(path_, e);
    int refused = 0;
    for (std::size_t at = 0; (at = trace.text.find("the default applies", at)) != std::string::npos;
         ++at)
      ++refused;
    EXPECT_EQ(e.tuioTcp.enabled, c.tcp);
    EXPECT_EQ(e.webSocket.enabled, c.web);
    EXPECT_EQ(e.tuioTcp.address, c.tcpAddress);
    EXPECT_EQ(e.webSocket.address, c.webAddress);
    EXPECT_EQ(e.xml.address, c.xmlAddress);
    EXPECT_EQ(e.tuioTcp.port, c.tcpPort);
    EXPECT_EQ(e.webSocket.port, c.webPort);
    EXPECT_EQ(e.tuioTcp.maxClients, c.tcpClients);
    EXPECT_EQ(e.webSocket.maxClients, c.webClients);
    EXPECT_EQ(e.webSocket.origins, c.origins);
    EXPECT_EQ(refused, c.refused);
  }
  // Without the settings the outputs open no stream listener.
  EXPECT_FALSE(OutputEndpoints{}.tuioTcp.enabled || OutputEndpoints{}.webSocket.enabled);

  // An origin list is read whole; one longer than the service reads keeps
  // its whole entries only, with one trace line.
  for (std::size_t entries : {10000, 40000}) {
    std::string origins;
    for (std::size_t i = 0; i < entries; ++i)
      origins += "http://kiosk" + std::to_string(i % 10) + ".example:8000, ";
    origins += "http://last.example:8000";
    Write("[Listen]\nWebSocketOrigins=" + origins + "\n");
    testsupport::TraceCapture trace(trace::Level::kWarn);
    OutputEndpoints e;
    ReadListenSettings(path_, e);
    if (entries == 10000) {
      EXPECT_EQ(e.webSocket.origins, origins);
      EXPECT_EQ(trace.text, "");
      continue;
    }
    EXPECT_EQ(origins.rfind(e.webSocket.origins, 0), 0u);
    EXPECT_EQ(e.webSocket.origins.substr(e.webSocket.origins.size() - 13), ".example:8000");
    EXPECT_NE(trace.text.find("WebSocketOrigins is longer than the 1048575 characters"),
              std::string::npos)
        << trace.text;
    EXPECT_EQ(std::count(trace.text.begin(), trace.text.end(), '\n'), 1);
  }
}

// What the settings cannot hold or store is kept as before, with one trace
// line: the entries beyond the list's limits, and a write that fails.
TEST_F(SettingsFile, LossesGetOneTraceLine) {
  struct Case {
    std::size_t entries;
    const char* line;  // "" when nothing is cut
  } cases[] = {
      {1023, ""},
      {1024, ""},
      {1025, "lists 1025 entries; entries 1025 to 1025 (from 3D5E0400 on) are not used"},
      {10000, "lists 10000 entries; entries 1025 to 10000 (from 3D5E0400 on) are not used"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.entries);
    std::string text;
    for (std::size_t i = 0; i < c.entries; ++i) {
      char group[10];
      std::snprintf(group, sizeof group, "%s%08X", i ? " " : "", unsigned(0x3D5E0000 + i));
      text += group;
    }
    Write("[Settings]\r\nVid&PidList=" + text + "\r\n");
    testsupport::TraceCapture trace(trace::Level::kWarn);
    VidPidList list;
    LoadVidPidList(path_, list);
    EXPECT_EQ(list.count, std::min<std::size_t>(c.entries, kMaxVidPidEntries));
    DeviceProfile profile;
    EXPECT_EQ(MatchVidPid(list, 0x3D5E, std::uint16_t(c.entries - 1), profile), c.entries <= 1024);
    if (*c.line == '\0') {
      EXPECT_EQ(trace.text, "");
    } else {
      EXPECT_NE(trace.text.find(c.line), std::string::npos) << trace.text;
      EXPECT_EQ(std::count(trace.text.begin(), trace.text.end(), '\n'), 1);
    }
  }

  // A folder where the file should be: the write fails, with the system's
  // reason in the trace, and the setting reads as its default.
  const std::string folder = path_ + ".d";
  std::remove(folder.c_str());
#ifdef _WIN32
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
#else
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
#endif
  {
    testsupport::TraceCapture trace(trace::Level::kWarn);
    WriteMouseEnable(folder, false);
    const std::string head = "settings: could not write MouseEnable to " + folder + ": ";
    const std::size_t at = trace.text.find(head);
    ASSERT_NE(at, std::string::npos) << trace.text;
    EXPECT_GT(trace.text.size(), at + head.size() + 2) << "no reason given";
  }
  EXPECT_TRUE(ReadMouseEnable(folder));
#ifdef _WIN32
  RemoveDirectoryA(folder.c_str());
#else
  rmdir(folder.c_str());
#endif
}

}  // namespace
