#pragma once
// Test-side receiver of OSC datagrams, decoded by liblo: an OSC
// implementation that shares no code with the encoder under test.
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace testsupport {

using OscArg = std::variant<std::int32_t, float, std::string>;

struct OscMessage {
  std::string address;
  std::string types;  // without the leading comma
  std::vector<OscArg> args;
};

struct OscBundle {
  std::uint32_t timetagSeconds = 0;
  std::uint32_t timetagFraction = 0;
  std::size_t datagramSize = 0;
  std::vector<OscMessage> messages;
};

// Decodes one datagram that must hold one bundle of messages. Throws
// std::runtime_error if liblo rejects it or it is not exactly one bundle.
OscBundle DecodeBundle(const std::vector<char>& datagram);

// A UDP socket on 127.0.0.1, on a port of its own or a given one.
class UdpCapture {
 public:
  UdpCapture() : UdpCapture(0) {}
  // On a given port (0: any free one). Throws if the port cannot be bound.
  explicit UdpCapture(int port);
  ~UdpCapture();
  UdpCapture(const UdpCapture&) = delete;
  UdpCapture& operator=(const UdpCapture&) = delete;

  int port() const { return port_; }
  int fd() const { return fd_; }
  // Every datagram waiting now; waits up to `timeoutMs` for the first one,
  // then up to `burstMs` for each further one.
  std::vector<std::vector<char>> drain(int timeoutMs = 200, int burstMs = 20);
  // Drains and decodes each datagram as one bundle.
  std::vector<OscBundle> bundles(int timeoutMs = 200);

 private:
  int fd_ = -1;
  int port_ = 0;
};

// Readable one-line form of a bundle, for failure messages.
std::string Describe(const OscBundle& b);

}  // namespace testsupport
