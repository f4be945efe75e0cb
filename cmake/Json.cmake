# halvorn_json: the JSON library (nlohmann/json.hpp, header-only, from Debian's nlohmann-json3-dev)
# for any target that links it, in the Linux and the Windows builds alike.
set(halvorn_json_missing "nlohmann/json.hpp not found: install Debian's nlohmann-json3-dev (scripts/install-deps.sh)")
add_library(halvorn_json INTERFACE)

if(NOT CMAKE_CROSSCOMPILING)
  # QUIET rather than REQUIRED, so the failure names the package to install.
  find_package(nlohmann_json 3 QUIET)
  if(NOT nlohmann_json_FOUND)
    message(FATAL_ERROR "${halvorn_json_missing}")
  endif()
  target_link_libraries(halvorn_json INTERFACE nlohmann_json::nlohmann_json)
else()
  # The cross build's search is rooted in the mingw sysroot, which has no JSON library, and the
  # host's /usr/include must never reach a Windows compile: its glibc headers would shadow mingw's.
  # So the host package's nlohmann/ folder alone is linked into the build tree and included from there.
  find_path(HALVORN_JSON_HOST_INCLUDE_DIR nlohmann/json.hpp
            PATHS /usr/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH
            DOC "Folder holding nlohmann/json.hpp on the build host")
  if(NOT HALVORN_JSON_HOST_INCLUDE_DIR OR NOT EXISTS ${HALVORN_JSON_HOST_INCLUDE_DIR}/nlohmann/json.hpp)
    unset(HALVORN_JSON_HOST_INCLUDE_DIR CACHE)
    message(FATAL_ERROR "${halvorn_json_missing}")
  endif()
  set(halvorn_json_include ${PROJECT_BINARY_DIR}/json-include)
  file(MAKE_DIRECTORY ${halvorn_json_include})
  file(CREATE_LINK ${HALVORN_JSON_HOST_INCLUDE_DIR}/nlohmann ${halvorn_json_include}/nlohmann SYMBOLIC)
  # SYSTEM: the library's code is not held to our warnings.
  target_include_directories(halvorn_json SYSTEM INTERFACE ${halvorn_json_include})
endif()
