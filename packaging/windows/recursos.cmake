# quarvel_recursos_windows(TARGET DESCRIPTION): TARGET's version resource
# and application manifest (DPI awareness), from programa.rc.in. Compiled
# apart with windres: the project's compile options (-Wall...) are not its.
set(quarvel_recursos_dir ${CMAKE_CURRENT_LIST_DIR})
function(quarvel_recursos_windows objetivo descripcion)
  if(NOT CMAKE_RC_COMPILER)
    find_program(CMAKE_RC_COMPILER NAMES windres REQUIRED)
  endif()
  set(OBJETIVO ${objetivo})
  set(DESCRIPCION ${descripcion})
  set(MANIFIESTO ${quarvel_recursos_dir}/programa.manifest)
  set(V1 ${PROJECT_VERSION_MAJOR})
  set(V2 ${PROJECT_VERSION_MINOR})
  set(V3 ${PROJECT_VERSION_PATCH})
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${objetivo}.rc)
  set(obj ${CMAKE_CURRENT_BINARY_DIR}/${objetivo}_recursos.o)
  configure_file(${quarvel_recursos_dir}/programa.rc.in ${rc} @ONLY)
  add_custom_command(OUTPUT ${obj}
    COMMAND ${CMAKE_RC_COMPILER} -O coff -i ${rc} -o ${obj}
    DEPENDS ${rc} ${MANIFIESTO} VERBATIM)
  target_sources(${objetivo} PRIVATE ${obj})
endfunction()
