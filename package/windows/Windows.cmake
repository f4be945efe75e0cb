# HalvornController-<version>-win32.zip (win64 for the 64-bit build): one folder holding the
# statically linked .exe, a readme for Windows users and the licence, both with Windows line ends
# for Notepad.
if(HALVORN_WINDOWS_BITS EQUAL 64)
  set(HALVORN_WINDOWS_REQUIREMENT "64-bit Windows 7 or later: this is the 64-bit program (win64).")
  set(HALVORN_WINDOWS_OTHER "For 32-bit Windows take the win32 download.")
else()
  set(HALVORN_WINDOWS_REQUIREMENT "Windows 7 or later: this is the 32-bit program (win32).")
  set(HALVORN_WINDOWS_OTHER "On 64-bit Windows, which nearly every PC runs, take the win64 download.")
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/README.txt.in ${CMAKE_CURRENT_BINARY_DIR}/README.txt @ONLY NEWLINE_STYLE CRLF)
configure_file(${PROJECT_SOURCE_DIR}/LICENSE ${CMAKE_CURRENT_BINARY_DIR}/LICENSE.txt @ONLY NEWLINE_STYLE CRLF)

install(TARGETS HalvornController RUNTIME DESTINATION .)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/README.txt ${CMAKE_CURRENT_BINARY_DIR}/LICENSE.txt DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_FILE_NAME HalvornController-${PROJECT_VERSION}-win${HALVORN_WINDOWS_BITS})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
# The binutils of the cross toolchain; the .exe is linked with -s already.
set(CPACK_STRIP_FILES OFF)
