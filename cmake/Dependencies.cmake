# Third-party libraries, all from Debian's packages.
#
# Natively: libgtest-dev, liboscpack-dev, liblo-dev, libxml2-dev, libbenchmark-dev.
# Cross build: GoogleTest from Debian's sources in /usr/src/googletest, and
# oscpack from Debian's source package, unpacked into the build tree and
# compiled with the cross compiler (its sources never enter the repository).

# vantrel_oscpack_library(<win32|posix>): the static library oscpack from
# OSCPACK_DIR, a copy of Debian's oscpack source package in the build tree. Its headers choose the 32-bit types for x86_64
# only (elsewhere osc::int32 is a long, 8 bytes on arm64, and the library
# aborts at its first packet); the copy chooses them, and the overloads that
# go with them, for every LP64 target.
macro(vantrel_oscpack_library ip)
  # scripts/setup.sh keeps an unpacked copy in the user's cache, so that a
  # configure needs no network (tests may run in a network namespace).
  set(VANTREL_OSCPACK_SOURCE "$ENV{HOME}/.cache/vantrel/oscpack" CACHE PATH
      "Unpacked oscpack source package (fetched by scripts/setup.sh)")
  set(OSCPACK_DIR ${CMAKE_BINARY_DIR}/_deps/oscpack)
  if(NOT EXISTS ${OSCPACK_DIR}/osc/OscOutboundPacketStream.cpp
     AND EXISTS ${VANTREL_OSCPACK_SOURCE}/osc/OscOutboundPacketStream.cpp)
    file(COPY ${VANTREL_OSCPACK_SOURCE}/ DESTINATION ${OSCPACK_DIR})
  endif()
  if(NOT EXISTS ${OSCPACK_DIR}/osc/OscOutboundPacketStream.cpp)
    set(dl ${CMAKE_BINARY_DIR}/_deps/oscpack-download)
    file(REMOVE_RECURSE ${dl})
    file(MAKE_DIRECTORY ${dl})
    message(STATUS "Fetching Debian's oscpack source package")
    execute_process(COMMAND apt-get source -qq oscpack
                    WORKING_DIRECTORY ${dl}
                    RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
    file(GLOB unpacked LIST_DIRECTORIES true ${dl}/oscpack-*)
    list(FILTER unpacked EXCLUDE REGEX "\\.(dsc|xz|gz)$")
    if(NOT rc EQUAL 0 OR NOT unpacked)
      message(FATAL_ERROR "apt-get source oscpack failed: run scripts/setup.sh (it adds the deb-src entry)")
    endif()
    list(GET unpacked 0 src)
    file(RENAME ${src} ${OSCPACK_DIR})
    file(REMOVE_RECURSE ${dl})
  endif()
  foreach(_header osc/OscTypes.h osc/OscReceivedElements.h osc/OscOutboundPacketStream.h)
    file(READ ${OSCPACK_DIR}/${_header} _text)
    if(NOT _text MATCHES "__LP64__")
      string(REPLACE "defined(__x86_64__) || defined(_M_X64)"
                     "defined(__x86_64__) || defined(_M_X64) || defined(__LP64__)" _text "${_text}")
      file(WRITE ${OSCPACK_DIR}/${_header} "${_text}")
    endif()
  endforeach()
  add_library(oscpack STATIC
    ${OSCPACK_DIR}/ip/IpEndpointName.cpp
    ${OSCPACK_DIR}/ip/${ip}/NetworkingUtils.cpp
    ${OSCPACK_DIR}/ip/${ip}/UdpSocket.cpp
    ${OSCPACK_DIR}/osc/OscTypes.cpp
    ${OSCPACK_DIR}/osc/OscReceivedElements.cpp
    ${OSCPACK_DIR}/osc/OscOutboundPacketStream.cpp)
  target_include_directories(oscpack SYSTEM PUBLIC ${OSCPACK_DIR})
  target_compile_options(oscpack PRIVATE -w)
endmacro()

if(CMAKE_CROSSCOMPILING)
  # --- GoogleTest, compiled by the cross compiler -----------------------
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/_deps/googletest EXCLUDE_FROM_ALL)
  add_library(vantrel_gtest INTERFACE)
  target_link_libraries(vantrel_gtest INTERFACE gtest gmock)
  add_library(vantrel_gtest_main INTERFACE)
  target_link_libraries(vantrel_gtest_main INTERFACE gtest_main gmock)

  # --- oscpack from Debian's source package ------------------------------
  vantrel_oscpack_library(win32)
  target_link_libraries(oscpack PUBLIC ws2_32 winmm)
else()
  # The tests' libraries only where tests are built (a package build has
  # -DBUILD_TESTING=OFF and needs none of them).
  set(vantrel_tests ON)
  if(DEFINED BUILD_TESTING AND NOT BUILD_TESTING)
    set(vantrel_tests OFF)
  endif()
  if(vantrel_tests)
    find_package(GTest REQUIRED)
    add_library(vantrel_gtest INTERFACE)
    target_link_libraries(vantrel_gtest INTERFACE GTest::gtest GTest::gmock)
    add_library(vantrel_gtest_main INTERFACE)
    target_link_libraries(vantrel_gtest_main INTERFACE GTest::gtest_main GTest::gmock)
  endif()

  find_library(OSCPACK_LIBRARY oscpack REQUIRED)
  find_path(OSCPACK_INCLUDE_DIR osc/OscOutboundPacketStream.h PATH_SUFFIXES oscpack REQUIRED)
  # Debian's library as it is where its osc::int32 has 4 bytes (x86_64);
  # elsewhere (arm64) compiled from its source with the types chosen right.
  include(CheckCXXSourceCompiles)
  set(CMAKE_REQUIRED_INCLUDES ${OSCPACK_INCLUDE_DIR})
  check_cxx_source_compiles("#include <osc/OscTypes.h>
static_assert(sizeof(osc::int32) == 4, \"int32\");
int main() { return 0; }" VANTREL_OSCPACK_INT32_IS_4)
  unset(CMAKE_REQUIRED_INCLUDES)
  if(VANTREL_OSCPACK_INT32_IS_4)
    add_library(oscpack INTERFACE)
    target_include_directories(oscpack SYSTEM INTERFACE ${OSCPACK_INCLUDE_DIR})
    target_link_libraries(oscpack INTERFACE ${OSCPACK_LIBRARY})
  else()
    vantrel_oscpack_library(posix)
  endif()

  find_package(PkgConfig REQUIRED)
  if(vantrel_tests)
    pkg_check_modules(LIBLO REQUIRED IMPORTED_TARGET liblo)
    # libxml2 reads the XML touch documents in tests, independently of ours.
    pkg_check_modules(LIBXML2 REQUIRED IMPORTED_TARGET libxml-2.0)
    find_package(benchmark QUIET)
  endif()
  find_package(Threads REQUIRED)
endif()
