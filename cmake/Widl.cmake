# widl_header(<idl> <out-dir> <out-var>): generates the C/C++ header for <idl>.
find_program(WIDL_EXECUTABLE widl REQUIRED)

function(widl_header idl outdir outvar)
  get_filename_component(name ${idl} NAME_WE)
  set(header ${outdir}/${name}.h)
  add_custom_command(
    OUTPUT ${header}
    COMMAND ${WIDL_EXECUTABLE} --win64 -I ${WINE_IDL_DIR} -h -H ${header} ${idl}
    DEPENDS ${idl}
    COMMENT "widl ${name}.idl"
    VERBATIM)
  set(${outvar} ${header} PARENT_SCOPE)
endfunction()
