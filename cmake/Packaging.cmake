# The vendor kit: what a vendor hands to its customers, built from the same tree.
#   Windows: the "installer" target makes <product>-<version>-setup.exe with NSIS (makensis);
#            given a code-signing certificate, the build signs Launcher.exe and the installer.
#   Linux:   CPack's "package" target makes a .deb that installs under /opt/<package>.
# Neither is part of "all": the Java runtime is copied (Windows) or made with jlink (Linux)
# only when the installer or the package is made.
set(LAUNCHER_PACKAGING_DIR ${CMAKE_SOURCE_DIR}/packaging)
set(LAUNCHER_PACKAGING_BINARY_DIR ${CMAKE_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${LAUNCHER_PACKAGING_BINARY_DIR})
find_package(Python3 REQUIRED COMPONENTS Interpreter)

set(LAUNCHER_CONFIG_URL "" CACHE STRING
    "The one line of the shipped Config.ini: the full URL of the main jar")
if(NOT LAUNCHER_CONFIG_URL STREQUAL ""
   AND NOT LAUNCHER_CONFIG_URL MATCHES "^https?://[^/ \t\r\n\"]+/[^ \t\r\n\"]*[^/ \t\r\n\"]$")
  message(FATAL_ERROR "LAUNCHER_CONFIG_URL must be the full URL of the main jar, like "
                      "http://server/app/main.jar, not '${LAUNCHER_CONFIG_URL}'")
endif()

# A quoted string of the generated NSIS settings: NSIS expands $ even inside quotes.
function(_launcher_nsis_quote out value)
  string(REPLACE "$" "$$" value "${value}")
  set(${out} "\"${value}\"" PARENT_SCOPE)
endfunction()

if(WIN32)
  # --- Windows: code signing -------------------------------------------------------------
  set(LAUNCHER_SIGN_PKCS12 "" CACHE FILEPATH
      "Code-signing certificate (PKCS#12; password: LAUNCHER_SIGN_PASSWORD at build time)")
  set(LAUNCHER_SIGN_TIMESTAMP_URL "" CACHE STRING
      "RFC 3161 time-stamping server for the signatures; empty: no time stamp")
  if(LAUNCHER_SIGN_PKCS12)
    if(NOT EXISTS "${LAUNCHER_SIGN_PKCS12}" OR IS_DIRECTORY "${LAUNCHER_SIGN_PKCS12}")
      message(FATAL_ERROR "LAUNCHER_SIGN_PKCS12: no certificate file at '${LAUNCHER_SIGN_PKCS12}'")
    endif()
    find_program(LAUNCHER_OSSLSIGNCODE osslsigncode)
    if(NOT LAUNCHER_OSSLSIGNCODE)
      message(FATAL_ERROR "LAUNCHER_SIGN_PKCS12 is set but osslsigncode is missing: "
                          "apt-get install osslsigncode (or run scripts/install-deps)")
    endif()
  endif()
  if(NOT LAUNCHER_SIGN_TIMESTAMP_URL STREQUAL ""
     AND NOT LAUNCHER_SIGN_TIMESTAMP_URL MATCHES "^https?://[^ \t\r\n\"]+$")
    message(FATAL_ERROR "LAUNCHER_SIGN_TIMESTAMP_URL must be an http(s) URL, "
                        "not '${LAUNCHER_SIGN_TIMESTAMP_URL}'")
  endif()
  # Said once per build folder, and again only when the choice changes.
  if(LAUNCHER_SIGN_PKCS12)
    string(CONCAT _sign_notice "Code signing: Launcher.exe and the installer are signed with "
           "${LAUNCHER_SIGN_PKCS12} (SHA-256, password from LAUNCHER_SIGN_PASSWORD at build time)")
  else()
    string(CONCAT _sign_notice "Code signing: off, no LAUNCHER_SIGN_PKCS12 given: "
           "Launcher.exe and the installer are not signed")
  endif()
  if(NOT "${_sign_notice}" STREQUAL "${LAUNCHER_SIGN_NOTICE_SHOWN}")
    message(STATUS "${_sign_notice}")
    set(LAUNCHER_SIGN_NOTICE_SHOWN "${_sign_notice}" CACHE INTERNAL "")
  endif()

  set(_sign_settings ${LAUNCHER_PACKAGING_BINARY_DIR}/sign-settings.cmake)
  file(CONFIGURE OUTPUT ${_sign_settings} CONTENT [[
# Written by cmake/Packaging.cmake: the signing settings of this build folder (no password).
set(OSSLSIGNCODE "@LAUNCHER_OSSLSIGNCODE@")
set(PKCS12 "@LAUNCHER_SIGN_PKCS12@")
set(TIMESTAMP_URL "@LAUNCHER_SIGN_TIMESTAMP_URL@")
set(DESCRIPTION "@LAUNCHER_PRODUCT_NAME@")
]] @ONLY)
  set(_sign_command ${CMAKE_COMMAND} -DSETTINGS=${_sign_settings}
                    -P ${LAUNCHER_PACKAGING_DIR}/sign.cmake)

  # Launcher.exe is signed in place once it is linked; the stamp stands for that signature.
  if(LAUNCHER_SIGN_PKCS12)
    set(_signed_stamp ${LAUNCHER_PACKAGING_BINARY_DIR}/Launcher.exe.signed)
    add_custom_command(
      OUTPUT ${_signed_stamp}
      COMMAND ${_sign_command} $<TARGET_FILE:Launcher>
      COMMAND ${CMAKE_COMMAND} -E touch ${_signed_stamp}
      DEPENDS Launcher ${LAUNCHER_PACKAGING_DIR}/sign.cmake ${_sign_settings}
      COMMENT "Signing Launcher.exe"
      VERBATIM)
    add_custom_target(sign_launcher ALL DEPENDS ${_signed_stamp})
  endif()

  # --- Windows: the installer --------------------------------------------------------------
  set(LAUNCHER_WINDOWS_RUNTIME_DIR "" CACHE PATH
      "Windows Java runtime to ship as java beside Launcher.exe (bin/server or bin/client/jvm.dll)")
  if(LAUNCHER_WINDOWS_RUNTIME_DIR AND NOT EXISTS "${LAUNCHER_WINDOWS_RUNTIME_DIR}/bin/server/jvm.dll"
     AND NOT EXISTS "${LAUNCHER_WINDOWS_RUNTIME_DIR}/bin/client/jvm.dll")
    message(FATAL_ERROR "LAUNCHER_WINDOWS_RUNTIME_DIR must be a Java runtime holding "
                        "bin/server/jvm.dll or bin/client/jvm.dll: '${LAUNCHER_WINDOWS_RUNTIME_DIR}'")
  endif()
  find_program(LAUNCHER_MAKENSIS makensis)

  set(LAUNCHER_INSTALLER_FILE
      ${CMAKE_BINARY_DIR}/${LAUNCHER_PRODUCT_NAME}-${LAUNCHER_VERSION}-setup.exe)
  set(_installer_missing)
  if(NOT LAUNCHER_WINDOWS_RUNTIME_DIR)
    list(APPEND _installer_missing "LAUNCHER_WINDOWS_RUNTIME_DIR (the Windows Java runtime to ship)")
  endif()
  if(LAUNCHER_CONFIG_URL STREQUAL "")
    list(APPEND _installer_missing "LAUNCHER_CONFIG_URL (the Config.ini line)")
  endif()
  if(NOT LAUNCHER_MAKENSIS)
    list(APPEND _installer_missing "makensis (apt-get install nsis, or run scripts/install-deps)")
  endif()

  if(_installer_missing)
    # The rest of the build does not need these: only this target fails, and says why.
    list(JOIN _installer_missing " and " _missing_text)
    string(CONCAT _missing_text "installer: cannot make the installer without ${_missing_text}. "
           "Configure again with, e.g., -DLAUNCHER_WINDOWS_RUNTIME_DIR=/path/to/runtime "
           "-DLAUNCHER_CONFIG_URL=http://server/app/main.jar")
    add_custom_target(installer
      COMMAND ${CMAKE_COMMAND} -E echo "${_missing_text}"
      COMMAND ${CMAKE_COMMAND} -E false
      VERBATIM)
  else()
    file(CONFIGURE OUTPUT ${LAUNCHER_PACKAGING_BINARY_DIR}/Config.ini
         CONTENT "${LAUNCHER_CONFIG_URL}\n" NEWLINE_STYLE CRLF)
    if(LAUNCHER_INSTALLER_LANGUAGE STREQUAL "en")
      set(_nsis_language English)
    else()
      set(_nsis_language SimpChinese)
    endif()
    _launcher_nsis_quote(_q_name "${LAUNCHER_PRODUCT_NAME}")
    _launcher_nsis_quote(_q_publisher "${LAUNCHER_PUBLISHER}")
    _launcher_nsis_quote(_q_runtime "${LAUNCHER_WINDOWS_RUNTIME_DIR}")
    _launcher_nsis_quote(_q_config "${LAUNCHER_PACKAGING_BINARY_DIR}/Config.ini")
    _launcher_nsis_quote(_q_out "${LAUNCHER_INSTALLER_FILE}")
    _launcher_nsis_quote(_q_texts "${LAUNCHER_PACKAGING_DIR}/windows/texts.nsh")
    set(_nsis_sign "")
    if(LAUNCHER_SIGN_PKCS12)
      # The uninstaller that the installer writes at install time is signed as it is built.
      list(JOIN _sign_command "\" \"" _sign_joined)
      set(_nsis_sign "!define SIGN_UNINSTALLER '\"${_sign_joined}\" \"%1\"'")
    endif()
    # The file is written with generator expressions (the launcher's and the icon's paths).
    set(_settings_in ${LAUNCHER_PACKAGING_BINARY_DIR}/installer-settings.nsh.in)
    file(CONFIGURE OUTPUT ${_settings_in} CONTENT [[
; Written by cmake/Packaging.cmake: what this build folder's installer is made of.
!define PRODUCT_NAME @_q_name@
!define PRODUCT_PUBLISHER @_q_publisher@
!define PRODUCT_VERSION "@LAUNCHER_VERSION@"
!define INSTALLER_LANGUAGE "@_nsis_language@"
!define LAUNCHER_EXE "$<TARGET_FILE:Launcher>"
!define LAUNCHER_ICON "$<TARGET_PROPERTY:Launcher,BINARY_DIR>/launcher.ico"
!define CONFIG_FILE @_q_config@
!define RUNTIME_DIR @_q_runtime@
!define OUT_FILE @_q_out@
!define TEXTS_FILE @_q_texts@
@_nsis_sign@
]] @ONLY)
    file(GENERATE OUTPUT ${LAUNCHER_PACKAGING_BINARY_DIR}/installer-settings.nsh
         INPUT ${_settings_in})

    set(_installer_settings ${LAUNCHER_PACKAGING_BINARY_DIR}/installer-settings.cmake)
    file(CONFIGURE OUTPUT ${_installer_settings}.in CONTENT [[
# Written by cmake/Packaging.cmake: the inputs that make_installer.cmake checks and uses.
set(MAKENSIS "@LAUNCHER_MAKENSIS@")
set(NSIS_SCRIPT "@LAUNCHER_PACKAGING_DIR@/windows/installer.nsi")
set(NSIS_SETTINGS "@LAUNCHER_PACKAGING_BINARY_DIR@/installer-settings.nsh")
set(LAUNCHER_EXE "$<TARGET_FILE:Launcher>")
set(LAUNCHER_ICON "$<TARGET_PROPERTY:Launcher,BINARY_DIR>/launcher.ico")
set(RUNTIME_DIR "@LAUNCHER_WINDOWS_RUNTIME_DIR@")
set(OUT_FILE "@LAUNCHER_INSTALLER_FILE@")
set(SIGN "@LAUNCHER_SIGN_PKCS12@")
set(SIGN_SETTINGS "@_sign_settings@")
]] @ONLY)
    file(GENERATE OUTPUT ${_installer_settings} INPUT ${_installer_settings}.in)

    add_custom_target(installer
      COMMAND ${CMAKE_COMMAND} -DSETTINGS=${_installer_settings}
              -P ${LAUNCHER_PACKAGING_DIR}/windows/make_installer.cmake
      COMMENT "Making ${LAUNCHER_PRODUCT_NAME}-${LAUNCHER_VERSION}-setup.exe"
      VERBATIM USES_TERMINAL)
    add_dependencies(installer Launcher)
    if(TARGET sign_launcher)
      add_dependencies(installer sign_launcher)
    endif()
  endif()

else()
  # --- Linux: the .deb (CPack) ----------------------------------------------------------------
  set(LAUNCHER_LINUX_RUNTIME_DIR "" CACHE PATH
      "Java runtime to ship (lib/server/libjvm.so); empty: made with jlink from the build machine's JDK")
  set(LAUNCHER_LINUX_RUNTIME_MODULES "java.base,java.desktop" CACHE STRING
      "Java modules of the runtime made with jlink, separated by commas")
  if(LAUNCHER_LINUX_RUNTIME_DIR AND NOT EXISTS "${LAUNCHER_LINUX_RUNTIME_DIR}/lib/server/libjvm.so")
    message(FATAL_ERROR "LAUNCHER_LINUX_RUNTIME_DIR must be a Java runtime holding "
                        "lib/server/libjvm.so: '${LAUNCHER_LINUX_RUNTIME_DIR}'")
  endif()
  if(NOT LAUNCHER_LINUX_RUNTIME_MODULES MATCHES "^[A-Za-z0-9_.]+(,[A-Za-z0-9_.]+)*$")
    message(FATAL_ERROR "LAUNCHER_LINUX_RUNTIME_MODULES must be module names separated by commas, "
                        "like java.base,java.desktop, not '${LAUNCHER_LINUX_RUNTIME_MODULES}'")
  endif()

  # The package (and folder under /opt) is the product name in Debian's spelling, or the
  # product word when the name has letters a package name cannot hold.
  string(TOLOWER "${LAUNCHER_PRODUCT_NAME}" LAUNCHER_PACKAGE_NAME)
  string(REGEX REPLACE "[ _]+" "-" LAUNCHER_PACKAGE_NAME "${LAUNCHER_PACKAGE_NAME}")
  if(NOT LAUNCHER_PACKAGE_NAME MATCHES "^[a-z0-9][a-z0-9.+-]+$")
    string(TOLOWER "${LAUNCHER_PRODUCT_WORD}" LAUNCHER_PACKAGE_NAME)
    string(REPLACE "_" "-" LAUNCHER_PACKAGE_NAME "${LAUNCHER_PACKAGE_NAME}")
  endif()
  if(NOT LAUNCHER_PACKAGE_NAME MATCHES "^[a-z0-9][a-z0-9.+-]+$")
    message(FATAL_ERROR "Neither LAUNCHER_PRODUCT_NAME nor LAUNCHER_PRODUCT_WORD gives a Debian "
                        "package name (two or more of a-z 0-9 . + -, starting with a letter or digit)")
  endif()
  set(_opt opt/${LAUNCHER_PACKAGE_NAME})

  # The runtime is made from the JDK whose JNI headers the launcher is built with.
  get_filename_component(_jdk "${LAUNCHER_JNI_INCLUDE_DIR}" DIRECTORY)
  find_program(LAUNCHER_JLINK jlink HINTS ${_jdk}/bin NO_DEFAULT_PATH)
  # The menu icon is the Windows launcher's, drawn by the same script.
  file(GLOB_RECURSE _icon_script ${CMAKE_SOURCE_DIR}/src/make_icon.py)
  if(_icon_script)
    list(GET _icon_script 0 _icon_script)
  endif()
  if(LAUNCHER_LINUX_RUNTIME_DIR)
    set(_runtime ${LAUNCHER_LINUX_RUNTIME_DIR})
  else()
    set(_runtime ${LAUNCHER_PACKAGING_BINARY_DIR}/java)
  endif()
  if(NOT LAUNCHER_CONFIG_URL STREQUAL "")
    file(CONFIGURE OUTPUT ${LAUNCHER_PACKAGING_BINARY_DIR}/Config.ini
         CONTENT "${LAUNCHER_CONFIG_URL}\n")
  endif()
  configure_file(${LAUNCHER_PACKAGING_DIR}/linux/launcher.desktop.in
                 ${LAUNCHER_PACKAGING_BINARY_DIR}/${LAUNCHER_PACKAGE_NAME}.desktop @ONLY)

  # Debian wants a maintainer it can write to: the publisher when it reads "Name <email>",
  # else the publisher's name with a placeholder address that says it must be set.
  if(LAUNCHER_PUBLISHER MATCHES "^[^<>]*[^<> ] <[^<>@ ]+@[^<>@ ]+\\.[^<>@ ]+>$")
    set(LAUNCHER_MAINTAINER "${LAUNCHER_PUBLISHER}")
  else()
    set(LAUNCHER_MAINTAINER "${LAUNCHER_PUBLISHER} <maintainer@example.com>")
    message(STATUS "Linux package maintainer: ${LAUNCHER_MAINTAINER} "
                   "(set LAUNCHER_PUBLISHER to \"Name <email>\" to name a real one)")
  endif()
  # Debian documents: who holds the rights to what, and lintian's overrides for what a
  # vendor's package under /opt does on purpose.
  set(_doc usr/share/doc/${LAUNCHER_PACKAGE_NAME})
  string(TIMESTAMP _copyright_year "%Y" UTC)
  file(CONFIGURE OUTPUT ${LAUNCHER_PACKAGING_BINARY_DIR}/copyright CONTENT [[
Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: @LAUNCHER_PRODUCT_NAME@
Upstream-Contact: @LAUNCHER_MAINTAINER@

Files: *
Copyright: @_copyright_year@ @LAUNCHER_PUBLISHER@
License: proprietary
 @LAUNCHER_PRODUCT_NAME@ and its launcher are distributed by @LAUNCHER_PUBLISHER@
 under the terms the publisher gives with them.

Files: opt/@LAUNCHER_PACKAGE_NAME@/java/*
Copyright: the authors named in /opt/@LAUNCHER_PACKAGE_NAME@/java/legal/
License: GPL-2 with Classpath exception
 The Java runtime is distributed under the GNU General Public License, version 2,
 with the Classpath Exception and the further terms in
 /opt/@LAUNCHER_PACKAGE_NAME@/java/legal/. On Debian systems, the complete text of
 the GNU General Public License version 2 can be found in
 /usr/share/common-licenses/GPL-2.
]] @ONLY)
  file(CONFIGURE OUTPUT ${LAUNCHER_PACKAGING_BINARY_DIR}/lintian-overrides CONTENT [[
# A vendor's application with its own Java runtime, kept apart from the system's files.
@LAUNCHER_PACKAGE_NAME@: dir-or-file-in-opt
# The runtime's own jar, where the runtime looks for it.
@LAUNCHER_PACKAGE_NAME@: jar-not-in-usr-share
]] @ONLY)

  # What the package holds is made when it is installed (by CPack into its staging folder):
  # checked first, so that a missing setting stops the package before anything is copied.
  install(CODE "
    set(LAUNCHER_CONFIG_URL [==[${LAUNCHER_CONFIG_URL}]==])
    set(LAUNCHER_RUNTIME_GIVEN [==[${LAUNCHER_LINUX_RUNTIME_DIR}]==])
    set(LAUNCHER_RUNTIME [==[${_runtime}]==])
    set(LAUNCHER_RUNTIME_MODULES [==[${LAUNCHER_LINUX_RUNTIME_MODULES}]==])
    set(LAUNCHER_JLINK [==[${LAUNCHER_JLINK}]==])
    set(LAUNCHER_ICON_SCRIPT [==[${_icon_script}]==])
    set(LAUNCHER_ICON_PNG [==[${LAUNCHER_PACKAGING_BINARY_DIR}/${LAUNCHER_PACKAGE_NAME}.png]==])
    set(LAUNCHER_PACKAGING_DIR [==[${LAUNCHER_PACKAGING_DIR}]==])
    set(LAUNCHER_PYTHON [==[${Python3_EXECUTABLE}]==])
    set(LAUNCHER_PACKAGE_NAME [==[${LAUNCHER_PACKAGE_NAME}]==])
    set(LAUNCHER_PRODUCT_NAME [==[${LAUNCHER_PRODUCT_NAME}]==])
    set(LAUNCHER_VERSION [==[${LAUNCHER_VERSION}]==])
    set(LAUNCHER_MAINTAINER [==[${LAUNCHER_MAINTAINER}]==])
    set(LAUNCHER_CHANGELOG [==[${LAUNCHER_PACKAGING_BINARY_DIR}/changelog]==])
    set(LAUNCHER_RUNTIME_DESTINATION [==[${_opt}/java]==])
    set(LAUNCHER_STRIP [==[${CMAKE_STRIP}]==])")
  install(SCRIPT ${LAUNCHER_PACKAGING_DIR}/linux/prepare_package.cmake)
  install(TARGETS launcher RUNTIME DESTINATION ${_opt})
  install(FILES ${LAUNCHER_PACKAGING_BINARY_DIR}/Config.ini DESTINATION ${_opt})
  install(DIRECTORY ${_runtime}/ DESTINATION ${_opt}/java USE_SOURCE_PERMISSIONS)
  install(SCRIPT ${LAUNCHER_PACKAGING_DIR}/linux/finish_runtime.cmake)
  install(FILES ${LAUNCHER_PACKAGING_BINARY_DIR}/copyright ${LAUNCHER_PACKAGING_BINARY_DIR}/changelog.gz
          DESTINATION ${_doc})
  install(FILES ${LAUNCHER_PACKAGING_BINARY_DIR}/lintian-overrides
          DESTINATION usr/share/lintian/overrides RENAME ${LAUNCHER_PACKAGE_NAME})
  install(FILES ${LAUNCHER_PACKAGING_BINARY_DIR}/${LAUNCHER_PACKAGE_NAME}.desktop
          DESTINATION usr/share/applications)
  install(FILES ${LAUNCHER_PACKAGING_BINARY_DIR}/${LAUNCHER_PACKAGE_NAME}.png
          DESTINATION usr/share/icons/hicolor/256x256/apps)

  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGE_NAME ${LAUNCHER_PACKAGE_NAME})
  set(CPACK_PACKAGE_VERSION ${LAUNCHER_VERSION})
  set(CPACK_PACKAGE_VENDOR ${LAUNCHER_PUBLISHER})
  set(CPACK_PACKAGE_CONTACT ${LAUNCHER_MAINTAINER})
  # The synopsis must say more than the package's name; the description's lines stay within
  # 80 columns, as Debian's tools show them.
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop application ${LAUNCHER_PRODUCT_NAME} with its updater and Java runtime")
  set(_description "${LAUNCHER_PRODUCT_NAME}, with its launcher, which keeps it up to date from its publisher's server at every start, and its own Java runtime.")
  set(_wrapped "")
  set(_line "")
  string(REPLACE " " ";" _words "${_description}")
  foreach(_word IN LISTS _words)
    string(LENGTH "${_line} ${_word}" _length)
    if(_line STREQUAL "")
      set(_line "${_word}")
    elseif(_length GREATER 78)
      string(APPEND _wrapped "${_line}\n")
      set(_line "${_word}")
    else()
      string(APPEND _line " ${_word}")
    endif()
  endforeach()
  string(APPEND _wrapped "${_line}")
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "${_wrapped}")
  set(CPACK_PACKAGING_INSTALL_PREFIX /)
  set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
  set(CPACK_STRIP_FILES ON)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION misc)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${LAUNCHER_MAINTAINER})
  # Dependencies come from the ELF files themselves (dpkg-shlibdeps); the runtime's own
  # libraries, which find each other beside them, are no package's.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${_opt}/java/lib ${_opt}/java/lib/server)
  set(CPACK_SOURCE_GENERATOR TGZ)
  set(CPACK_SOURCE_IGNORE_FILES "/build/;/\\\\.git/")
  include(CPack)
endif()
