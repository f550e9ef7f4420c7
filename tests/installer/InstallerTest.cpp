// VantrelSetup.exe under Wine, as an administrator would use it: silent
// installs and uninstalls into the test prefix, checked from outside by
// the files in the prefix's drive C and by `reg query`. The installed
// Vantrel.exe runs against the frame simulator served here, and a second
// install over the running copy ends it through its quit command first.
// Arguments: WINE-RUN SETUP PREFIX REGVIEW (64 or 32, the installer's bits).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/OscCapture.h"
#include "tests/support/ServiceProcess.h"
#include "tests/support/SimControl.h"
#include "tests/support/XmlClient.h"

namespace {

std::string gWine, gSetup, gPrefix, gRegView;

const char* kUninstallKey =
    "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Vantrel";
const char* kRunKey = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";

std::string Quoted(const std::string& s) {
  return "'" + s + "'";
}

// Runs a Windows program under the tree's Wine; its exit status.
int Wine(const std::string& args) {
  const int st = std::system((Quoted(gWine) + " " + args + " >/dev/null 2>&1").c_str());
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

// A registry value's data as `reg query` prints it; "" when there is none.
std::string RegValue(const std::string& key, const std::string& name) {
  const std::string cmd = Quoted(gWine) + " reg query '" + key + "' /v '" + name +
                          "' /reg:" + gRegView + " 2>/dev/null";
  FILE* p = ::popen(cmd.c_str(), "r");
  if (!p) return "";
  std::string found;
  char line[2048];
  while (std::fgets(line, sizeof line, p)) {
    std::string l(line);
    while (!l.empty() && (l.back() == '\n' || l.back() == '\r')) l.pop_back();
    const std::size_t type = l.find("REG_");
    if (l.find(name) == std::string::npos || type == std::string::npos) continue;
    const std::size_t data = l.find_first_not_of(' ', l.find(' ', type));
    found = data == std::string::npos ? "" : l.substr(data);
  }
  ::pclose(p);
  return found;
}

// A path under the prefix's drive C, from its Windows form "C:\dir\file".
std::string Unix(const std::string& windowsPath) {
  std::string p = gPrefix + "/drive_c/" + windowsPath.substr(3);
  for (char& c : p)
    if (c == '\\') c = '/';
  return p;
}

bool Exists(const std::string& windowsPath) {
  struct stat st;
  return ::stat(Unix(windowsPath).c_str(), &st) == 0;
}

const char* kStartMenu = "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Vantrel";
const std::vector<std::string> kFiles = {"Vantrel.exe", "Pelladex.dll",    "pelladex-probe.exe",
                                         "monitor.exe", "SDK\\Pelladex.h", "Uninstall.exe"};

class Installer : public ::testing::Test {
 protected:
  // Leftovers of an interrupted run would make the checks meaningless.
  void Clean(const std::string& dir) {
    Wine("reg delete '" + std::string(kUninstallKey) + "' /f /reg:" + gRegView);
    Wine("reg delete '" + std::string(kRunKey) + "' /v MorvikVantrel /f");
    std::system(("rm -rf " + Quoted(Unix(dir)) + " " + Quoted(Unix(kStartMenu))).c_str());
  }
  int Install(const std::string& dir, const std::string& options) {
    return Wine(Quoted(gSetup) + " /S " + options + " '/D=" + dir + "'");
  }
  // The uninstaller hands over to a copy of itself and returns at once:
  // done when its registry entry, removed last, is gone.
  void Uninstall(const std::string& dir) {
    ASSERT_EQ(Wine("'" + dir + "\\Uninstall.exe' /S"), 0);
    EXPECT_TRUE(testsupport::WaitFor([&] { return !Exists(kStartMenu); }, 60000));
    EXPECT_TRUE(testsupport::WaitFor([&] { return RegValue(kUninstallKey, "DisplayName").empty(); },
                                     30000));
  }
};

TEST_F(Installer, InstallServeReinstallOverTheRunningCopyAndUninstall) {
  const std::string dir = "C:\\VantrelTest";
  Clean(dir);
  ASSERT_EQ(Install(dir, "/AUTOSTART=1"), 0);
  for (const std::string& f : kFiles) EXPECT_TRUE(Exists(dir + "\\" + f)) << f;
  EXPECT_TRUE(Exists(std::string(kStartMenu) + "\\Vantrel.lnk"));
  EXPECT_EQ(RegValue(kUninstallKey, "DisplayName"), "Vantrel");
  EXPECT_EQ(RegValue(kUninstallKey, "DisplayVersion"), "1.1.4.9");
  EXPECT_EQ(RegValue(kUninstallKey, "UninstallString"), "\"" + dir + "\\Uninstall.exe\"");
  EXPECT_EQ(RegValue(kUninstallKey, "QuietUninstallString"), "\"" + dir + "\\Uninstall.exe\" /S");
  EXPECT_EQ(RegValue(kRunKey, "MorvikVantrel"), dir + "\\Vantrel.exe");
  // The installed program serves the simulated frame.
  testsupport::SimControl sim;
  ASSERT_TRUE(sim.connected());
  ASSERT_EQ(sim.last("add split-mt f"), "ok f");
  testsupport::UdpCapture tuio(3333);
  ::setenv("VANTREL_E2E_SERVICE", (gWine + " " + dir + "\\Vantrel.exe").c_str(), 1);
  testsupport::ServiceProcess service(sim.address());
  ASSERT_TRUE(service.waitReady(90000)) << service.output();
  EXPECT_TRUE(testsupport::WaitFor(
      [&] {
        sim.last("tap f 0.5,0.5");
        for (const auto& b : tuio.bundles(200))
          for (const auto& m : b.messages)
            if (m.args.size() >= 4 && std::get_if<std::string>(&m.args[0]) &&
                std::get<std::string>(m.args[0]) == "set")
              return true;
        return false;
      },
      30000))
      << "no cursor from the installed service";
  // Its first discovery wrote the built-in device list: settings nobody changed.
  EXPECT_TRUE(Exists(dir + "\\Vantrel.ini"));

  // Again over the running copy: it is ended first (its normal shut-down),
  // then replaced; the log-on choice stays as it was.
  ASSERT_EQ(Install(dir, ""), 0);
  EXPECT_EQ(service.waitExit(30000), 0) << service.output();
  for (const std::string& f : kFiles) EXPECT_TRUE(Exists(dir + "\\" + f)) << f;
  EXPECT_EQ(RegValue(kRunKey, "MorvikVantrel"), dir + "\\Vantrel.exe");

  ASSERT_NO_FATAL_FAILURE(Uninstall(dir));
  EXPECT_FALSE(Exists(dir)) << "files or unchanged settings left behind";
  EXPECT_FALSE(Exists(kStartMenu));
  EXPECT_EQ(RegValue(kRunKey, "MorvikVantrel"), "");
}

TEST_F(Installer, WithoutTheChoiceNoAutostartAndChangedSettingsStay) {
  const std::string dir = "C:\\VantrelTest2";
  Clean(dir);
  ASSERT_EQ(Install(dir, "/AUTOSTART=0"), 0);
  EXPECT_EQ(RegValue(kRunKey, "MorvikVantrel"), "");
  EXPECT_EQ(Install(dir, "/AUTOSTART=maybe"), 2);  // refused, nothing changed
  EXPECT_EQ(RegValue(kUninstallKey, "DisplayVersion"), "1.1.4.9");

  // The user switched mouse emulation off.
  std::ofstream(Unix(dir + "\\Vantrel.ini")) << "[Settings]\r\nMouseEnable=0\r\n";
  ASSERT_NO_FATAL_FAILURE(Uninstall(dir));
  for (const std::string& f : kFiles) EXPECT_FALSE(Exists(dir + "\\" + f)) << f;
  EXPECT_TRUE(Exists(dir + "\\Vantrel.ini"));
  EXPECT_FALSE(Exists(dir + "\\SDK"));
  std::system(("rm -rf " + Quoted(Unix(dir))).c_str());
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (argc != 5) {
    std::fprintf(stderr, "usage: installer_test WINE-RUN SETUP PREFIX 64|32\n");
    return 2;
  }
  gWine = argv[1];
  gSetup = argv[2];
  gPrefix = argv[3];
  gRegView = argv[4];
  return RUN_ALL_TESTS();
}
