# The layers of the tree point one way: each folder may include its own headers and those of the
# folders below it in its group, never one above and never one of another group. The groups and
# their folders, bottom first (folders on one line are side by side: neither is above the other):
#
#   driver   driver/common    the log, result codes, shared records, unit conversions
#            driver/device    USB transport and device commands
#            driver/imaging   the image pipeline (its scan stage pulls lines from the device)
#            driver/engine    the plug-in's entry, the driver object, scan set-up and calibration
#   app      app/settings app/platform    the settings objects; bundles, clock, console, folders
#            app/scanner app/imaging      the way to the scanner; post-processing and writing
#            app/panels                   the settings panels and the pieces of every window
#            app/shell                    the windows and the flows that tie them together
#            app                          the program's main
#   sim      sim              the simulated scanner: it reaches the driver only over USB, and
#                             never includes driver code
#
# include/ (the plug-in boundary) lies below every group: any folder may include it.
#
# Includes are by bare header name in either form ("name.h" or <name.h>; each folder's target
# exports its folder), so a header is placed by where it lives, and a header name may stand in one
# folder only. The same rule holds for the link line: a folder's CMakeLists.txt may name only the
# libraries (varnoth_<folder>, lumenfield_<folder>) of its own group at its rank or below, and
# varnoth_boundary. And no source file of a driver folder is above 800 lines.
#
# Run: cmake -DROOT=<the tree: driver/, app/, sim/, include/> -P check_layers.cmake. Fails listing
# every breach.
cmake_minimum_required(VERSION 3.25)
if(NOT ROOT)
  message(FATAL_ERROR "ROOT is not set")
endif()
foreach(folder driver app sim)
  if(NOT IS_DIRECTORY ${ROOT}/${folder})
    message(FATAL_ERROR "${ROOT} has no ${folder}/")
  endif()
endforeach()

# Folder, group, rank and library of each layer.
set(layers
  "driver/common|driver|0|varnoth_common"
  "driver/device|driver|1|varnoth_device"
  "driver/imaging|driver|2|varnoth_imaging"
  "driver/engine|driver|3|varnoth_engine"
  "app/settings|app|0|lumenfield_settings"
  "app/platform|app|0|lumenfield_platform"
  "app/scanner|app|1|lumenfield_scanner"
  "app/imaging|app|1|lumenfield_imaging"
  "app/panels|app|2|lumenfield_panels"
  "app/shell|app|3|lumenfield_shell"
  "app|app|4|Lumenfield"
  "sim|sim|0|varnoth_sim"
  "include|include|0|varnoth_boundary")

set(folders "")
foreach(layer IN LISTS layers)
  string(REPLACE "|" ";" fields "${layer}")
  list(GET fields 0 folder)
  list(GET fields 1 group)
  list(GET fields 2 rank)
  list(GET fields 3 library)
  list(APPEND folders ${folder})
  set("group_${folder}" ${group})
  set("rank_${folder}" ${rank})
  if(library)
    set("folder_of_${library}" ${folder})
  endif()
endforeach()

# May `from` use what lives in `to`?
function(allowed from to result)
  if(to STREQUAL "include" OR to STREQUAL from)
    set(${result} TRUE PARENT_SCOPE)
  elseif(NOT group_${to} STREQUAL group_${from})
    set(${result} FALSE PARENT_SCOPE)
  elseif(rank_${to} GREATER rank_${from})
    set(${result} FALSE PARENT_SCOPE)
  else()
    set(${result} TRUE PARENT_SCOPE)
  endif()
endfunction()

# Why `to` is out of reach for `from`.
function(reason from to result)
  if(group_${to} STREQUAL group_${from})
    set(${result} "a higher layer than ${from}/" PARENT_SCOPE)
  else()
    set(${result} "which ${from}/ never reaches into" PARENT_SCOPE)
  endif()
endfunction()

# Notes a breach when `from` may not use `to`; `what` says how it is used ("<file> includes <name>").
function(check_use from to what)
  allowed(${from} ${to} ok)
  if(NOT ok)
    reason(${from} ${to} why)
    set(breaches "${breaches}  ${what} of ${to}/, ${why}\n" PARENT_SCOPE)
  endif()
endfunction()

# Where each header lives.
set(breaches "")
foreach(folder IN LISTS folders)
  file(GLOB headers RELATIVE ${ROOT}/${folder} ${ROOT}/${folder}/*.h)
  foreach(h IN LISTS headers)
    if(DEFINED "home_${h}")
      string(APPEND breaches "  ${h} is in both ${home_${h}}/ and ${folder}/\n")
    endif()
    set("home_${h}" ${folder})
  endforeach()
endforeach()

foreach(folder IN LISTS folders)
  if(folder STREQUAL "include")
    continue()
  endif()
  file(GLOB sources ${ROOT}/${folder}/*.h ${ROOT}/${folder}/*.cpp)
  foreach(src IN LISTS sources)
    file(RELATIVE_PATH rel ${ROOT} ${src})
    file(STRINGS ${src} lines REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]")
    foreach(line IN LISTS lines)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*[<\"]([^>\"]+)[>\"].*" "\\1" path "${line}")
      get_filename_component(name ${path} NAME)
      if(DEFINED "home_${name}")
        check_use(${folder} ${home_${name}} "${rel} includes ${name}")
      endif()
    endforeach()

    # No driver file grows past 800 lines: split it by concern instead.
    if(group_${folder} STREQUAL "driver")
      file(READ ${src} content)
      string(REGEX REPLACE "[^\n]" "" newlines "${content}")
      string(LENGTH "${newlines}" count)
      if(count GREATER 800)
        string(APPEND breaches "  ${rel} has ${count} lines, above 800\n")
      endif()
    endif()
  endforeach()

  # Libraries on the link line.
  set(cmake_file ${ROOT}/${folder}/CMakeLists.txt)
  if(EXISTS ${cmake_file})
    file(READ ${cmake_file} text)
    string(REGEX MATCHALL "(varnoth|lumenfield)_[a-z]+" named "${text}")
    list(REMOVE_DUPLICATES named)
    foreach(lib IN LISTS named)
      if(DEFINED "folder_of_${lib}")
        check_use(${folder} ${folder_of_${lib}} "${folder}/CMakeLists.txt links ${lib}")
      endif()
    endforeach()
  endif()
endforeach()

if(breaches)
  message(FATAL_ERROR "Dependencies that point up or across:\n${breaches}")
endif()
message(STATUS "Layers: nothing points up or across")
