# The scanner's cable pulled and put back while a program runs: SIGUSR1 to the launcher unplugs the
# simulated scanner (the program finds none), the next one plugs a fresh scanner back (at the bus's
# next address); with --replug-after it comes back by itself. The script asks again until it sees
# what it waits for rather than sleeping a fixed time, so that a loaded machine only slows it.
set(helpers [=[
demo="$1"
# Runs the program until its first line matches, for at most 20 s; prints that line.
first_line_matching() {
  local line deadline=$((SECONDS + 20))
  while ((SECONDS < deadline)); do
    line="$("$demo" | head -1)"
    if [[ "$line" =~ $1 ]]; then echo "$line"; return 0; fi
    sleep 0.1
  done
  echo "gave up waiting for /$1/, last: $line"
}
]=])

set(script [=[
"$demo" | head -1
kill -USR1 $PPID
echo "-- unplugged"; first_line_matching "^no scanner found"
kill -USR1 $PPID
echo "-- plugged"; first_line_matching "^found scanner"
]=])
execute_process(COMMAND ${LAUNCHER} --model scanner -- bash -c "${helpers}${script}" plug ${PROGRAM}
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

# One signal only: the scanner at the next address can only be there if it left and came back by
# itself.
set(script [=[
"$demo" | head -1
kill -USR1 $PPID
echo "-- unplugged once"; first_line_matching "^found scanner libusb:001:003"
]=])
execute_process(COMMAND ${LAUNCHER} --model scanner --replug-after 0.8 -- bash -c "${helpers}${script}" plug ${PROGRAM}
  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE result)
message("${out}${err}")
string(REGEX MATCH "found scanner libusb:001:002\n-- unplugged once\nfound scanner libusb:001:003" seen "${out}")
if(NOT result EQUAL 0 OR NOT seen)
  message(FATAL_ERROR "the scanner did not come back by itself")
endif()
