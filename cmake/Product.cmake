# Where the build writes the product: a bundle tree, so that every path the system relies on holds.
set(LF_APP_CONTENTS     ${CMAKE_BINARY_DIR}/Lumenfield.app/Contents)
set(LF_APP_BIN_DIR      ${LF_APP_CONTENTS}/Linux)
set(LF_SHARED_SUPPORT   ${LF_APP_CONTENTS}/SharedSupport)
set(LF_DRIVER_BUNDLE    ${LF_SHARED_SUPPORT}/Driver/Varnoth.bundle)
set(LF_DRIVER_CONTENTS  ${LF_DRIVER_BUNDLE}/Contents)
set(LF_DRIVER_SO        ${LF_DRIVER_CONTENTS}/Linux/Varnoth.so)
set(LF_PROFILE_DIR      ${LF_SHARED_SUPPORT}/Profile)

# Static libraries that end up inside the driver plug-in.
function(lf_driver_library target)
  set_target_properties(${target} PROPERTIES
    POSITION_INDEPENDENT_CODE ON
    CXX_VISIBILITY_PRESET hidden
    C_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
endfunction()

# Targets that include Qt: Qt's keywords clash with GLib's (pulled in by libvips).
function(lf_qt_target target)
  target_compile_definitions(${target} PUBLIC QT_NO_KEYWORDS)
endfunction()

# One GoogleTest executable per source folder, labelled with the folder's name. TIMEOUT gives each
# of its tests a time limit of its own, so that a regression into an endless wait fails.
#   lf_add_gtest(<target> LABEL <label> SOURCES ... [LIBS ...] [TIMEOUT <seconds>]
#                [ENVIRONMENT VAR=value])
function(lf_add_gtest target)
  cmake_parse_arguments(ARG "" "LABEL;TIMEOUT;ENVIRONMENT" "SOURCES;LIBS" ${ARGN})
  add_executable(${target} ${ARG_SOURCES})
  # Suites with their own main() (those on the virtual USB device re-execute themselves with the
  # preload first) leave GTest::gtest_main out of LIBS; the rest name it.
  target_link_libraries(${target} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock)
  set(properties LABELS ${ARG_LABEL})
  if(ARG_TIMEOUT)
    list(APPEND properties TIMEOUT ${ARG_TIMEOUT})
  endif()
  if(ARG_ENVIRONMENT)
    list(APPEND properties ENVIRONMENT ${ARG_ENVIRONMENT})
  endif()
  gtest_discover_tests(${target}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES ${properties})
endfunction()

# One widget test program (QTest, with main() from LF_GUI_TEST_MAIN of tests/support/gui_test.h),
# run as one test on the offscreen platform. Its snapshots go to snapshots/<label>/ of the build
# folder.
#   lf_add_qtest(<target> LABEL <label> SOURCES ... [LIBS ...])
function(lf_add_qtest target)
  cmake_parse_arguments(ARG "" "LABEL" "SOURCES;LIBS" ${ARGN})
  add_executable(${target} ${ARG_SOURCES})
  set_target_properties(${target} PROPERTIES AUTOMOC ON)
  target_link_libraries(${target} PRIVATE ${ARG_LIBS} lf_gui_test)
  target_compile_definitions(${target} PRIVATE LF_SNAPSHOT_DIR="${CMAKE_BINARY_DIR}/snapshots/${ARG_LABEL}")
  lf_qt_target(${target})
  add_test(NAME ${target} COMMAND ${target})
  set_tests_properties(${target} PROPERTIES LABELS ${ARG_LABEL} ENVIRONMENT QT_QPA_PLATFORM=offscreen)
endfunction()
