# CPack pre-build script: removes the .comment and .note sections (compiler identification)
# from every program staged for a package, as Debian's own packaging does.
file(GLOB_RECURSE programs LIST_DIRECTORIES false "${CPACK_TEMPORARY_DIRECTORY}/*/usr/bin/*"
     "${CPACK_TEMPORARY_DIRECTORY}/usr/bin/*")
foreach(program ${programs})
  execute_process(COMMAND objcopy --remove-section=.comment --remove-section=.note ${program}
                  RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "objcopy failed on ${program}")
  endif()
endforeach()
