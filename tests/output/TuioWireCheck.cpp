// tuio_wire_check COMMAND...: runs COMMAND with a UDP port appended, decodes
// every datagram it sends with liblo and compares the bundles with the
// hand-written list of what the fixed publisher run must put on the wire.
// Used with the native scenario program and with the Windows one under Wine.
#include <spawn.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/TuioExpect.h"

extern char** environ;

using namespace testsupport;

namespace {

std::vector<ExpectedBundle> Expected() {
  std::vector<ExpectedBundle> e = {
      Cur({}, {}, -1),  // construction
      Obj(-1),
      Cur({0}, {{0, 0.25f, 0.5f, 0, 0, 0}}, 0),         // added
      Obj(0),                                           // first frame of a new second
      Cur({0}, {{0, 0.35f, 0.5f, 1.0f, 0, 10.0f}}, 1),  // 0.1 in 100 ms from rest
      Cur({0, 1}, {{0, 0.35f, 0.5f, 0, 0, -10.0f}, {1, 0.75f, 0.25f, 0, 0, 0}}, 2),
      Cur({0, 1}, {{0, 0.35f, 0.5f, 0, 0, 0}}, 3),  // second settle: stopped
      Cur({0, 1}, {}, 4),                           // idle bundle
      Cur({1}, {}, 6),                              // removal and add+remove
      Obj(6),
      Cur({}, {}, -1),  // destruction
      Obj(-1),
      Cur({}, {}, -1),  // the small-packet publisher
      Obj(-1),
  };
  // 20 cursors at capacity 576 (100 is clamped up): the alive list takes
  // 144 bytes with the bundle header, a set 52, so 7 + 7 + 6 sets.
  std::vector<int> all;
  for (int i = 0; i < 20; ++i) all.push_back(i);
  for (int first : {0, 7, 14}) {
    std::vector<ExpectedSet> sets;
    for (int i = first; i < 20 && i < first + 7; ++i)
      sets.push_back({i, i / 20.0f, 1.0f - i / 20.0f, 0, 0, 0});
    e.push_back(Cur(all, sets, 0));
  }
  e.push_back(Obj(0));
  e.push_back(Cur({}, {}, -1));
  e.push_back(Obj(-1));
  return e;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: tuio_wire_check COMMAND [ARGS...]\n");
    return 2;
  }
  UdpCapture capture;
  const std::string port = std::to_string(capture.port());
  std::vector<char*> args(argv + 1, argv + argc);
  args.push_back(const_cast<char*>(port.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0) {
    std::fprintf(stderr, "cannot start %s\n", args[0]);
    return 1;
  }
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "sender failed (status %d)\n", status);
    return 1;
  }
  std::vector<OscBundle> got;
  try {
    got = capture.bundles(1000);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "undecodable datagram: %s\n", e.what());
    return 1;
  }
  for (const OscBundle& b : got) {
    if (b.datagramSize > 576) {
      std::fprintf(stderr, "datagram of %zu bytes\n", b.datagramSize);
      return 1;
    }
  }
  const std::string why = Mismatch(got, Expected());
  if (!why.empty()) {
    std::fprintf(stderr, "wire mismatch:\n%s", why.c_str());
    return 1;
  }
  std::printf("%zu bundles as expected\n", got.size());
  return 0;
}
