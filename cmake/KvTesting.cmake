# GoogleTest from Debian's source package, built for whichever flavour is configured.
set(KV_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest source tree")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
add_subdirectory(${KV_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/_deps/googletest EXCLUDE_FROM_ALL)
include(GoogleTest)

# kv_add_test(<name> LABEL <layer> SOURCES <files...> [LIBS <targets...>] [TIMEOUT <s>])
#
# Natively every GoogleTest case becomes its own CTest test. Under Wine each start
# of a process costs about a second, so there one executable is one CTest test.
# Every test carries its layer label so `ctest -L <layer>` runs one layer alone.
#
# Under Wine every test of the build runs with the one X display of the fixture kv_display
# (cmake/xvfb-fixture.sh): one Wine prefix must never see processes with and without a
# display, or with two displays. NEEDS_DISPLAY is still accepted and changes nothing.
set(KV_XVFB_FIXTURE_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/xvfb-fixture.sh)

function(kv_add_display_fixture)
  get_property(done GLOBAL PROPERTY KV_DISPLAY_FIXTURE_DEFINED)
  if(done)
    return()
  endif()
  set_property(GLOBAL PROPERTY KV_DISPLAY_FIXTURE_DEFINED TRUE)
  set(dir ${CMAKE_BINARY_DIR}/xvfb)
  set(prefix ${CMAKE_BINARY_DIR}/wineprefix)
  add_test(NAME kv_display_setup COMMAND sh ${KV_XVFB_FIXTURE_SCRIPT} setup ${dir} ${prefix})
  add_test(NAME kv_display_cleanup COMMAND sh ${KV_XVFB_FIXTURE_SCRIPT} cleanup ${dir} ${prefix})
  set_tests_properties(kv_display_setup PROPERTIES FIXTURES_SETUP kv_display TIMEOUT 120)
  set_tests_properties(kv_display_cleanup PROPERTIES FIXTURES_CLEANUP kv_display TIMEOUT 120)
endfunction()

# Makes a CTest test (added by kv_add_test or by add_test with a Windows executable) run with
# the build's display.
function(kv_use_display test)
  kv_add_display_fixture()
  set_property(TEST ${test} APPEND PROPERTY FIXTURES_REQUIRED kv_display)
  set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT
    "KV_DISPLAY_FILE=${CMAKE_BINARY_DIR}/xvfb/display"
    "KV_WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix")
endfunction()

function(kv_add_test name)
  cmake_parse_arguments(KT "NEEDS_DISPLAY" "LABEL;TIMEOUT" "SOURCES;LIBS" ${ARGN})
  if(NOT KT_LABEL)
    message(FATAL_ERROR "kv_add_test(${name}): LABEL is required")
  endif()
  if(NOT KT_TIMEOUT)
    set(KT_TIMEOUT 300)
  endif()
  add_executable(${name} ${KT_SOURCES})
  target_link_libraries(${name} PRIVATE ${KT_LIBS} GTest::gtest GTest::gtest_main)
  if(CMAKE_CROSSCOMPILING)
    add_test(NAME ${name} COMMAND ${name} --gtest_color=no)
    set_tests_properties(${name} PROPERTIES
      LABELS "${KT_LABEL}"
      TIMEOUT ${KT_TIMEOUT})
    kv_use_display(${name})
    # All executables share one Wine prefix, so its Windows directory (the configuration
    # files), its registry and its named mutexes are one machine for them: suites that use
    # that state run one at a time, as natively each test has a KORVATH_ROOT of its own.
    if(KT_LABEL MATCHES "^(foundations|model|business|services|ui|provider)$")
      set_property(TEST ${name} APPEND PROPERTY RESOURCE_LOCK kv_wine_machine_state)
    endif()
  else()
    gtest_discover_tests(${name}
      PROPERTIES LABELS "${KT_LABEL}" TIMEOUT ${KT_TIMEOUT}
      DISCOVERY_TIMEOUT 60)
  endif()
endfunction()
