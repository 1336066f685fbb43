# tarnwick_add_test(NAME SOURCES <files> [LIBS <libs>] [LABELS <labels>] [TIMEOUT <s>]
#                   [WRAPPER <script>] [ARGS <command-line arguments>])
#
# One executable per test, run by ctest with the offscreen platform, a fixed
# locale and private HOME/XDG folders, so no test can reach a real display, the
# user's settings or the session bus. A WRAPPER script gets the test program as its argument
# (to set up servers around it) and exits 77 to report the test as skipped.
function(tarnwick_add_test name)
  cmake_parse_arguments(T "" "TIMEOUT;WRAPPER" "SOURCES;LIBS;LABELS;ARGS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS})
  # Shared helpers: #include "tests/common/..."
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  if(T_WRAPPER)
    add_test(NAME ${name} COMMAND ${T_WRAPPER} $<TARGET_FILE:${name}> ${T_ARGS})
    set_tests_properties(${name} PROPERTIES SKIP_RETURN_CODE 77)
  else()
    add_test(NAME ${name} COMMAND ${name} ${T_ARGS})
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  # Qt Test's own watchdog (five minutes a function by default) waits as long as ctest does, so
  # a slow function on a loaded machine is not killed before its test's time is up.
  set(home ${CMAKE_BINARY_DIR}/test-home/${name})
  file(MAKE_DIRECTORY ${home}/config ${home}/etc-xdg ${home}/runtime ${home}/data ${home}/cache)
  file(CHMOD ${home}/runtime PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
  set_tests_properties(${name} PROPERTIES
    ENVIRONMENT "QTEST_FUNCTION_TIMEOUT=${T_TIMEOUT}000;QT_QPA_PLATFORM=offscreen;LANG=C.UTF-8;LC_ALL=C.UTF-8;HOME=${home};XDG_CONFIG_HOME=${home}/config;XDG_CONFIG_DIRS=${home}/etc-xdg;XDG_RUNTIME_DIR=${home}/runtime;XDG_DATA_HOME=${home}/data;XDG_CACHE_HOME=${home}/cache;DBUS_SESSION_BUS_ADDRESS=disabled:;DBUS_SYSTEM_BUS_ADDRESS=disabled:;TARNWICK_SOURCE_DIR=${PROJECT_SOURCE_DIR};TARNWICK_TESTDATA=${PROJECT_SOURCE_DIR}/../shared/testdata"
    TIMEOUT ${T_TIMEOUT})
  if(T_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
  endif()
endfunction()
