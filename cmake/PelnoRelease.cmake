# How the Windows files that ship are built: hardened code generation for everything
# the Windows build compiles, and pelno_shipped() for the files of the distribution
# folder.

# The one version of the programs and the setup.
set(PELNO_VERSION 1.0.0 CACHE STRING "Version of the programs and the setup (major.minor.patch)")
if(NOT PELNO_VERSION MATCHES "^([0-9]+)\\.([0-9]+)\\.([0-9]+)$")
  message(FATAL_ERROR "PELNO_VERSION must be major.minor.patch, not '${PELNO_VERSION}'")
endif()
set(PELNO_VERSION_NUMBERS "${CMAKE_MATCH_1},${CMAKE_MATCH_2},${CMAKE_MATCH_3},0")

if(WIN32)
  # Stack canaries and checked string/memory functions; mingw-w64 takes both from
  # libssp, which -fstack-protector-strong at link time adds (statically, with -static).
  # _FORTIFY_SOURCE only works with optimisation.
  add_compile_options($<$<COMPILE_LANGUAGE:C,CXX>:-fstack-protector-strong>
                      $<$<AND:$<COMPILE_LANGUAGE:C,CXX>,$<NOT:$<CONFIG:Debug>>>:-D_FORTIFY_SOURCE=2>)
  add_link_options(-fstack-protector-strong
                   LINKER:--dynamicbase,--high-entropy-va,--nxcompat)

  # Debug information, kept apart from the shipped files (pelno_shipped).
  add_compile_options($<$<COMPILE_LANGUAGE:C,CXX>:-g>)

  # The same commit built in another folder gives the same bytes: no link time stamp,
  # and paths written relative to the checkout (the build folder's own too when it
  # lies elsewhere; GCC tries the map given last first).
  add_link_options(LINKER:--no-insert-timestamp)
  add_compile_options($<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${PROJECT_SOURCE_DIR}=.>)
  cmake_path(IS_PREFIX PROJECT_SOURCE_DIR "${CMAKE_BINARY_DIR}" build_inside)
  if(NOT build_inside)
    add_compile_options($<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_BINARY_DIR}=build>)
  endif()
endif()

# pelno_shipped(target [DESCRIPTION text]): a file of the distribution folder. It goes
# without symbols and debug sections; its debug information stays in
# build/<preset>/symbols/<file>.debug, which the file's .gnu_debuglink names, so a
# crash address can still be resolved. A program (with a DESCRIPTION) is also
# terminal-server aware and carries the version resource.
function(pelno_shipped target)
  cmake_parse_arguments(S "" "DESCRIPTION" "" ${ARGN})
  set(file $<TARGET_FILE:${target}>)
  set(debug ${CMAKE_BINARY_DIR}/symbols/$<TARGET_FILE_NAME:${target}>.debug)
  # objcopy writes the time of day as the PE time stamp unless SOURCE_DATE_EPOCH
  # says otherwise; 0 keeps the linker's none.
  set(objcopy ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=0 ${CMAKE_OBJCOPY})
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/symbols
    COMMAND ${objcopy} --only-keep-debug ${file} ${debug}
    COMMAND ${objcopy} --strip-all --add-gnu-debuglink=${debug} ${file}
    VERBATIM)
  if(S_DESCRIPTION)
    target_link_options(${target} PRIVATE LINKER:--tsaware)
    set(S_NAME ${target})
    set(S_FILE ${target}.exe)
    set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}-version.rc)
    configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${rc} @ONLY)
    target_sources(${target} PRIVATE ${rc})
  endif()
endfunction()
