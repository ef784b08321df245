# What the shipped binaries carry.

# vpl_split_debug_info(<target>): after every link the target's debug
# information moves into <file>.debug beside it, and the file itself is
# stripped and names that file in a debug link (.gnu_debuglink, with its CRC),
# so build/bin and the package hold small binaries while a crash dump can
# still be read with the matching .debug file (gdb looks for it beside the
# binary).
function(vpl_split_debug_info target)
  set(binary $<TARGET_FILE:${target}>)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_OBJCOPY} --only-keep-debug ${binary} ${binary}.debug
    COMMAND ${CMAKE_OBJCOPY} --strip-all --add-gnu-debuglink=${binary}.debug
            ${binary}
    COMMENT "Splitting the debug information of ${target}"
    VERBATIM)
endfunction()

# vpl_add_version_resource(<target> <description>): a version resource with
# the project version, for a program (the DLL has its own in plugin/).
function(vpl_add_version_resource target description)
  set(VPL_PROGRAM_NAME ${target})
  set(VPL_PROGRAM_DESCRIPTION ${description})
  set(rc ${CMAKE_BINARY_DIR}/generated/${target}-version.rc)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/ProgramVersion.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()
