# Runs the USB demonstration on the simulated scanner and checks what it prints.
execute_process(COMMAND ${LAUNCHER} --model loopback -- ${PROGRAM}
  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE result)
message("${out}${err}")
if(NOT result EQUAL 0)
  message(FATAL_ERROR "the demonstration exited with ${result}")
endif()
foreach(line
    "found scanner libusb:001:002"
    "opened libusb:001:002 as device 0"
    "ids f0a2:6204"
    "interface 0"
    "endpoints bulk-out 0x02 bulk-in 0x81"
    "round trip ok: 22 bytes written and read back")
  string(FIND "${out}" "${line}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "missing from the output: ${line}")
  endif()
endforeach()
