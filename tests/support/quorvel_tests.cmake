# Helpers for declaring tests.
#
# quorvel_add_test(NAME target [ARGS ...])          plain test, no network at all
# quorvel_add_netns_test(NAME target [ARGS ...] [NO_KERNEL_ECHO])
#     runs inside a private network namespace that has only loopback and a private /etc/hosts.
#     Every test that can reach the echo probe (GUI tests included) must use this one.
set(QUORVEL_NETNS_RUN ${CMAKE_CURRENT_LIST_DIR}/netns_run)

function(quorvel_add_test name target)
  add_test(NAME ${name} COMMAND $<TARGET_FILE:${target}> ${ARGN})
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()

function(quorvel_add_netns_test name target)
  cmake_parse_arguments(PARSE_ARGV 2 opt "NO_KERNEL_ECHO" "" "")
  set(env "QT_QPA_PLATFORM=offscreen")
  if(opt_NO_KERNEL_ECHO)
    list(APPEND env "QUORVEL_NETNS_NO_KERNEL_ECHO=1")
  endif()
  add_test(NAME ${name} COMMAND ${QUORVEL_NETNS_RUN} $<TARGET_FILE:${target}> ${opt_UNPARSED_ARGUMENTS})
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "${env}" SKIP_RETURN_CODE 77)
endfunction()

# quorvel_test_program(target lib...)   a Qt Test program built from target.cpp
function(quorvel_test_program target)
  add_executable(${target} ${target}.cpp)
  target_link_libraries(${target} PRIVATE ${ARGN} Qt6::Test)
endfunction()

# quorvel_add_desktop_test(NAME target [ARGS ...])
#     a netns test on its own virtual X screen under a window manager (tests/support/x_session_run);
#     skipped where Xvfb or openbox is missing.
function(quorvel_add_desktop_test name target)
  add_test(NAME ${name} COMMAND ${QUORVEL_NETNS_RUN} ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/x_session_run
           $<TARGET_FILE:${target}> ${ARGN})
  set_tests_properties(${name} PROPERTIES SKIP_RETURN_CODE 77 ENVIRONMENT
                       "LSAN_OPTIONS=suppressions=${CMAKE_CURRENT_FUNCTION_LIST_DIR}/lsan_desktop.supp")
endfunction()
