# sa_library(name SOURCES ... DEPS ...): one static library per source folder.
function(sa_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${SA_ROOT})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
endfunction()

# sa_test(name SOURCES ... DEPS ...): a GoogleTest program, each test run as its own ctest case
# in a fresh application home (see tests/support).
function(sa_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;PROPERTIES" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} sa_test_support GTest::gmock GTest::gtest)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300 ${ARG_PROPERTIES})
endfunction()

# sa_bench(name SOURCES ... DEPS ...): a Google Benchmark program.
function(sa_bench name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  find_package(benchmark REQUIRED)
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} benchmark::benchmark)
  set_property(GLOBAL APPEND PROPERTY SA_BENCHES ${name})
endfunction()
