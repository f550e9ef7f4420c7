#include "platform/HidError.h"

#ifdef _WIN32
#include <windows.h>
#endif

#include <cerrno>

#include "platform/Trace.h"

namespace platform {

bool HidErrorRecord::Fail(std::string text) {
  const int savedErrno = errno;
#ifdef _WIN32
  const DWORD savedWin32 = GetLastError();
#endif
  TRACE_DEBUG("hid: %s", text.c_str());
  {
    std::lock_guard<std::mutex> lock(m_);
    text_ = std::move(text);
    set_.store(true, std::memory_order_release);
  }
#ifdef _WIN32
  SetLastError(savedWin32);
#endif
  errno = savedErrno;
  return false;
}

}  // namespace platform
