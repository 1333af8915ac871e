# Everything a vendor sets when building its own launcher. Override any of them at
# configure time, for example:  cmake --preset windows -DLAUNCHER_SUPPORT_CONTACT=800123456
set(LAUNCHER_SUPPORT_CONTACT "4008123456" CACHE STRING
    "Customer-service number shown in the launcher's message boxes")
set(LAUNCHER_JAR_KEY "0x5A" CACHE STRING
    "One byte (e.g. 0x5A) XOR-ed into every byte of the stored jar and of the published packages")
set(LAUNCHER_LOG_KEY "0x3C" CACHE STRING
    "One byte (e.g. 0x3C) XOR-ed into every byte of t.log")
set(LAUNCHER_PRODUCT_WORD "quorvane" CACHE STRING
    "Word that names the per-user working folder under Documents")
set(LAUNCHER_RUNTIME_BASE_URL "http://127.0.0.1:8080/install/runtime/" CACHE STRING
    "Scheme, host and the path /install/runtime/ from which runtime libraries are fetched")
set(LAUNCHER_VERSION "2.3.0.0" CACHE STRING
    "Launcher version: four dot-separated numbers")

set(LAUNCHER_MAX_PACKAGE_BYTES "2147483648" CACHE STRING
    "Largest package (and library) a download takes, in bytes; a larger or endless body is refused")

foreach(key LAUNCHER_JAR_KEY LAUNCHER_LOG_KEY)
  if(NOT ${key} MATCHES "^0[xX][0-9a-fA-F][0-9a-fA-F]?$")
    message(FATAL_ERROR "${key} must be one byte written like 0x5A, not '${${key}}'")
  endif()
endforeach()
if(NOT LAUNCHER_VERSION MATCHES "^([0-9]+)\\.([0-9]+)\\.([0-9]+)\\.([0-9]+)$")
  message(FATAL_ERROR "LAUNCHER_VERSION must be four numbers like 2.3.0.0")
endif()
set(LAUNCHER_VERSION_MAJOR ${CMAKE_MATCH_1})
set(LAUNCHER_VERSION_MINOR ${CMAKE_MATCH_2})
set(LAUNCHER_VERSION_PATCH ${CMAKE_MATCH_3})
set(LAUNCHER_VERSION_BUILD ${CMAKE_MATCH_4})
if(NOT LAUNCHER_RUNTIME_BASE_URL MATCHES "^https?://[^/]+/install/runtime/$")
  message(FATAL_ERROR "LAUNCHER_RUNTIME_BASE_URL must be scheme://host[:port]/install/runtime/")
endif()
if(NOT LAUNCHER_MAX_PACKAGE_BYTES MATCHES "^[1-9][0-9]*$" OR LAUNCHER_MAX_PACKAGE_BYTES MATCHES "^[0-9]{19,}$")
  message(FATAL_ERROR "LAUNCHER_MAX_PACKAGE_BYTES must be a number of bytes from 1 to 18 digits, "
                      "not '${LAUNCHER_MAX_PACKAGE_BYTES}'")
endif()
if(NOT LAUNCHER_SUPPORT_CONTACT MATCHES "^[0-9A-Za-z+ -]+$")
  message(FATAL_ERROR "LAUNCHER_SUPPORT_CONTACT holds characters that cannot go into a message box text")
endif()
if(NOT LAUNCHER_PRODUCT_WORD MATCHES "^[0-9A-Za-z_.-]+$")
  message(FATAL_ERROR "LAUNCHER_PRODUCT_WORD must be a plain folder word")
endif()

# The TUF root that updates must be signed under (root.json, as `publish --new-keys`
# writes it), embedded into the launcher. Empty: the launcher installs updates unsigned.
set(LAUNCHER_UPDATE_ROOT "" CACHE FILEPATH
    "TUF root.json that signed updates chain from; empty for unsigned updates")
if(DEFINED LAUNCHER_UPDATE_PUBLIC_KEY AND NOT LAUNCHER_UPDATE_PUBLIC_KEY STREQUAL "")
  message(FATAL_ERROR "LAUNCHER_UPDATE_PUBLIC_KEY is replaced by LAUNCHER_UPDATE_ROOT: build with "
                      "-DLAUNCHER_UPDATE_ROOT=/path/to/root.json (publish --new-keys writes it) and "
                      "-ULAUNCHER_UPDATE_PUBLIC_KEY")
endif()
set(LAUNCHER_UPDATE_ROOT_BYTES "0")
set(LAUNCHER_UPDATE_ROOT_SIZE 0)
if(NOT LAUNCHER_UPDATE_ROOT STREQUAL "")
  if(NOT EXISTS "${LAUNCHER_UPDATE_ROOT}" OR IS_DIRECTORY "${LAUNCHER_UPDATE_ROOT}")
    message(FATAL_ERROR "LAUNCHER_UPDATE_ROOT: no file '${LAUNCHER_UPDATE_ROOT}'")
  endif()
  # A changed root.json configures (and embeds) again.
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${LAUNCHER_UPDATE_ROOT}")
  file(SIZE "${LAUNCHER_UPDATE_ROOT}" LAUNCHER_UPDATE_ROOT_SIZE)
  if(LAUNCHER_UPDATE_ROOT_SIZE GREATER 524288)
    message(FATAL_ERROR "LAUNCHER_UPDATE_ROOT: '${LAUNCHER_UPDATE_ROOT}' is larger than 512 KiB")
  endif()
  file(READ "${LAUNCHER_UPDATE_ROOT}" _update_root_text)
  string(JSON _update_root_type ERROR_VARIABLE _update_root_error GET "${_update_root_text}" signed _type)
  string(JSON _update_root_version ERROR_VARIABLE _update_root_error2 GET "${_update_root_text}" signed version)
  if(_update_root_error OR _update_root_error2 OR NOT _update_root_type STREQUAL "root"
     OR NOT _update_root_version MATCHES "^[1-9][0-9]*$")
    message(FATAL_ERROR "LAUNCHER_UPDATE_ROOT: '${LAUNCHER_UPDATE_ROOT}' is no TUF root metadata "
                        "(a JSON document whose signed._type is \"root\", with a version)")
  endif()
  # The bytes as they are: the launcher checks the root's signatures over them at every start.
  file(READ "${LAUNCHER_UPDATE_ROOT}" _update_root_hex HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," LAUNCHER_UPDATE_ROOT_BYTES "${_update_root_hex}")
  string(APPEND LAUNCHER_UPDATE_ROOT_BYTES "0")
  message(STATUS "Signed updates: on, root version ${_update_root_version} from ${LAUNCHER_UPDATE_ROOT}")
endif()

# What the installed product is called where customers see it (the vendor kit,
# cmake/Packaging.cmake): shortcuts, Add/Remove Programs, the Linux menu and package.
set(LAUNCHER_PRODUCT_NAME "Launcher" CACHE STRING
    "Product name of the shortcuts, the installation folder, Add/Remove Programs and the Linux menu")
set(LAUNCHER_PUBLISHER "Launcher" CACHE STRING
    "Publisher shown in Add/Remove Programs and as the maintainer of the Linux package")
set(LAUNCHER_INSTALLER_LANGUAGE "zh_CN" CACHE STRING
    "Language of the Windows installer's texts: zh_CN (Simplified Chinese) or en")
set_property(CACHE LAUNCHER_INSTALLER_LANGUAGE PROPERTY STRINGS zh_CN en)
# The product name is a folder, a shortcut file and a registry key name on Windows.
string(TOUPPER "${LAUNCHER_PRODUCT_NAME}" _product_name_upper)
if(LAUNCHER_PRODUCT_NAME STREQUAL ""
   OR LAUNCHER_PRODUCT_NAME MATCHES "[\\/:*?\"<>|$`;\t\r\n]|^[ .]|[ .]$"
   OR _product_name_upper MATCHES "^(CON|PRN|AUX|NUL|COM[1-9]|LPT[1-9])$")
  message(FATAL_ERROR "LAUNCHER_PRODUCT_NAME must be usable as a Windows folder name (none of "
                      "\\ / : * ? \" < > | $ ` ;, no leading or trailing space or dot), "
                      "not '${LAUNCHER_PRODUCT_NAME}'")
endif()
if(LAUNCHER_PUBLISHER STREQUAL "" OR LAUNCHER_PUBLISHER MATCHES "[\"$`\t\r\n]")
  message(FATAL_ERROR "LAUNCHER_PUBLISHER must be one line without \" $ or `, "
                      "not '${LAUNCHER_PUBLISHER}'")
endif()
if(NOT LAUNCHER_INSTALLER_LANGUAGE MATCHES "^(zh_CN|en)$")
  message(FATAL_ERROR "LAUNCHER_INSTALLER_LANGUAGE must be zh_CN or en, "
                      "not '${LAUNCHER_INSTALLER_LANGUAGE}'")
endif()

# The Java VM's options, one list entry each, in the order they are passed. The entry
# "-Djava.class.path" alone marks where the class-path option built at run time goes.
set(LAUNCHER_JVM_OPTIONS "-Djava.compiler=NONE;-Djava.class.path;-verbose:NONE;-Xms256m;-Xmx512m"
    CACHE STRING "Java VM options in order; the entry -Djava.class.path stands for the class path")
set(_jvm_class_path_slots 0)
set(LAUNCHER_JVM_OPTIONS_C "")
foreach(option IN LISTS LAUNCHER_JVM_OPTIONS)
  if(option STREQUAL "-Djava.class.path")
    math(EXPR _jvm_class_path_slots "${_jvm_class_path_slots} + 1")
  elseif(option MATCHES "^-Djava\\.class\\.path=")
    message(FATAL_ERROR "LAUNCHER_JVM_OPTIONS: write -Djava.class.path alone; the launcher builds its value")
  endif()
  string(REPLACE "\\" "\\\\" option "${option}")
  string(REPLACE "\"" "\\\"" option "${option}")
  string(APPEND LAUNCHER_JVM_OPTIONS_C "\"${option}\", ")
endforeach()
if(NOT _jvm_class_path_slots EQUAL 1)
  message(FATAL_ERROR "LAUNCHER_JVM_OPTIONS must hold the entry -Djava.class.path exactly once")
endif()

configure_file(${CMAKE_CURRENT_LIST_DIR}/branding.h.in
               ${CMAKE_BINARY_DIR}/generated/branding.h @ONLY)

