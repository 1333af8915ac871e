# Install-time step of the Linux package, right after the Java runtime has been copied into
# the package's staging folder: the runtime as Debian ships programs, whoever built it.
#   - every ELF file stripped of its symbol tables and build notes (a jlink'd runtime keeps
#     them: jlink's --strip-debug removes only the Java debugging information);
#   - no file left read-only for its owner (a JDK's legal notices are 0444), nothing
#     writable by others.
# The variables LAUNCHER_* are set by cmake/Packaging.cmake just before this script runs.
set(runtime "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${LAUNCHER_RUNTIME_DESTINATION}")
if(NOT IS_DIRECTORY "${runtime}")
  message(FATAL_ERROR "package: the runtime was not installed to ${runtime}")
endif()
if(NOT LAUNCHER_STRIP)
  message(FATAL_ERROR "package: no strip program was found to strip the runtime's libraries")
endif()
file(GLOB_RECURSE files LIST_DIRECTORIES false "${runtime}/*")
foreach(file IN LISTS files)
  if(IS_SYMLINK "${file}")
    continue()
  endif()
  file(READ "${file}" magic LIMIT 4 HEX)
  if(magic STREQUAL "7f454c46")
    execute_process(COMMAND "${LAUNCHER_STRIP}" --strip-unneeded --remove-section=.comment
                            --remove-section=.note "${file}"
                    RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
      message(FATAL_ERROR "package: ${LAUNCHER_STRIP} failed on ${file} (${result})")
    endif()
  endif()
endforeach()
execute_process(COMMAND chmod -R u+w,go-w "${runtime}" COMMAND_ERROR_IS_FATAL ANY)
