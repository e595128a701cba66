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
#   lf_add_gtest(<target> LABEL <label> SOURCES ... [LIBS ...] [TIMEOUT <seconds>])
function(lf_add_gtest target)
  cmake_parse_arguments(ARG "" "LABEL;TIMEOUT" "SOURCES;LIBS" ${ARGN})
  set(timeout)
  if(ARG_TIMEOUT)
    set(timeout TIMEOUT ${ARG_TIMEOUT})
  endif()
  add_executable(${target} ${ARG_SOURCES})
  # Suites with their own main() (those on the virtual USB device re-execute themselves with the
  # preload first) leave GTest::gtest_main out of LIBS; the rest name it.
  target_link_libraries(${target} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock)
  gtest_discover_tests(${target}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS ${ARG_LABEL} ${timeout})
endfunction()
