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
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 120
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin
    PROPERTIES TIMEOUT ${T_TIMEOUT})
  # Labels and locks are lists, which gtest_discover_tests would flatten
  # into further property names (so a second lock was silently dropped).
  # They are set by a script of our own that CTest runs after discovery, on
  # the tests it found (the list ${name}_TESTS).
  if(T_LABELS OR T_LOCKS)
    set(script "${CMAKE_CURRENT_BINARY_DIR}/${name}_properties.cmake")
    set(text "if(${name}_TESTS)\n")
    if(T_LABELS)
      string(APPEND text "  set_tests_properties(\${${name}_TESTS} PROPERTIES LABELS \"${T_LABELS}\")\n")
    endif()
    if(T_LOCKS)
      string(APPEND text "  set_tests_properties(\${${name}_TESTS} PROPERTIES RESOURCE_LOCK \"${T_LOCKS}\")\n")
    endif()
    string(APPEND text "endif()\n")
    file(WRITE "${script}" "${text}")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${script}")
  endif()
endfunction()
