# HalvornController-<version>-win32.zip: one folder holding the statically linked .exe, a readme for
# Windows users and the licence, both with Windows line ends for Notepad.
configure_file(${CMAKE_CURRENT_LIST_DIR}/README.txt.in ${CMAKE_CURRENT_BINARY_DIR}/README.txt @ONLY NEWLINE_STYLE CRLF)
configure_file(${PROJECT_SOURCE_DIR}/LICENSE ${CMAKE_CURRENT_BINARY_DIR}/LICENSE.txt @ONLY NEWLINE_STYLE CRLF)

install(TARGETS HalvornController RUNTIME DESTINATION .)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/README.txt ${CMAKE_CURRENT_BINARY_DIR}/LICENSE.txt DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_FILE_NAME HalvornController-${PROJECT_VERSION}-win32)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
# The binutils of the cross toolchain; the .exe is linked with -s already.
set(CPACK_STRIP_FILES OFF)
