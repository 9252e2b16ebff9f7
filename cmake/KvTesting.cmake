# GoogleTest from Debian's source package, built for whichever flavour is configured.
set(KV_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest source tree")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
add_subdirectory(${KV_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/_deps/googletest EXCLUDE_FROM_ALL)
include(GoogleTest)

# kv_add_test(<name> LABEL <layer> SOURCES <files...> [LIBS <targets...>] [NEEDS_DISPLAY])
#
# Natively every GoogleTest case becomes its own CTest test. Under Wine each start
# of a process costs about a second, so there one executable is one CTest test.
# Every test carries its layer label so `ctest -L <layer>` runs one layer alone.
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
    set(env "KV_WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix")
    if(KT_NEEDS_DISPLAY)
      list(APPEND env "KV_NEEDS_DISPLAY=1")
    endif()
    set_tests_properties(${name} PROPERTIES
      LABELS "${KT_LABEL}"
      TIMEOUT ${KT_TIMEOUT}
      ENVIRONMENT "${env}")
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
