# The Qt front end's tests: real widgets on Qt's offscreen platform, worked as a user would, and
# the HalvornController program started as a process.
if(TARGET halvorn_qt)
  find_package(Qt6 REQUIRED COMPONENTS Test)
  halvorn_test_suite(qt halvorn_qt halvorn_app halvorn_diag halvorn_dialog halvorn_gpu halvorn_icon_picture halvorn_profile halvorn_res
                     halvorn_json halvorn_sim halvorn_test_support Qt6::Test)
  target_compile_definitions(qt_tests PRIVATE HALVORN_CONTROLLER_PATH="$<TARGET_FILE:HalvornController>"
                             HALVORN_EXPECTED_VERSION="${PROJECT_VERSION}")
  add_dependencies(qt_tests HalvornController)
endif()
