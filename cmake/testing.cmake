# vm_add_test(NAME SOURCES ... [LIBS ...] [LOCKS ...] [TIMEOUT s])
# One ctest entry per test program; GoogleTest prints the cases. LOCKS name
# what the test shares with others in the prefix (global hooks, the container
# program's single-instance guard, ...) so ctest never runs those at once.
function(vm_add_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LOCKS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE GTest::gtest_main GTest::gmock ${T_LIBS})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin/tests)
  add_test(NAME ${name} COMMAND ${name} --gtest_color=no)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT})
  # The container program takes the foreground when it shows a tab, so its
  # tests also hold the lock of the tests that read or move the foreground.
  if("container_program" IN_LIST T_LOCKS)
    list(APPEND T_LOCKS desktop_input)
    list(REMOVE_DUPLICATES T_LOCKS)
  endif()
  if(T_LOCKS)
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK "${T_LOCKS}")
  endif()
endfunction()
