# Makes the Windows installer with NSIS, then signs it when the build folder signs.
# Usage (the "installer" target): cmake -DSETTINGS=<build>/packaging/installer-settings.cmake -P make_installer.cmake
cmake_minimum_required(VERSION 3.25)
include(${SETTINGS})

# What was right at configure time may have gone since: say which input is missing.
foreach(input LAUNCHER_EXE LAUNCHER_ICON NSIS_SETTINGS)
  if(NOT EXISTS "${${input}}")
    message(FATAL_ERROR "installer: ${input} '${${input}}' does not exist")
  endif()
endforeach()
if(NOT EXISTS "${RUNTIME_DIR}/bin/server/jvm.dll" AND NOT EXISTS "${RUNTIME_DIR}/bin/client/jvm.dll")
  message(FATAL_ERROR "installer: LAUNCHER_WINDOWS_RUNTIME_DIR '${RUNTIME_DIR}' holds neither "
                      "bin/server/jvm.dll nor bin/client/jvm.dll")
endif()
if(SIGN AND NOT DEFINED ENV{LAUNCHER_SIGN_PASSWORD})
  message(FATAL_ERROR "installer: set the environment variable LAUNCHER_SIGN_PASSWORD to the "
                      "password of ${SIGN}: this build folder signs the installer")
endif()

file(REMOVE "${OUT_FILE}")
# -INPUTCHARSET: the script and the settings are UTF-8 (Chinese texts and product names).
execute_process(COMMAND "${MAKENSIS}" -V2 -INPUTCHARSET UTF8 "-DSETTINGS=${NSIS_SETTINGS}"
                        "${NSIS_SCRIPT}"
                RESULT_VARIABLE result)
if(NOT result EQUAL 0 OR NOT EXISTS "${OUT_FILE}")
  file(REMOVE "${OUT_FILE}")
  message(FATAL_ERROR "installer: makensis failed (${result})")
endif()

if(SIGN)
  execute_process(COMMAND "${CMAKE_COMMAND}" "-DSETTINGS=${SIGN_SETTINGS}"
                          -P "${CMAKE_CURRENT_LIST_DIR}/../sign.cmake" "${OUT_FILE}"
                  RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    file(REMOVE "${OUT_FILE}")
    message(FATAL_ERROR "installer: signing failed")
  endif()
endif()
message(STATUS "Installer: ${OUT_FILE}")
