# GoogleTest for both build trees, built from Debian's sources.
#
# kv_add_test(<name> SOURCES ... [LIBS ...] [NO_MAIN] [ENV VAR=VALUE ...])
# adds one test executable and one CTest test that runs it in one process
# (under Wine in the cross build). Each run writes a JUnit XML report to
# <build>/test-results/<name>.xml, from which scripts/run-tests counts cases.

set(KV_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(${KV_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

set(KV_RESULTS_DIR ${CMAKE_BINARY_DIR}/test-results)
file(MAKE_DIRECTORY ${KV_RESULTS_DIR})

function(kv_add_test name)
  cmake_parse_arguments(T "NO_MAIN" "" "SOURCES;LIBS;ENV" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
  if(T_NO_MAIN)
    target_link_libraries(${name} PRIVATE ${T_LIBS} gtest)
  else()
    target_link_libraries(${name} PRIVATE ${T_LIBS} gtest gtest_main)
  endif()
  if(CMAKE_CROSSCOMPILING)
    string(REPLACE "/" "\\" results "Z:${KV_RESULTS_DIR}/${name}.xml")
  else()
    set(results "${KV_RESULTS_DIR}/${name}.xml")
  endif()
  add_test(NAME ${name} COMMAND ${name} --gtest_output=xml:${results})
  set_tests_properties(${name} PROPERTIES TIMEOUT 300)
  if(T_ENV)
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "${T_ENV}")
  endif()
endfunction()

# kv_add_test_run(<name> <test executable target> [ARGS ...] [ENV VAR=VALUE ...])
# runs an existing test executable once more, as its own process, with other
# arguments or environment (for example another user language, which Wine
# takes from LC_ALL when the process starts).
function(kv_add_test_run name target)
  cmake_parse_arguments(T "" "" "ARGS;ENV" ${ARGN})
  if(CMAKE_CROSSCOMPILING)
    string(REPLACE "/" "\\" results "Z:${KV_RESULTS_DIR}/${name}.xml")
  else()
    set(results "${KV_RESULTS_DIR}/${name}.xml")
  endif()
  add_test(NAME ${name} COMMAND ${target} ${T_ARGS} --gtest_output=xml:${results})
  set_tests_properties(${name} PROPERTIES TIMEOUT 300)
  if(T_ENV)
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "${T_ENV}")
  endif()
endfunction()
