# CTest fixtures that run the cloud simulator (tools/cloudsim) for integration tests.
# See docs/cloudsim.md.
#
#   kv_add_cloudsim_fixture(<name> [FIXTURE_FILE <json>] [UNTRUSTED])
#   kv_use_cloudsim_fixture(<test-target> <name>)   # after kv_add_test(<test-target> ...)

set(KV_CLOUDSIM_SOURCE_DIR ${CMAKE_CURRENT_LIST_DIR}/../tools/cloudsim)
get_filename_component(KV_CLOUDSIM_SOURCE_DIR ${KV_CLOUDSIM_SOURCE_DIR} ABSOLUTE)
# The simulator is a native program; the windows build runs the one of a linux build.
set(KV_CLOUDSIM_EXECUTABLE "${CMAKE_SOURCE_DIR}/build/linux/tools/cloudsim/cloudsim"
    CACHE FILEPATH "Native cloudsim executable used by the tests of a cross build")

function(kv_add_cloudsim_fixture name)
  # UNTRUSTED: the CA goes into no store, for tests that a client refuses the simulator.
  cmake_parse_arguments(CS "UNTRUSTED" "FIXTURE_FILE" "" ${ARGN})
  if(NOT CS_FIXTURE_FILE)
    set(CS_FIXTURE_FILE ${KV_CLOUDSIM_SOURCE_DIR}/fixtures/default.json)
  endif()
  get_filename_component(CS_FIXTURE_FILE ${CS_FIXTURE_FILE} ABSOLUTE)
  if(TARGET cloudsim)
    set(exe $<TARGET_FILE:cloudsim>)
  else()
    set(exe ${KV_CLOUDSIM_EXECUTABLE})
  endif()
  set(dir ${CMAKE_BINARY_DIR}/cloudsim/${name})
  if(CMAKE_CROSSCOMPILING AND NOT CS_UNTRUSTED)
    # WinHTTP under Wine trusts the host store only. One name per build tree and fixture: a
    # rerun replaces its own CA, never another build's.
    string(MD5 hash "${CMAKE_BINARY_DIR}")
    string(SUBSTRING ${hash} 0 12 hash)
    set(store kv-cloudsim-${name}-${hash})
  else()
    # Native tests hand the CA file to libcurl; the host store is left alone.
    # (An untrusted fixture's tests do not hand it over either.)
    set(store -)
  endif()
  set(script ${KV_CLOUDSIM_SOURCE_DIR}/fixture.sh)

  add_test(NAME ${name}_setup COMMAND sh ${script} setup ${dir} ${exe} ${CS_FIXTURE_FILE} ${store})
  set_tests_properties(${name}_setup PROPERTIES FIXTURES_SETUP ${name} RESOURCE_LOCK ${name}
                       LABELS cloud TIMEOUT 60)
  add_test(NAME ${name}_cleanup COMMAND sh ${script} cleanup ${dir} ${store})
  set_tests_properties(${name}_cleanup PROPERTIES FIXTURES_CLEANUP ${name} RESOURCE_LOCK ${name}
                       LABELS cloud TIMEOUT 60)

  set_property(GLOBAL PROPERTY KV_CLOUDSIM_${name}_ENVIRONMENT
    "KV_CLOUDSIM_PORT_FILE=${dir}/port"
    "KV_TEST_CA_FILE=${dir}/ca.pem"
    "KV_CLOUDSIM_FIXTURE_FILE=${CS_FIXTURE_FILE}")
endfunction()

# Every CTest test of <test-target> requires the fixture, holds its lock (one simulator,
# one test at a time) and gets KV_CLOUDSIM_PORT_FILE, KV_TEST_CA_FILE and
# KV_CLOUDSIM_FIXTURE_FILE. Also for plain add_test() tests named <test-target>.
function(kv_use_cloudsim_fixture target name)
  get_property(env GLOBAL PROPERTY KV_CLOUDSIM_${name}_ENVIRONMENT)
  if(NOT env)
    message(FATAL_ERROR "kv_use_cloudsim_fixture: call kv_add_cloudsim_fixture(${name}) first")
  endif()
  if(CMAKE_CROSSCOMPILING OR NOT TARGET ${target})
    set_property(TEST ${target} APPEND PROPERTY ENVIRONMENT ${env})
    set_property(TEST ${target} APPEND PROPERTY FIXTURES_REQUIRED ${name})
    set_property(TEST ${target} APPEND PROPERTY RESOURCE_LOCK ${name})
  else()
    # gtest_discover_tests names the tests only at build time; its include file leaves the
    # names in <target>_TESTS, and this file, included after it, adds the properties.
    set(file ${CMAKE_CURRENT_BINARY_DIR}/${target}_cloudsim_${name}.cmake)
    file(WRITE ${file}
      "if(DEFINED ${target}_TESTS)\n"
      "  set_tests_properties(\${${target}_TESTS} PROPERTIES\n"
      "    FIXTURES_REQUIRED ${name} RESOURCE_LOCK ${name}\n"
      "    ENVIRONMENT \"${env}\")\n"
      "endif()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${file})
  endif()
endfunction()
