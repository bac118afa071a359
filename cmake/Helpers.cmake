# sa_library(name SOURCES ... DEPS ...): one static library per source folder.
function(sa_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  if(NOT ARG_SOURCES)
    # A folder of headers only (an interface the program calls but does not implement).
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${SA_ROOT})
    target_link_libraries(${name} INTERFACE ${ARG_DEPS})
    return()
  endif()
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${SA_ROOT})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
endfunction()

# sa_profile_logic_library(name SOURCES ... SETTING_SOURCES ... DEPS ... [LOGIC_DEPS ...]): a library
# in the two builds of the automatic profile logic: `name` with the logic off, and `name`_automatic
# with it on, made when the application is built with it (SA_AUTOMATIC_PROFILE_LOGIC) and for the
# tests of the logic. Only SETTING_SOURCES, the sources that read the setting
# (profiles/AutomaticProfileLogic.h), are compiled for each build; the others are compiled once,
# into the object library `name`_common that both builds hold, and never see the setting.
# LOGIC_DEPS are libraries made the same way: each build links the same build of them.
function(sa_profile_logic_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;SETTING_SOURCES;DEPS;LOGIC_DEPS" ${ARGN})
  add_library(${name}_common OBJECT ${ARG_SOURCES})
  target_include_directories(${name}_common PUBLIC ${SA_ROOT})
  set(common_deps ${ARG_LOGIC_DEPS})
  list(TRANSFORM common_deps APPEND _common)
  target_link_libraries(${name}_common PUBLIC ${ARG_DEPS} ${common_deps})
  set(builds 0)
  if(SA_AUTOMATIC_PROFILE_LOGIC OR SA_BUILD_TESTS)
    list(APPEND builds 1)
  endif()
  foreach(enabled IN LISTS builds)
    set(target ${name})
    set(logic_deps ${ARG_LOGIC_DEPS})
    if(enabled)
      set(target ${name}_automatic)
      list(TRANSFORM logic_deps APPEND _automatic)
    endif()
    add_library(${target} STATIC $<TARGET_OBJECTS:${name}_common> ${ARG_SETTING_SOURCES})
    target_include_directories(${target} PUBLIC ${SA_ROOT})
    target_link_libraries(${target} PUBLIC ${ARG_DEPS} ${logic_deps})
    target_compile_definitions(${target} PUBLIC SA_AUTOMATIC_PROFILE_LOGIC=${enabled})
  endforeach()
endfunction()

# sa_test(name [AUDIO_SERVER] [IN_ONE_PROCESS] SOURCES ... DEPS ...): a GoogleTest program, each
# test run as its own ctest case in a fresh application home (see tests/support). Disabled tests
# (DISABLED_ names) are the halves that a test runs in a second process
# (tests/support/ChildProcess.h); they are not ctest cases.
# The audio server of the test run (scripts/test-services) is one shared sink and its monitor: a
# test that plays into it or records from it hears every other such test. Only the tests of
# programs marked AUDIO_SERVER may reach it, and ctest runs them one at a time (resource lock
# "pulse_sink"); in every other program PULSE_SERVER names no server, so an engine started
# there finds no audio server, the same on every run.
# IN_ONE_PROCESS adds the case <name>.in_one_process that runs the whole program at once, as a
# plain `./<name>` would, in an order shuffled anew each run (the seed is printed first): it checks
# that no test depends on running alone or on the tests before it (each test still gets a fresh home
# from the test main, and a clean audio session).
function(sa_test name)
  cmake_parse_arguments(ARG "AUDIO_SERVER;IN_ONE_PROCESS" "" "SOURCES;DEPS;PROPERTIES" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} sa_test_support GTest::gmock GTest::gtest)
  set(properties TIMEOUT 300)
  # A program that reaches the process's audio session cleans it after every test.
  foreach(dep IN LISTS ARG_DEPS)
    if(dep MATCHES "^(platform_audio|analysis|profiles|app|app_automatic)$")
      target_sources(${name} PRIVATE ${SA_ROOT}/tests/support/audio-session/CleanAudioSessionPerTest.cpp)
      break()
    endif()
  endforeach()
  if(ARG_AUDIO_SERVER)
    target_sources(${name} PRIVATE ${SA_ROOT}/tests/support/audio-server/UsesSharedAudioServer.cpp)
    list(APPEND properties RESOURCE_LOCK pulse_sink)
  endif()
  if(SA_TSAN AND name IN_LIST SA_TSAN_TESTS)
    list(APPEND properties LABELS tsan)
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 TEST_FILTER "-*DISABLED_*"
                       PROPERTIES ${properties} ${ARG_PROPERTIES})
  if(ARG_IN_ONE_PROCESS)
    add_test(NAME ${name}.in_one_process COMMAND ${name} --gtest_shuffle)
    set_tests_properties(${name}.in_one_process PROPERTIES ${properties} ${ARG_PROPERTIES} TIMEOUT 600)
  endif()
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

# sa_fuzz_target(name SOURCES ... DEPS ... [SEED_INPUTS ...]): a fuzz target in tests/fuzz/<name>/, whose
# source defines LLVMFuzzerTestOneInput. In the test build it is linked with our own driver and runs as a
# ctest case that feeds it every seed of tests/fuzz/<name>/corpus/ once (plus the seeds an executable
# tests/fuzz/<name>/make-seeds script writes at build time), so that a crash found once stays found.
# SEED_INPUTS names the files the make-seeds script reads, so that its seeds are written again when
# they change.
# In the fuzz build (SA_FUZZ, clang) it is linked with libFuzzer and mutates for as long as asked.
function(sa_fuzz_target name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;SEED_INPUTS" ${ARGN})
  set(dir ${CMAKE_CURRENT_SOURCE_DIR}/${name})
  list(TRANSFORM ARG_SOURCES PREPEND ${dir}/)
  set(exe fuzz_${name})
  add_executable(${exe} ${ARG_SOURCES} ${SA_ROOT}/tests/fuzz/FuzzSupport.cpp)
  target_include_directories(${exe} PRIVATE ${SA_ROOT})
  target_link_libraries(${exe} PRIVATE ${ARG_DEPS})
  if(SA_FUZZ)
    target_link_options(${exe} PRIVATE -fsanitize=fuzzer)
  else()
    target_sources(${exe} PRIVATE ${SA_ROOT}/tests/fuzz/FuzzDriver.cpp)
  endif()
  set(corpora ${dir}/corpus)
  if(EXISTS ${dir}/make-seeds)
    set(generated ${CMAKE_CURRENT_BINARY_DIR}/${name}/generated)
    add_custom_command(OUTPUT ${generated}/.stamp
      COMMAND ${CMAKE_COMMAND} -E rm -rf ${generated}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${generated}
      COMMAND ${dir}/make-seeds ${generated}
      COMMAND ${CMAKE_COMMAND} -E touch ${generated}/.stamp
      DEPENDS ${dir}/make-seeds ${ARG_SEED_INPUTS}
      COMMENT "Writing the generated seeds of ${name}")
    add_custom_target(${exe}_seeds DEPENDS ${generated}/.stamp)
    add_dependencies(${exe} ${exe}_seeds)
    list(APPEND corpora ${generated})
  endif()
  set_property(GLOBAL APPEND PROPERTY SA_FUZZ_TARGETS ${name})
  if(NOT SA_FUZZ)
    add_test(NAME fuzz.${name} COMMAND ${exe} ${corpora})
    set_tests_properties(fuzz.${name} PROPERTIES TIMEOUT 600)
  endif()
endfunction()
