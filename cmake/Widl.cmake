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

# widl_typelib(<idl> <out-dir> <out-var>): generates the 64-bit type library of
# <idl>'s library block; stdole2.tlb comes from Wine's Windows libraries.
function(widl_typelib idl outdir outvar)
  get_filename_component(name ${idl} NAME_WE)
  set(typelib ${outdir}/${name}.tlb)
  add_custom_command(
    OUTPUT ${typelib}
    COMMAND ${WIDL_EXECUTABLE} --win64 -I ${WINE_IDL_DIR} -L ${WINE_WINDOWS_LIB_DIR}
            -t -T ${typelib} ${idl}
    DEPENDS ${idl}
    COMMENT "widl ${name}.idl (type library)"
    VERBATIM)
  set(${outvar} ${typelib} PARENT_SCOPE)
endfunction()
