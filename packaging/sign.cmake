# Signs one Windows program in place with the vendor's certificate (Authenticode, SHA-256).
# Usage: cmake -DSETTINGS=<build>/packaging/sign-settings.cmake -P sign.cmake FILE
#
# The certificate's password is read from the environment variable LAUNCHER_SIGN_PASSWORD
# now, at build time: it is never written into the build folder's cache or build files. It
# reaches osslsigncode through a file in a folder only this user can open, removed at once,
# so that it does not appear on a command line that other users can list.
cmake_minimum_required(VERSION 3.25)
include(${SETTINGS})
math(EXPR _last "${CMAKE_ARGC} - 1")
set(FILE "${CMAKE_ARGV${_last}}")
if(NOT EXISTS "${FILE}")
  message(FATAL_ERROR "sign: no file to sign at '${FILE}'")
endif()
if(NOT DEFINED ENV{LAUNCHER_SIGN_PASSWORD})
  message(FATAL_ERROR "sign: set the environment variable LAUNCHER_SIGN_PASSWORD to the password "
                      "of ${PKCS12} (this build folder signs with it; it is read at build time "
                      "only and never stored)")
endif()

set(work "${FILE}.signing")
file(REMOVE_RECURSE "${work}")
file(MAKE_DIRECTORY "${work}")
file(CHMOD "${work}" DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
file(WRITE "${work}/password" "$ENV{LAUNCHER_SIGN_PASSWORD}")

# A program signed before (the stamp was lost, the file was not linked again) is signed afresh.
execute_process(COMMAND "${OSSLSIGNCODE}" extract-signature -in "${FILE}" -out "${work}/old.der"
                RESULT_VARIABLE has_signature OUTPUT_QUIET ERROR_QUIET)
set(input "${FILE}")
if(has_signature EQUAL 0)
  execute_process(COMMAND "${OSSLSIGNCODE}" remove-signature -in "${FILE}" -out "${work}/unsigned"
                  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT result EQUAL 0)
    file(REMOVE_RECURSE "${work}")
    message(FATAL_ERROR "sign: cannot remove the old signature of ${FILE}:\n${out}")
  endif()
  set(input "${work}/unsigned")
endif()

set(command "${OSSLSIGNCODE}" sign -pkcs12 "${PKCS12}" -readpass "${work}/password" -h sha256
            -n "${DESCRIPTION}")
if(NOT TIMESTAMP_URL STREQUAL "")
  list(APPEND command -ts "${TIMESTAMP_URL}")
endif()
execute_process(COMMAND ${command} -in "${input}" -out "${work}/signed"
                RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
file(REMOVE "${work}/password")
if(NOT result EQUAL 0)
  file(REMOVE_RECURSE "${work}")
  message(FATAL_ERROR "sign: osslsigncode could not sign ${FILE} with ${PKCS12} "
                      "(wrong LAUNCHER_SIGN_PASSWORD?):\n${out}")
endif()
file(RENAME "${work}/signed" "${FILE}")
file(REMOVE_RECURSE "${work}")
