# Install-time step of the Linux package (run by "cmake --install" and so by CPack's
# "package" target, before anything is copied): checks the settings and makes the Java
# runtime, the menu icon and the package's Debian documents (its changelog), which the
# normal build does not make.
# The variables LAUNCHER_* are set by cmake/Packaging.cmake just before this script runs.
if(LAUNCHER_CONFIG_URL STREQUAL "")
  message(FATAL_ERROR "package: LAUNCHER_CONFIG_URL is not set, so there is no Config.ini to ship. "
                      "Configure again with -DLAUNCHER_CONFIG_URL=http://server/app/main.jar")
endif()

if(LAUNCHER_RUNTIME_GIVEN STREQUAL "")
  # jlink refuses an existing folder; a runtime made for other modules, or by another JDK
  # (or the same one updated since), is made again.
  set(wanted "${LAUNCHER_JLINK} --add-modules ${LAUNCHER_RUNTIME_MODULES}\n")
  get_filename_component(jdk "${LAUNCHER_JLINK}" DIRECTORY)
  if(EXISTS "${jdk}/../release")
    file(READ "${jdk}/../release" jdk_release)
    string(APPEND wanted "${jdk_release}")
  endif()
  set(made "")
  if(EXISTS "${LAUNCHER_RUNTIME}.made-with")
    file(READ "${LAUNCHER_RUNTIME}.made-with" made)
  endif()
  if(NOT made STREQUAL wanted OR NOT EXISTS "${LAUNCHER_RUNTIME}/lib/server/libjvm.so")
    if(NOT LAUNCHER_JLINK)
      message(FATAL_ERROR "package: jlink is missing (install openjdk-17-jdk-headless), or set "
                          "LAUNCHER_LINUX_RUNTIME_DIR to a Java runtime to ship")
    endif()
    message(STATUS "Making the Java runtime with jlink (${LAUNCHER_RUNTIME_MODULES})")
    file(REMOVE_RECURSE "${LAUNCHER_RUNTIME}" "${LAUNCHER_RUNTIME}.made-with")
    execute_process(
      COMMAND "${LAUNCHER_JLINK}" --add-modules "${LAUNCHER_RUNTIME_MODULES}" --strip-debug
              --no-header-files --no-man-pages --output "${LAUNCHER_RUNTIME}"
      RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
      file(REMOVE_RECURSE "${LAUNCHER_RUNTIME}")
      message(FATAL_ERROR "package: jlink failed (${result})")
    endif()
    file(WRITE "${LAUNCHER_RUNTIME}.made-with" "${wanted}")
  endif()
elseif(NOT EXISTS "${LAUNCHER_RUNTIME}/lib/server/libjvm.so")
  message(FATAL_ERROR "package: LAUNCHER_LINUX_RUNTIME_DIR '${LAUNCHER_RUNTIME}' holds no "
                      "lib/server/libjvm.so")
endif()

if(NOT EXISTS "${LAUNCHER_ICON_PNG}" OR "${LAUNCHER_ICON_SCRIPT}" IS_NEWER_THAN "${LAUNCHER_ICON_PNG}")
  if(NOT EXISTS "${LAUNCHER_ICON_SCRIPT}")
    message(FATAL_ERROR "package: the launcher's icon script make_icon.py was not found under src/")
  endif()
  execute_process(COMMAND "${LAUNCHER_PYTHON}" "${LAUNCHER_ICON_SCRIPT}" "${LAUNCHER_ICON_PNG}.ico"
                  COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND "${LAUNCHER_PYTHON}" "${LAUNCHER_PACKAGING_DIR}/linux/ico_png.py"
                          "${LAUNCHER_ICON_PNG}.ico" "${LAUNCHER_ICON_PNG}"
                  COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE "${LAUNCHER_ICON_PNG}.ico")
endif()

# The changelog of a native package: one entry for the version being packaged, dated now
# (or at SOURCE_DATE_EPOCH, for a reproducible package), compressed as Debian wants it.
string(TIMESTAMP changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
file(WRITE "${LAUNCHER_CHANGELOG}"
     "${LAUNCHER_PACKAGE_NAME} (${LAUNCHER_VERSION}) unstable; urgency=medium\n\n"
     "  * ${LAUNCHER_PRODUCT_NAME} ${LAUNCHER_VERSION}.\n\n"
     " -- ${LAUNCHER_MAINTAINER}  ${changelog_date}\n")
execute_process(COMMAND gzip -9nf "${LAUNCHER_CHANGELOG}" COMMAND_ERROR_IS_FATAL ANY)
