// What the headless service does for a service manager: the settings file
// it reads, its trace levels and lines in the journal's form, its
// notifications.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cctype>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "platform/ServiceNotify.h"
#include "platform/Trace.h"

namespace {

TEST(LinuxService, ConfigOptionNamesTheSettingsFile) {
  struct Case {
    std::vector<const char*> args;
    bool accepted;
    std::string path;  // with "/opt/v/vantrel.ini" beside the program
  } cases[] = {
      {{"vantrel"}, true, "/opt/v/vantrel.ini"},
      {{"vantrel", "--config", "/etc/vantrel/Vantrel.ini"}, true, "/etc/vantrel/Vantrel.ini"},
      {{"vantrel", "--log", "info", "--config", "a.ini"}, true, "a.ini"},
      {{"vantrel", "--config"}, false, ""},
      {{"vantrel", "--config", ""}, false, ""},
  };
  for (const Case& c : cases) {
    ServiceCommandLine cmd;
    std::vector<char*> argv;
    for (const char* a : c.args) argv.push_back(const_cast<char*>(a));
    std::string complaint;
    const bool ok = ParseServiceCommandLine(int(argv.size()), argv.data(), false, cmd, &complaint);
    ASSERT_EQ(ok, c.accepted) << c.args.size() << " " << complaint;
    if (ok) {
      EXPECT_EQ(ServiceSettingsPath(cmd, "/opt/v/vantrel.ini"), c.path);
    }
  }
  // The tray program keeps its file beside it.
  ServiceCommandLine cmd;
  char* tray[] = {const_cast<char*>("Vantrel.exe"), const_cast<char*>("--config"),
                  const_cast<char*>("x.ini")};
  std::string complaint;
  EXPECT_FALSE(ParseServiceCommandLine(3, tray, true, cmd, &complaint));
}

// --log and VANTREL_LOG name a level in any case; the trace prints it in
// lower case.
TEST(LinuxService, TraceLevelsByName) {
  const struct {
    const char* text;
    trace::Level level;
  } names[] = {{"off", trace::Level::kOff},
               {"error", trace::Level::kError},
               {"warn", trace::Level::kWarn},
               {"info", trace::Level::kInfo},
               {"debug", trace::Level::kDebug}};
  for (const auto& n : names) {
    std::string upper = n.text;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const std::string& text : {std::string(n.text), upper}) {
      trace::Level level = trace::Level::kOff;
      ASSERT_TRUE(trace::ParseLevel(text.c_str(), level)) << text;
      EXPECT_EQ(level, n.level) << text;
    }
    EXPECT_STREQ(trace::LevelName(n.level), n.text);
  }
  trace::Level level;
  for (const char* bad : {"inf", "warning", "", "verbose"})
    EXPECT_FALSE(trace::ParseLevel(bad, level)) << bad;
  EXPECT_FALSE(trace::ParseLevel(nullptr, level));
}

TEST(LinuxService, JournalLinesCarryThePriorityAndNoTimeStamp) {
  struct Case {
    trace::Level level;
    const char* line;
    const char* journal;
  } cases[] = {
      {trace::Level::kError, "vantrel 12.345 error: open /dev/hidraw0: Permission denied",
       "<3>error: open /dev/hidraw0: Permission denied"},
      {trace::Level::kWarn, "vantrel 0.001 warn: settings: x", "<4>warn: settings: x"},
      {trace::Level::kInfo, "vantrel 4294967.295 info: frame: a -> b", "<6>info: frame: a -> b"},
      {trace::Level::kDebug, "vantrel 1.000 debug: report", "<7>debug: report"},
      {trace::Level::kInfo, "no stamp", "<6>no stamp"},
  };
  for (const Case& c : cases) {
    char out[64];
    const unsigned n = trace::JournalLine(c.level, c.line, out, sizeof out);
    EXPECT_EQ(std::string(out, n), c.journal);
  }
  char small[8];
  EXPECT_EQ(trace::JournalLine(trace::Level::kInfo, "vantrel 1.0 info: long text", small, 8), 7u);
  EXPECT_STREQ(small, "<6>info");
}

// The manager's socket, a path or an abstract name, receives each state as
// one datagram; without NOTIFY_SOCKET nothing is sent.
TEST(LinuxService, NotificationsReachTheManagersSocket) {
  const std::string path = ::testing::TempDir() + "vantrel_notify_" + std::to_string(getpid());
  const std::string abstractName = "@vantrel_notify_" + std::to_string(getpid());
  for (const std::string& name : {path, abstractName}) {
    const int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::memcpy(a.sun_path, name.data(), name.size());
    if (name[0] == '@') a.sun_path[0] = '\0';
    unlink(path.c_str());
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&a),
                   socklen_t(offsetof(sockaddr_un, sun_path) + name.size())),
              0);
    setenv("NOTIFY_SOCKET", name.c_str(), 1);
    EXPECT_TRUE(platform::NotifyServiceManager("READY=1"));
    EXPECT_TRUE(platform::NotifyServiceManager("STOPPING=1"));
    char buffer[32];
    for (const char* expected : {"READY=1", "STOPPING=1"}) {
      const ssize_t n = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
      ASSERT_GT(n, 0) << name;
      EXPECT_EQ(std::string(buffer, std::size_t(n)), expected);
    }
    close(fd);
  }
  unlink(path.c_str());
  setenv("NOTIFY_SOCKET", path.c_str(), 1);  // nobody listens there now
  EXPECT_FALSE(platform::NotifyServiceManager("READY=1"));
  unsetenv("NOTIFY_SOCKET");
  EXPECT_FALSE(platform::NotifyServiceManager("READY=1"));
}

}  // namespace
