# Test helpers shared by every subsystem.
#
# On the Windows build every test runs under Wine through the cross-compiling
# emulator (cmake/wine-exec.sh). The fixture "wine_prefix" warms the prefix before
# the first test and ends its wineserver after the last one, so no wineserver is
# left holding the test runner's output open.

# Windows programs built on Linux run under Wine; built on Windows they run as they are.
if(WIN32 AND CMAKE_CROSSCOMPILING)
  set(PELNO_UNDER_WINE ON)
else()
  set(PELNO_UNDER_WINE OFF)
endif()

if(PELNO_UNDER_WINE)
  set(PELNO_DEFAULT_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/wine-exec.sh.in ${CMAKE_BINARY_DIR}/wine-exec
                 FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                  WORLD_READ WORLD_EXECUTE @ONLY)
  set(PELNO_WINE_EXEC ${CMAKE_BINARY_DIR}/wine-exec)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${PELNO_WINE_EXEC})

  add_test(NAME wine_prefix_up COMMAND ${PELNO_WINE_EXEC} --up)
  set_tests_properties(wine_prefix_up PROPERTIES FIXTURES_SETUP wine_prefix)
  add_test(NAME wine_prefix_down COMMAND ${PELNO_WINE_EXEC} --down)
  set_tests_properties(wine_prefix_down PROPERTIES FIXTURES_CLEANUP wine_prefix)
endif()

# pelno_gtest(NAME name SOURCES ... [LIBS ...] [LOCKS lock...] [PROPERTIES ...])
# A GoogleTest executable; each test case becomes one CTest test. With LOCKS (CTest
# resource locks) the executable is one CTest test instead: discovered tests can't
# carry a property value that is a list, and several locks are one.
function(pelno_gtest)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS;LOCKS;PROPERTIES" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  set(props ${T_PROPERTIES})
  if(PELNO_UNDER_WINE)
    list(APPEND props FIXTURES_REQUIRED wine_prefix)
  endif()
  if(T_LOCKS)
    add_test(NAME ${T_NAME} COMMAND ${T_NAME})
    set_tests_properties(${T_NAME} PROPERTIES ${props})
    set_tests_properties(${T_NAME} PROPERTIES RESOURCE_LOCK "${T_LOCKS}")
  else()
    gtest_discover_tests(${T_NAME} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                         TEST_PREFIX "${T_NAME}." PROPERTIES ${props})
  endif()
endfunction()

# pelno_python_test(NAME name SCRIPT file [LOCKS lock...] [TIMEOUT s] [PROPERTIES ...])
# A Python unittest script that drives the Windows programs from outside. It finds
# the programs through PELNO_BIN_DIR and runs them with PELNO_WINE_EXEC. LOCKS are
# CTest resource locks (shared ports, the prefix's proxy registry values).
# Registered only for the Wine build: the scripts start the programs through Wine.
function(pelno_python_test)
  cmake_parse_arguments(T "" "NAME;SCRIPT;TIMEOUT" "LOCKS;PROPERTIES" ${ARGN})
  if(NOT PELNO_UNDER_WINE)
    return()
  endif()
  add_test(NAME ${T_NAME} COMMAND ${Python3_EXECUTABLE} ${T_SCRIPT} -v)
  set_tests_properties(${T_NAME} PROPERTIES
    ENVIRONMENT "PELNO_BIN_DIR=${PELNO_PROGRAM_DIR};PELNO_WINE_EXEC=${PELNO_WINE_EXEC};PYTHONPATH=${PROJECT_SOURCE_DIR}/tests/support;PYTHONDONTWRITEBYTECODE=1"
    FIXTURES_REQUIRED wine_prefix
    ${T_PROPERTIES})
  if(T_LOCKS)
    set_tests_properties(${T_NAME} PROPERTIES RESOURCE_LOCK "${T_LOCKS}")
  endif()
  if(T_TIMEOUT)
    set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT})
  endif()
endfunction()

# pelno_program(target): a shipped Windows program, placed in build/win/bin.
function(pelno_program target)
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PELNO_PROGRAM_DIR})
endfunction()
