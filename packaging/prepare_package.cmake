# Run by cpack once the files are staged, before the package is made: strips
# the program and its shared objects and finds the package's dependencies,
# as dh_strip and dh_shlibdeps would. CPack's own dpkg-shlibdeps step is not
# used because it also adds ldconfig calls for every shared object under
# /usr/lib, and ours are private to /usr/lib/zavo: no other program links
# them, so the linker's cache has nothing to learn from them.
set(root "${CPACK_TEMPORARY_DIRECTORY}")

file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE "${root}" "${root}/*")
set(binaries)
foreach(file IN LISTS files)
  file(READ "${root}/${file}" magic LIMIT 4 HEX)
  if(magic STREQUAL "7f454c46" AND NOT IS_SYMLINK "${root}/${file}")
    list(APPEND binaries "${file}")
  endif()
endforeach()
if(NOT binaries)
  message(FATAL_ERROR "no program or shared object was staged in ${root}")
endif()

# The compiler's identification and the notes are of no use to a user.
execute_process(COMMAND "${CPACK_ZAVO_STRIP}" --strip-unneeded --remove-section=.comment
                        --remove-section=.note ${binaries}
                WORKING_DIRECTORY "${root}" COMMAND_ERROR_IS_FATAL ANY)

# dpkg-shlibdeps wants a debian/control, and finds the package's own libraries
# (the modules' $ORIGIN) below the folder that holds DEBIAN.
file(MAKE_DIRECTORY "${root}/debian" "${root}/DEBIAN")
file(WRITE "${root}/debian/control" "")
execute_process(COMMAND dpkg-shlibdeps -O ${binaries}
                WORKING_DIRECTORY "${root}" OUTPUT_VARIABLE substitution
                RESULT_VARIABLE status ERROR_VARIABLE errors)
file(REMOVE_RECURSE "${root}/debian" "${root}/DEBIAN")
if(NOT status EQUAL 0 OR NOT substitution MATCHES "shlibs:Depends=([^\n]+)")
  message(FATAL_ERROR "dpkg-shlibdeps failed: ${errors}")
endif()
set(CPACK_DEBIAN_PACKAGE_DEPENDS "${CMAKE_MATCH_1}, ${CPACK_ZAVO_FONT_DEPENDS}")
