# The resource generator, built for the build machine (also when cross-building), and run there:
# it draws the icon once, at build time, for every program that shows it.
#
#   halvorn_resource_generator(VAR) sets VAR to the generator's path in the calling directory's
#   build folder; custom commands there run it and depend on it.
find_program(HALVORN_HOST_CXX NAMES c++ g++ clang++ REQUIRED
             DOC "C++ compiler for the build machine, for the resource generator")

function(halvorn_resource_generator var)
  set(generated ${CMAKE_CURRENT_BINARY_DIR}/generated)
  set(generator ${generated}/generate-resources)
  set(res ${PROJECT_SOURCE_DIR}/res)
  set(sources ${res}/generator/GenerateResources.cpp ${res}/DialogTemplates.cpp ${res}/AppIconPicture.cpp)
  add_custom_command(
    OUTPUT ${generator}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${generated}
    COMMAND ${HALVORN_HOST_CXX} -std=c++17 -O1 -Wall -Wextra -Werror
            -I$<TARGET_PROPERTY:halvorn_res,INTERFACE_INCLUDE_DIRECTORIES>
            ${sources} -o ${generator}
    DEPENDS ${sources} ${res}/DialogTemplates.h ${res}/ControlIds.h ${res}/AppIconPicture.h
    COMMENT "Building the resource generator for the build machine"
    VERBATIM)
  set(${var} ${generator} PARENT_SCOPE)
endfunction()
