# Shared build helpers.

# GoogleTest from its sources (Debian's by default), built with this tree's
# cross toolchain. gmock is not built: no test uses it.
set(VORN_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources, built with this tree's toolchain")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(${VORN_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
include(GoogleTest)

# vorn_gtest(<name> SOURCES ... [LIBS ...] [LABELS ...] [LOCKS ...] [FIXTURES ...] [TIMEOUT s])
# One CTest test per test case, each in its own Wine process, so module
# state starts at zero in every case. LOCKS names shared resources (the
# fixed section name, the fixed vendor path) that tests must not use at once;
# FIXTURES names CTest fixtures that must have been set up first.
function(vorn_gtest name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LABELS;LOCKS;FIXTURES" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} vorn_test_support GTest::gtest_main)
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
  if(T_LABELS OR T_LOCKS OR T_FIXTURES)
    set(script "${CMAKE_CURRENT_BINARY_DIR}/${name}_properties.cmake")
    set(text "if(${name}_TESTS)\n")
    if(T_LABELS)
      string(APPEND text "  set_tests_properties(\${${name}_TESTS} PROPERTIES LABELS \"${T_LABELS}\")\n")
    endif()
    if(T_LOCKS)
      string(APPEND text "  set_tests_properties(\${${name}_TESTS} PROPERTIES RESOURCE_LOCK \"${T_LOCKS}\")\n")
    endif()
    if(T_FIXTURES)
      string(APPEND text "  set_tests_properties(\${${name}_TESTS} PROPERTIES FIXTURES_REQUIRED \"${T_FIXTURES}\")\n")
    endif()
    string(APPEND text "endif()\n")
    file(WRITE "${script}" "${text}")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${script}")
  endif()
endfunction()

# The release zip holds one folder per build of the display host, each
# laid out as that build's folder: a user unpacking it by hand copies the
# contents of the one folder that fits LCDSmartie.exe.
set(VORN_ZIP_32 LCDSmartie-32bit)
set(VORN_ZIP_64 LCDSmartie-64bit)

# The programs and DLLs of the release, and nothing else: what
# tools/package.sh builds (cmake --build ... --target vorn_release).
add_custom_target(vorn_release)

# vorn_release_program(<target> DESCRIPTION <text> DESTINATION <folder in the zip>...)
# A program or DLL of the release zip: its version resource, no symbol
# tables or debug sections (they would triple its size, and name the build's
# files), the release time as its time stamp, and its places in the zip.
function(vorn_release_program target)
  cmake_parse_arguments(R "" "DESCRIPTION" "DESTINATION" ${ARGN})
  vorn_version_resource(${target} DESCRIPTION "${R_DESCRIPTION}")
  target_link_options(${target} PRIVATE -s)
  # ld stamps the PE header and the export table with SOURCE_DATE_EPOCH
  # where it is set, else with the time of the link.
  if(VORN_SOURCE_DATE_EPOCH)
    set_target_properties(${target} PROPERTIES
      CXX_LINKER_LAUNCHER "${CMAKE_COMMAND};-E;env;SOURCE_DATE_EPOCH=${VORN_SOURCE_DATE_EPOCH}")
  endif()
  add_dependencies(vorn_release ${target})
  foreach(destination ${R_DESTINATION})
    install(PROGRAMS $<TARGET_FILE:${target}> DESTINATION ${destination} COMPONENT release)
  endforeach()
endfunction()

# vorn_version_resource(<target> DESCRIPTION <text>)
# Gives a program or DLL a Windows version resource with the project
# version, generated at configure time from packaging/version.rc.in.
set(VORN_PRODUCT_NAME "Vorn MediaPad display chain")
if(PROJECT_VERSION_TWEAK)
  set(VORN_VERSION_TWEAK ${PROJECT_VERSION_TWEAK})
else()
  set(VORN_VERSION_TWEAK 0)
endif()
set(VORN_VERSION_FULL "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.${VORN_VERSION_TWEAK}")
function(vorn_version_resource target)
  cmake_parse_arguments(V "" "DESCRIPTION" "" ${ARGN})
  get_target_property(type ${target} TYPE)
  get_target_property(name ${target} OUTPUT_NAME)
  if(NOT name)
    set(name ${target})
  endif()
  if(type STREQUAL "EXECUTABLE")
    set(VORN_RC_TYPE VFT_APP)
    set(VORN_RC_FILE_NAME ${name}.exe)
  else()
    set(VORN_RC_TYPE VFT_DLL)
    set(VORN_RC_FILE_NAME ${name}.dll)
  endif()
  set(VORN_RC_INTERNAL_NAME ${name})
  set(VORN_RC_DESCRIPTION ${V_DESCRIPTION})
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  configure_file(${CMAKE_SOURCE_DIR}/packaging/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()
