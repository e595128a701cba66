# The driver's layers point one way: each folder may include its own headers and those of the
# folders below it, never one above. The order, bottom first:
#   common   the log, result codes, shared records, unit conversions
#   device   USB transport and device commands
#   imaging  the image pipeline (its scan stage pulls lines from the device)
#   engine   the plug-in's entry, the driver object, scan set-up and calibration
# Includes are by bare header name (each folder's target exports its folder), so a header is
# placed by where it lives. The same rule holds for the link line: a folder's CMakeLists.txt may
# name only the libraries of lower folders. And no source file of a folder is above 800 lines.
#
# Run: cmake -DDRIVER_ROOT=<path to driver/> -P check_layers.cmake. Fails listing every breach.
if(NOT DRIVER_ROOT)
  message(FATAL_ERROR "DRIVER_ROOT is not set")
endif()

set(layers common device imaging engine)

# Where each header lives; a header name in two folders would make the include ambiguous.
set(breaches "")
foreach(layer IN LISTS layers)
  file(GLOB headers RELATIVE ${DRIVER_ROOT}/${layer} ${DRIVER_ROOT}/${layer}/*.h)
  foreach(h IN LISTS headers)
    if(DEFINED home_${h})
      string(APPEND breaches "  ${h} is in both ${home_${h}}/ and ${layer}/\n")
    endif()
    set(home_${h} ${layer})
  endforeach()
endforeach()

set(rank 0)
foreach(layer IN LISTS layers)
  set(rank_${layer} ${rank})
  math(EXPR rank "${rank} + 1")
endforeach()

foreach(layer IN LISTS layers)
  file(GLOB sources ${DRIVER_ROOT}/${layer}/*.h ${DRIVER_ROOT}/${layer}/*.cpp)
  foreach(src IN LISTS sources)
    file(STRINGS ${src} lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
    foreach(line IN LISTS lines)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*" "\\1" path "${line}")
      get_filename_component(name ${path} NAME)
      if(DEFINED home_${name})
        set(to ${home_${name}})
        if(rank_${to} GREATER rank_${layer})
          file(RELATIVE_PATH rel ${DRIVER_ROOT} ${src})
          string(APPEND breaches "  ${rel} includes ${name} of ${to}/, a higher layer than ${layer}/\n")
        endif()
      endif()
    endforeach()
  endforeach()

  # No product file grows past 800 lines: split it by concern instead.
  foreach(src IN LISTS sources)
    file(READ ${src} content)
    string(REGEX REPLACE "[^\n]" "" newlines "${content}")
    string(LENGTH "${newlines}" count)
    if(count GREATER 800)
      file(RELATIVE_PATH rel ${DRIVER_ROOT} ${src})
      string(APPEND breaches "  ${rel} has ${count} lines, above 800\n")
    endif()
  endforeach()

  # Libraries on the link line.
  set(cmake_file ${DRIVER_ROOT}/${layer}/CMakeLists.txt)
  if(EXISTS ${cmake_file})
    file(READ ${cmake_file} text)
    string(REGEX MATCHALL "varnoth_[a-z]+" named "${text}")
    list(REMOVE_DUPLICATES named)
    foreach(lib IN LISTS named)
      string(REPLACE "varnoth_" "" to ${lib})
      if(DEFINED rank_${to} AND rank_${to} GREATER rank_${layer})
        string(APPEND breaches "  ${layer}/CMakeLists.txt links ${lib}, a higher layer\n")
      endif()
    endforeach()
  endif()
endforeach()

if(breaches)
  message(FATAL_ERROR "Upward dependencies in the driver:\n${breaches}")
endif()
message(STATUS "Driver layers: nothing points up")
