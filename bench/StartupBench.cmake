# Start-up of the Qt program to its shown window beside its template alone and a bare Qt dialog;
# needs the Qt front end.
if(TARGET halvorn_qt)
  add_executable(startup_bench StartupBench.cpp)
  target_link_libraries(startup_bench PRIVATE halvorn_qt halvorn_warnings)
endif()
