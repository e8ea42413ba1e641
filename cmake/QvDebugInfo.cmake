# qv_split_debug_info(target): after each link the Windows binary is stripped
# and its debug information kept beside it as <file>.debug, named in the
# binary's .gnu_debuglink so gdb finds it. Tests and packages use the same
# stripped file.
function(qv_split_debug_info target)
  if(NOT WIN32)
    return()
  endif()
  set(file $<TARGET_FILE:${target}>)
  add_custom_command(
    TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_OBJCOPY} --only-keep-debug ${file} ${file}.debug
    COMMAND ${CMAKE_OBJCOPY} --strip-all ${file}
    # Run in the binary's folder: the link holds the base name and a CRC.
    COMMAND ${CMAKE_OBJCOPY} --add-gnu-debuglink=$<TARGET_FILE_NAME:${target}>.debug $<TARGET_FILE_NAME:${target}>
    WORKING_DIRECTORY $<TARGET_FILE_DIR:${target}>
    VERBATIM)
endfunction()
