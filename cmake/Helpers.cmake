# sa_library(name SOURCES ... DEPS ...): one static library per source folder.
function(sa_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  if(NOT ARG_SOURCES)
    # A folder whose sources have not been written yet still gives a target to link.
    set(placeholder ${CMAKE_CURRENT_BINARY_DIR}/${name}_empty.cpp)
    file(WRITE ${placeholder} "")
    set(ARG_SOURCES ${placeholder})
  endif()
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

# Adds every immediate subfolder of the current folder that has a CMakeLists.txt.
function(sa_add_subdirs)
  file(GLOB children LIST_DIRECTORIES true ${CMAKE_CURRENT_SOURCE_DIR}/*)
  foreach(child IN LISTS children)
    if(IS_DIRECTORY ${child} AND EXISTS ${child}/CMakeLists.txt)
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()
