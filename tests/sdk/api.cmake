# End-to-end tests of the stream library's public C API (the shared library, as an integrator
# links it) against real RTSP servers and the scripted server of tests/support.
# Included from tests/sdk/CMakeLists.txt.
if(NOT TARGET KXRtspSdk OR NOT TARGET kxtestsupport)
  return()
endif()

add_executable(sdk_api_tests
  api_fixture.cpp
  api_frames_test.cpp
  api_h265_test.cpp
  api_auth_test.cpp
  api_start_test.cpp
  api_keepalive_test.cpp
  api_payload_test.cpp
  api_lifetime_test.cpp
  api_recorded_test.cpp
  api_record_test.cpp
  api_interop_test.cpp)
target_link_libraries(sdk_api_tests PRIVATE KXRtspSdk kxtestsupport GTest::gtest_main)
# Each case runs in its own process (the library is one instance per process), so ctest -j2
# runs the slow ones side by side. A hang ends at the per-test limit.
gtest_discover_tests(sdk_api_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 180 LABELS api)
# The command-line tool's own messages, run as a user runs it.
if(TARGET kxnetcli)
  add_dependencies(sdk_api_tests kxnetcli)
  target_compile_definitions(sdk_api_tests PRIVATE KXNETCLI_PROGRAM="$<TARGET_FILE:kxnetcli>")
endif()
