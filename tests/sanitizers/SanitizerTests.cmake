# In builds with BRELSO_SANITIZE_ADDRESS or BRELSO_SANITIZE_THREAD: every test discovered by
# gtest_discover_tests in the test folders gets the sanitizer options and the suppressions of
# this folder in its environment. Included from tests/CMakeLists.txt after its subdirectories.
set(_brelso_supp ${CMAKE_CURRENT_LIST_DIR})
# Set as ENVIRONMENT_MODIFICATION, so that the ENVIRONMENT a test folder gives its tests (the
# audio driver, the player's test home folder) stays as it is.
set(_brelso_env
  "ASAN_OPTIONS=set:detect_leaks=1:abort_on_error=0:strict_string_checks=1:detect_stack_use_after_return=0"
  "LSAN_OPTIONS=set:suppressions=${_brelso_supp}/lsan.supp:fast_unwind_on_malloc=0:print_suppressions=0"
  "UBSAN_OPTIONS=set:suppressions=${_brelso_supp}/ubsan.supp:print_stacktrace=1:halt_on_error=1"
  "TSAN_OPTIONS=set:suppressions=${_brelso_supp}/tsan.supp:detect_deadlocks=0:halt_on_error=0:report_signal_unsafe=0")

# TSan: its lock-order checker aborts inside GStreamer's plugin loading (it tracks at most 64
# locks held at once), so deadlock detection is off; races are still reported.

# The script run by ctest after the directory's own test files: it sets the environment of
# every test listed in a <target>_TESTS variable (what gtest_discover_tests defines).
set(_brelso_script ${CMAKE_CURRENT_BINARY_DIR}/SanitizerEnvironment.cmake)
file(WRITE ${_brelso_script} "
get_cmake_property(_vars VARIABLES)
foreach(_var IN LISTS _vars)
  if(_var MATCHES \"_TESTS$\" AND NOT _var STREQUAL \"_TESTS\")
    foreach(_test IN LISTS \${_var})
      set_tests_properties(\"\${_test}\" PROPERTIES ENVIRONMENT_MODIFICATION \"${_brelso_env}\")
    endforeach()
  endif()
endforeach()
")

function(_brelso_sanitizer_env dir)
  set_property(DIRECTORY ${dir} APPEND PROPERTY TEST_INCLUDE_FILES ${_brelso_script})
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(sub IN LISTS subdirs)
    _brelso_sanitizer_env(${sub})
  endforeach()
endfunction()
_brelso_sanitizer_env(${CMAKE_CURRENT_SOURCE_DIR})
