# Registers a GoogleTest program's tests with CTest, each under a time limit well below ctest's
# global one, so a hung test fails within minutes and the report names it.
include(GoogleTest)
set(OMBRIK_TEST_TIMEOUT 150 CACHE STRING "Seconds one test may run before it counts as hung")

function(ombrik_discover_tests target)
  cmake_parse_arguments(ARG "" "" "PROPERTIES" ${ARGN})
  gtest_discover_tests(${target}
    DISCOVERY_MODE PRE_TEST
    PROPERTIES TIMEOUT ${OMBRIK_TEST_TIMEOUT} ${ARG_PROPERTIES})
endfunction()
