#include "tests/support/OscCapture.h"

#include <arpa/inet.h>
#include <lo/lo.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <sstream>
#include <stdexcept>

namespace testsupport {
namespace {

struct DecodeState {
  int bundlesStarted = 0;
  int bundlesEnded = 0;
  OscBundle bundle;
};

int OnBundleStart(lo_timetag t, void* user) {
  auto* st = static_cast<DecodeState*>(user);
  ++st->bundlesStarted;
  st->bundle.timetagSeconds = t.sec;
  st->bundle.timetagFraction = t.frac;
  return 0;
}

int OnBundleEnd(void* user) {
  ++static_cast<DecodeState*>(user)->bundlesEnded;
  return 0;
}

int OnMessage(const char* path, const char* types, lo_arg** argv, int argc, lo_message,
              void* user) {
  auto* st = static_cast<DecodeState*>(user);
  OscMessage m;
  m.address = path;
  m.types = types;
  for (int i = 0; i < argc; ++i) {
    switch (types[i]) {
      // liblo's arguments sit at 4-byte offsets in the message, not at the
      // alignment of its lo_arg union: read them bytewise.
      case 'i': {
        std::int32_t v;
        std::memcpy(&v, argv[i], sizeof v);
        m.args.emplace_back(v);
        break;
      }
      case 'f': {
        float v;
        std::memcpy(&v, argv[i], sizeof v);
        m.args.emplace_back(v);
        break;
      }
      case 's':
        m.args.emplace_back(std::string(reinterpret_cast<const char*>(argv[i])));
        break;
      default:
        throw std::runtime_error(std::string("unexpected OSC type ") + types[i]);
    }
  }
  st->bundle.messages.push_back(std::move(m));
  return 0;
}

void Quiet(int, const char*, const char*) {}

}  // namespace

OscBundle DecodeBundle(const std::vector<char>& datagram) {
  lo_server server = lo_server_new_with_proto(nullptr, LO_UDP, Quiet);
  if (!server) throw std::runtime_error("liblo: cannot create a server");
  DecodeState st;
  lo_server_add_bundle_handlers(server, OnBundleStart, OnBundleEnd, &st);
  lo_server_add_method(server, nullptr, nullptr, OnMessage, &st);
  std::vector<char> copy = datagram;  // liblo may decode in place
  const int rc = lo_server_dispatch_data(server, copy.data(), copy.size());
  lo_server_free(server);
  if (rc <= 0) throw std::runtime_error("liblo rejected the datagram");
  if (st.bundlesStarted != 1 || st.bundlesEnded != 1)
    throw std::runtime_error("datagram is not exactly one bundle");
  st.bundle.datagramSize = datagram.size();
  return st.bundle;
}

UdpCapture::UdpCapture() {
  fd_ = socket(AF_INET, SOCK_DGRAM, 0);
  if (fd_ < 0) throw std::runtime_error("socket");
  int big = 4 << 20;
  setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) throw std::runtime_error("bind");
  socklen_t len = sizeof a;
  getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
  port_ = ntohs(a.sin_port);
}

UdpCapture::~UdpCapture() {
  if (fd_ >= 0) close(fd_);
}

std::vector<std::vector<char>> UdpCapture::drain(int timeoutMs) {
  std::vector<std::vector<char>> out;
  pollfd p{fd_, POLLIN, 0};
  int wait = timeoutMs;
  while (poll(&p, 1, wait) > 0) {
    std::vector<char> buf(70000);
    const ssize_t n = recv(fd_, buf.data(), buf.size(), 0);
    if (n < 0) break;
    buf.resize(static_cast<std::size_t>(n));
    out.push_back(std::move(buf));
    wait = 20;  // the rest of a burst is already queued
  }
  return out;
}

std::vector<OscBundle> UdpCapture::bundles(int timeoutMs) {
  std::vector<OscBundle> out;
  for (const auto& d : drain(timeoutMs)) out.push_back(DecodeBundle(d));
  return out;
}

std::string Describe(const OscBundle& b) {
  std::ostringstream s;
  s << "[";
  for (const auto& m : b.messages) {
    s << " " << m.address << " ," << m.types;
    for (const auto& a : m.args) {
      if (auto* i = std::get_if<std::int32_t>(&a)) s << " " << *i;
      if (auto* f = std::get_if<float>(&a)) s << " " << *f << "f";
      if (auto* t = std::get_if<std::string>(&a)) s << " \"" << *t << "\"";
    }
    s << ";";
  }
  s << " ]";
  return s.str();
}

}  // namespace testsupport
