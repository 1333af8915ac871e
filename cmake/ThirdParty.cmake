# Header-only libraries from Debian's packages, for both builds. The Windows build cannot
# put /usr/include on its include path (the host's C library headers would shadow
# mingw-w64's), so each library's own folder is linked into a folder of the build tree that
# holds nothing else.
function(launcher_header_library target folder)
  set(root ${CMAKE_BINARY_DIR}/third_party/${target})
  if(NOT EXISTS /usr/include/${folder})
    message(FATAL_ERROR "/usr/include/${folder} is missing: run scripts/install-deps")
  endif()
  file(MAKE_DIRECTORY ${root})
  if(NOT EXISTS ${root}/${folder})
    file(CREATE_LINK /usr/include/${folder} ${root}/${folder} SYMBOLIC)
  endif()
  add_library(${target} INTERFACE)
  target_include_directories(${target} SYSTEM INTERFACE ${root})
endfunction()

launcher_header_library(launcher_cli11 CLI)          # libcli11-dev
launcher_header_library(launcher_json nlohmann)      # nlohmann-json3-dev
