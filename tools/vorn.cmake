# Shared build helpers.

# GoogleTest from Debian's sources, built with this tree's cross toolchain.
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
include(GoogleTest)

# vorn_gtest(<name> SOURCES ... [LIBS ...] [LABELS ...] [LOCKS ...] [TIMEOUT s])
# One CTest test per test case, each in its own Wine process, so module
# state starts at zero in every case. LOCKS names shared resources (the
# fixed section name, the fixed vendor path) that tests must not use at once.
function(vorn_gtest name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LABELS;LOCKS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} vorn_test_support GTest::gmock GTest::gtest_main)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 60)
  endif()
  set(props TIMEOUT ${T_TIMEOUT})
  if(T_LABELS)
    list(APPEND props LABELS "${T_LABELS}")
  endif()
  if(T_LOCKS)
    list(APPEND props RESOURCE_LOCK "${T_LOCKS}")
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 120
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin
    PROPERTIES ${props})
endfunction()
