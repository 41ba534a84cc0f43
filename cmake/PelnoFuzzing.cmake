# libFuzzer targets, built with clang beside the native preset's own compiler.
#
# pelno_fuzz_target(NAME name SOURCES ... [DEPENDS header...] CORPUS dir)
# Builds `name` from the sources (paths relative to the calling folder) with
# -fsanitize=fuzzer,address,undefined and registers a bounded run of
# PELNO_FUZZ_SECONDS over the checked-in corpus as a test. New inputs go to a
# folder in the build tree, never into the corpus. Native builds only, and only
# when clang++ is found.
set(PELNO_FUZZ_SECONDS 5 CACHE STRING "Length of the fuzz runs in the test suite")
if(NOT WIN32)
  find_program(PELNO_FUZZ_CXX NAMES clang++-14 clang++)
endif()

function(pelno_fuzz_target)
  cmake_parse_arguments(F "" "NAME;CORPUS" "SOURCES;DEPENDS" ${ARGN})
  if(WIN32 OR NOT PELNO_FUZZ_CXX)
    return()
  endif()
  list(TRANSFORM F_SOURCES PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/)
  list(TRANSFORM F_DEPENDS PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/)
  set(exe ${CMAKE_CURRENT_BINARY_DIR}/fuzz/${F_NAME})
  add_custom_command(OUTPUT ${exe}
    COMMAND ${PELNO_FUZZ_CXX} -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined
            -fno-sanitize-recover=all -I${PROJECT_SOURCE_DIR} ${F_SOURCES} -o ${exe}
    DEPENDS ${F_SOURCES} ${F_DEPENDS}
    COMMENT "Building fuzz target ${F_NAME} with ${PELNO_FUZZ_CXX}"
    VERBATIM)
  add_custom_target(${F_NAME} ALL DEPENDS ${exe})
  set(found ${CMAKE_CURRENT_BINARY_DIR}/fuzz/${F_NAME}-found)
  file(MAKE_DIRECTORY ${found})
  add_test(NAME ${F_NAME}
    COMMAND ${exe} -max_total_time=${PELNO_FUZZ_SECONDS} -seed=1 -print_final_stats=1
            ${found} ${CMAKE_CURRENT_SOURCE_DIR}/${F_CORPUS})
  set_tests_properties(${F_NAME} PROPERTIES TIMEOUT 120)
endfunction()
