# How the Windows files that ship are built: hardened code generation for everything
# the Windows build compiles, and pelno_shipped() for the files of the distribution
# folder.

if(WIN32)
  # Stack canaries and checked string/memory functions; mingw-w64 takes both from
  # libssp, which -fstack-protector-strong at link time adds (statically, with -static).
  # _FORTIFY_SOURCE only works with optimisation.
  add_compile_options($<$<COMPILE_LANGUAGE:C,CXX>:-fstack-protector-strong>
                      $<$<AND:$<COMPILE_LANGUAGE:C,CXX>,$<NOT:$<CONFIG:Debug>>>:-D_FORTIFY_SOURCE=2>)
  add_link_options(-fstack-protector-strong
                   LINKER:--dynamicbase,--high-entropy-va,--nxcompat)
endif()

# pelno_shipped(target [DESCRIPTION text]): a file of the distribution folder. A
# program (with a DESCRIPTION) is terminal-server aware.
function(pelno_shipped target)
  cmake_parse_arguments(S "" "DESCRIPTION" "" ${ARGN})
  if(S_DESCRIPTION)
    target_link_options(${target} PRIVATE LINKER:--tsaware)
  endif()
endfunction()
