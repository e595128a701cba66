# The plug-in entry's pure parts and the boundary header on its own.
lf_add_gtest(test_entry_tables LABEL engine
  SOURCES test_boundary_header.cpp test_entry_tables.cpp
  LIBS varnoth_engine GTest::gtest_main)

# SE_main, the root object and the command handlers on simulated scanners, linked statically.
add_library(lf_entry_test STATIC entry_fixture.cpp)
target_link_libraries(lf_entry_test PUBLIC varnoth_engine lf_virtual_usb_test GTest::gtest)
lf_add_gtest(test_entry LABEL engine
  SOURCES test_entry.cpp test_handlers.cpp test_scan_handlers.cpp
  LIBS lf_entry_test lf_sim_gtest_main varnoth_sim_fast_usleep
  TIMEOUT 120)

# The driver object's flat C interface.
lf_add_gtest(test_exports LABEL engine
  SOURCES test_exports.cpp
  LIBS varnoth_engine GTest::gtest_main)

# A host that loads the built plug-in and scans through SE_main on the simulated scanner.
lf_add_gtest(test_plugin_host LABEL engine
  SOURCES test_plugin_host.cpp
  LIBS varnoth_sim varnoth_boundary lf_sim_gtest_main varnoth_sim_fast_usleep ${CMAKE_DL_LIBS}
  TIMEOUT 300)
target_compile_definitions(test_plugin_host PRIVATE VARNOTH_BUNDLE_PATH="${LF_DRIVER_BUNDLE}")
add_dependencies(test_plugin_host Varnoth)

# A chart of lines scanned through SE_main at every listed resolution, colour type and source.
lf_add_gtest(test_line_chart LABEL engine
  SOURCES test_line_chart.cpp
  LIBS lf_entry_test lf_sim_gtest_main varnoth_sim_fast_usleep
  TIMEOUT 600)
