# The Linux hardware access files and where they go so that they take effect: udev rules into
# /usr/lib/udev/rules.d, modules-load.d entries into /usr/lib/modules-load.d. They live under
# platform/linux/; this is the one list of them.
set(HALVORN_LINUX_SYSTEM_DIR ${PROJECT_SOURCE_DIR}/platform/linux CACHE PATH
    "Folder holding the udev rule (*.rules) and the modules-load.d entry (*.conf) the .deb installs")
set(HALVORN_PACKAGE_LINUX_DIR ${CMAKE_CURRENT_LIST_DIR})
file(GLOB_RECURSE HALVORN_LINUX_SYSTEM_FILES CONFIGURE_DEPENDS
     ${HALVORN_LINUX_SYSTEM_DIR}/*.rules ${HALVORN_LINUX_SYSTEM_DIR}/*.conf)

# Installs each file where its kind belongs, and writes the maintainer scripts that make them take
# effect (postinst, prerm, postrm) into CONTROL_DIR: the postinst creates the groups the udev rules
# give access to, reloads and applies the rules, and loads i2c-dev when a modules-load.d entry is
# there; on removal the prerm stops the profile unit's instances and the postrm removes their links.
function(halvorn_install_system_files control_dir)
  set(groups)
  set(modules)
  foreach(file IN LISTS ARGN)
    if(file MATCHES "\\.rules$")
      install(FILES ${file} DESTINATION lib/udev/rules.d)
      file(STRINGS ${file} group_lines REGEX "GROUP:?=\"[^\"]+\"")
      foreach(line IN LISTS group_lines)
        string(REGEX MATCHALL "GROUP:?=\"[^\"]+\"" assignments "${line}")
        foreach(assignment IN LISTS assignments)
          string(REGEX REPLACE "GROUP:?=\"([^\"]+)\"" "\\1" group "${assignment}")
          list(APPEND groups ${group})
        endforeach()
      endforeach()
    elseif(file MATCHES "\\.conf$")
      install(FILES ${file} DESTINATION lib/modules-load.d)
      get_filename_component(name ${file} NAME)
      list(APPEND modules ${name})
    else()
      message(FATAL_ERROR "${file}: neither a udev rule (*.rules) nor a modules-load.d entry (*.conf)")
    endif()
  endforeach()
  list(REMOVE_DUPLICATES groups)
  string(REPLACE ";" " " groups "${groups}")
  string(REPLACE ";" " " modules "${modules}")
  set(HALVORN_DEVICE_GROUPS "${groups}")
  set(HALVORN_MODULES_LOAD_FILES "${modules}")
  foreach(script postinst prerm postrm)
    configure_file(${HALVORN_PACKAGE_LINUX_DIR}/${script}.in ${control_dir}/${script} @ONLY
                   FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                    WORLD_READ WORLD_EXECUTE)
  endforeach()
endfunction()
