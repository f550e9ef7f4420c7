#pragma once
// Telling a service manager how the service is doing: the notification
// protocol of systemd's Type=notify units, written out (one datagram per
// state to the AF_UNIX socket named by NOTIFY_SOCKET), so the service
// needs no libsystemd. Without NOTIFY_SOCKET every call does nothing, as
// under any other supervisor, a shell or a test.
namespace platform {

// Sends `state` ("READY=1", "RELOADING=1", "STOPPING=1", ...); false when
// there is no manager to tell or the datagram was not taken.
bool NotifyServiceManager(const char* state);

}  // namespace platform
