# Every C++ source of the tree is as clang-format leaves it under the repository's .clang-format:
# the sources of driver/, app/, include/, sim/, tests/ and bench/ are handed to clang-format in
# dry-run mode, and any file it would change fails the check, listed by name.
#
# Run: cmake -DCLANG_FORMAT=<program> -DSTYLE=<.clang-format> -DROOT=<tree> -P check_format.cmake
# With -DPLANT=<empty folder>, the check first writes one badly formatted source there and checks
# that folder instead of ROOT: it must fail, naming that file.
#
# The style of clang-format changes between its major versions, so only version 14 is taken.
foreach(var CLANG_FORMAT STYLE)
  if(NOT ${var})
    message(FATAL_ERROR "${var} is not set")
  endif()
endforeach()
if(NOT EXISTS "${CLANG_FORMAT}")
  message(FATAL_ERROR "clang-format 14 was not found (${CLANG_FORMAT}); scripts/setup installs it")
endif()
execute_process(COMMAND ${CLANG_FORMAT} --version OUTPUT_VARIABLE version RESULT_VARIABLE failed)
if(failed OR NOT version MATCHES "version 14\\.")
  message(FATAL_ERROR "clang-format 14 is needed, ${CLANG_FORMAT} is: ${version}")
endif()

if(PLANT)
  file(REMOVE_RECURSE ${PLANT})
  file(WRITE ${PLANT}/app/planted_format.cpp "int  planted( ){return 1;}\n")
  set(ROOT ${PLANT})
endif()
if(NOT ROOT)
  message(FATAL_ERROR "ROOT is not set")
endif()

set(sources "")
foreach(folder driver app include sim tests bench)
  file(GLOB_RECURSE found ${ROOT}/${folder}/*.h ${ROOT}/${folder}/*.hpp ${ROOT}/${folder}/*.c
    ${ROOT}/${folder}/*.cc ${ROOT}/${folder}/*.cpp)
  list(APPEND sources ${found})
endforeach()
list(LENGTH sources count)
if(count EQUAL 0)
  message(FATAL_ERROR "No C++ sources below ${ROOT}")
endif()

execute_process(COMMAND ${CLANG_FORMAT} --style=file:${STYLE} --dry-run -Werror ${sources}
  RESULT_VARIABLE failed ERROR_VARIABLE report OUTPUT_QUIET)
if(failed)
  # One line per file that would change: "<file>:<line>:<column>: error: ..." names it.
  string(REGEX MATCHALL "[^\n]*:[0-9]+:[0-9]+: error:" places "${report}")
  set(files "")
  foreach(place IN LISTS places)
    string(REGEX REPLACE ":[0-9]+:[0-9]+: error:$" "" file "${place}")
    file(RELATIVE_PATH file ${ROOT} ${file})
    list(APPEND files ${file})
  endforeach()
  list(REMOVE_DUPLICATES files)
  if(NOT files)
    message(FATAL_ERROR "clang-format failed:\n${report}")
  endif()
  list(JOIN files "\n  " listed)
  message(FATAL_ERROR "Not formatted as .clang-format asks (run clang-format -i on them):\n  ${listed}")
endif()
message(STATUS "Formatting: ${count} sources as .clang-format leaves them")
