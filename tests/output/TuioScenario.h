#pragma once
// A fixed run of two publishers whose bundles a receiver can check against a
// hand-written list (TuioWireCheck). Built natively and for Windows, so the
// same bytes are checked from both builds.
namespace tuioscenario {

void Play(const char* host, int port);

}  // namespace tuioscenario
