# Cross build of the Windows sources for 64-bit x86: the test flavour of the
# product, run under 64-bit Wine on hosts whose kernel runs no 32-bit code;
# the shipped product stays the i686 build.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake)
