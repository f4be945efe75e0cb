# The .deb: the Qt program in /usr/bin, its menu entry, icon, AppStream metainfo and man page, the
# Linux hardware access files (udev rule, modules-load.d entry), the system unit that applies a
# user's profile at boot and after every resume, the README, and Debian's copyright and changelog.
include(GNUInstallDirs)
include(${CMAKE_CURRENT_LIST_DIR}/SystemFiles.cmake)

set(HALVORN_PACKAGE_NAME halvorn-controller)
# The desktop entry's, the icon's and the metainfo's name.
set(HALVORN_APP_ID io.github.halvorn.HalvornController)
set(HALVORN_MAINTAINER "The RTX Halvorn Controller developers <maintainers@halvorn.invalid>"
    CACHE STRING "Maintainer of the .deb, name and address")
string(REGEX REPLACE "^Copyright \\(c\\) " "" HALVORN_COPYRIGHT_HOLDERS "${HALVORN_COPYRIGHT}")
# Debian's changelog wants the RFC 2822 date of the release.
execute_process(COMMAND date -u -R -d "${HALVORN_RELEASE_DATE} 12:00:00"
                OUTPUT_VARIABLE HALVORN_RELEASE_DATE_RFC2822 OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)

set(out ${CMAKE_CURRENT_BINARY_DIR}/linux)
set(doc ${CMAKE_INSTALL_DATADIR}/doc/${HALVORN_PACKAGE_NAME})

install(TARGETS HalvornController RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

configure_file(${CMAKE_CURRENT_LIST_DIR}/halvorn-controller.desktop.in ${out}/${HALVORN_APP_ID}.desktop @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/halvorn-controller.metainfo.xml.in ${out}/${HALVORN_APP_ID}.metainfo.xml @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/HalvornController.1.in ${out}/HalvornController.1 @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/copyright.in ${out}/copyright @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/changelog.in ${out}/changelog @ONLY)
install(FILES ${out}/${HALVORN_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${out}/${HALVORN_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${out}/copyright DESTINATION ${doc})

set(HALVORN_INSTALLED_PROGRAM /usr/${CMAKE_INSTALL_BINDIR}/HalvornController)
configure_file(${CMAKE_CURRENT_LIST_DIR}/halvorn-apply@.service.in ${out}/halvorn-apply@.service @ONLY)
install(FILES ${out}/halvorn-apply@.service DESTINATION lib/systemd/system)

# The user's guide: the README, which the man page and --help point to.
configure_file(${PROJECT_SOURCE_DIR}/README.md ${out}/README.md COPYONLY)

# The man page, the changelog and the README go compressed, without a time stamp, as Debian wants them.
set(compressed)
foreach(file HalvornController.1 changelog README.md)
  add_custom_command(OUTPUT ${out}/${file}.gz
                     COMMAND gzip -9nc ${out}/${file} > ${out}/${file}.gz
                     DEPENDS ${out}/${file} VERBATIM)
  list(APPEND compressed ${out}/${file}.gz)
endforeach()
install(FILES ${out}/HalvornController.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${out}/changelog.gz ${out}/README.md.gz DESTINATION ${doc})

# The icon in the hicolor theme's sizes, drawn at build time from the picture the program's icon is.
find_package(Qt6 REQUIRED COMPONENTS Gui)
add_executable(halvorn_export_icons ${CMAKE_CURRENT_LIST_DIR}/ExportIcons.cpp)
target_link_libraries(halvorn_export_icons PRIVATE halvorn_icon_picture Qt6::Gui halvorn_warnings)
add_custom_command(OUTPUT ${out}/icons.stamp
                   COMMAND ${CMAKE_COMMAND} -E rm -rf ${out}/icons
                   COMMAND halvorn_export_icons ${out}/icons ${HALVORN_APP_ID}
                   COMMAND ${CMAKE_COMMAND} -E touch ${out}/icons.stamp
                   DEPENDS halvorn_export_icons
                   COMMENT "Drawing the icon for the hicolor theme" VERBATIM)
add_custom_target(halvorn_package_files ALL DEPENDS ${out}/icons.stamp ${compressed})
install(DIRECTORY ${out}/icons/hicolor DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)

# The access files, and the maintainer scripts that make them take effect at once.
halvorn_install_system_files(${out}/control ${HALVORN_LINUX_SYSTEM_FILES})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_PACKAGE_NAME ${HALVORN_PACKAGE_NAME})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${HALVORN_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${out}/control/postinst ${out}/control/prerm ${out}/control/postrm)
# The synopsis line is CPACK_PACKAGE_DESCRIPTION_SUMMARY; this is the text under it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "A small utility for overclockers: it reads and sets the on-board power
settings of supported NVIDIA GeForce RTX 3080 Ti and RTX 2080 Ti boards
over the GPUs' I2C buses, through the NVIDIA driver's I2C adapters: core,
memory and PCI Express voltages, switching frequency, loadline,
over-current protection and LN2 mode, with profiles and multi-board Sync.
It writes to voltage regulators: use it at your own risk.")
