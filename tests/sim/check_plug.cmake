# The scanner's cable pulled and put back while a program runs: SIGUSR1 to the launcher unplugs the
# simulated scanner (the program finds none), the next one plugs a fresh scanner back (at the bus's
# next address); with --replug-after it comes back by itself.
set(script [=[
demo="$1"
"$demo" | head -1
kill -USR1 $PPID; sleep 1
echo "-- unplugged"; "$demo" | head -1
kill -USR1 $PPID; sleep 1
echo "-- plugged"; "$demo" | head -1
]=])
execute_process(COMMAND ${LAUNCHER} --model scanner -- bash -c "${script}" plug ${PROGRAM}
  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE result)
message("${out}${err}")
if(NOT result EQUAL 0)
  message(FATAL_ERROR "the run exited with ${result}")
endif()
string(REGEX MATCH "found scanner libusb:001:002\n-- unplugged\nno scanner found[^\n]*\n-- plugged\nfound scanner libusb:001:003"
  seen "${out}")
if(NOT seen)
  message(FATAL_ERROR "the scanner did not leave and come back as the signals asked")
endif()

set(script [=[
demo="$1"
kill -USR1 $PPID; sleep 0.2
echo "-- unplugged"; "$demo" | head -1
sleep 1.5
echo "-- later"; "$demo" | head -1
]=])
execute_process(COMMAND ${LAUNCHER} --model scanner --replug-after 0.8 -- bash -c "${script}" plug ${PROGRAM}
  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE result)
message("${out}${err}")
string(REGEX MATCH "-- unplugged\nno scanner found[^\n]*\n-- later\nfound scanner libusb:001:003" seen "${out}")
if(NOT result EQUAL 0 OR NOT seen)
  message(FATAL_ERROR "the scanner did not come back by itself")
endif()
