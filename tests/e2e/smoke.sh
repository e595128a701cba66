#!/usr/bin/env bash
# The real program on the simulated scanner, under an X server of its own (run by xvfb-run):
#   smoke.sh LAUNCHER APP_BUNDLE CHART_FILE X11_CLOSE POSITION_FILE SCREENSHOT_DIR
# A run on the scanner: the connect window, the main window, Settings clicked at the position the
# in-process test wrote, then the main window's close request; the program ends with status 0 and
# stores its settings. A second run with no device: the failure text, then the connect window's close
# request ends the program with status 0 and leaves the store as it was. A third run pulls the
# scanner's cable during a preview: the connect screen says the scanner was lost, and its close
# request ends the program. Screenshots are saved for review, not compared.
set -euo pipefail
launcher="$1" app_bundle="$2" chart="$3" x11_close="$4" position_file="$5" shots="$6"

work="$(mktemp -d "${TMPDIR:-/tmp}/smoke.XXXXXX")"
launcher_pid=""
cleanup() {
  [[ -n "$launcher_pid" ]] && kill "$launcher_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

export HOME="$work/home"
export XDG_CONFIG_HOME="$HOME/.config" XDG_DATA_HOME="$HOME/.local/share" XDG_CACHE_HOME="$HOME/.cache"
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" "$shots"
chmod 700 "$XDG_RUNTIME_DIR"
export QT_QPA_PLATFORM=xcb QT_XCB_GL_INTEGRATION=none
cp -a "$app_bundle" "$work/Lumenfield.app"
program="$work/Lumenfield.app/Contents/Linux/Lumenfield"
store="$XDG_CONFIG_HOME/Lumenfield/Lumenfield.conf"

fail() {
  echo "smoke: $*" >&2
  [[ -f "$work/out.log" ]] && sed 's/^/  program: /' "$work/out.log" >&2
  exit 1
}

# waits SECONDS COMMAND...: until the command succeeds; fails at once when the program has ended.
waits() {
  local limit=$(($1 * 10)); shift
  for ((i = 0; i < limit; i++)); do
    "$@" && return 0
    [[ -z "$launcher_pid" ]] || kill -0 "$launcher_pid" 2>/dev/null || fail "the program ended early"
    sleep 0.1
  done
  return 1
}

# The program's visible windows whose title is NAME. They are found by their class: Qt titles a window
# whose own title is empty with the application's name in _NET_WM_NAME only, which xdotool's name
# search does not read.
visible_named() {
  local id
  for id in $(xdotool search --onlyvisible --class '^Lumenfield$' 2>/dev/null); do
    [[ "$(xdotool getwindowname "$id" 2>/dev/null)" == "$1" ]] && echo "$id"
  done
  return 0
}
# The visible windows titled "Lumenfield" of exactly (splash) or other than (main) 500 × 310.
lumenfield_windows() {
  local want="$1" id geometry
  for id in $(visible_named Lumenfield); do
    geometry="$(xdotool getwindowgeometry "$id" 2>/dev/null | sed -n 's/^ *Geometry: //p')"
    if [[ "$want" == splash && "$geometry" == 500x310 ]] || [[ "$want" == main && -n "$geometry" && "$geometry" != 500x310 ]]; then
      echo "$id"
    fi
  done
}
splash_shows() { splash="$(lumenfield_windows splash | head -1)"; [[ -n "$splash" ]]; }
main_shows_alone() { main="$(lumenfield_windows main | head -1)"; [[ -n "$main" && -z "$(lumenfield_windows splash)" ]]; }
splash_shows_alone() { splash="$(lumenfield_windows splash | head -1)"; [[ -n "$splash" && -z "$(lumenfield_windows main)" ]]; }
preferences_show() { [[ -n "$(visible_named General)" ]]; }
shot() { import -window root "$shots/$1"; echo "screenshot: $shots/$1"; }

# start MODEL [LAUNCHER OPTIONS...]
start() {
  local model="$1"; shift
  "$launcher" --model "$model" --chart "file:$chart@100" "$@" -- "$program" >"$work/out.log" 2>&1 &
  launcher_pid=$!
}
# ends_within SECONDS: the launcher has exited with status 0 within that time.
ends_within() {
  local pid="$launcher_pid"
  launcher_pid=""
  waits "$1" bash -c "! kill -0 $pid 2>/dev/null" || { launcher_pid="$pid"; fail "the program did not end within $1 s"; }
  local status=0
  wait "$pid" || status=$?
  [[ $status -eq 0 ]] || fail "the program ended with status $status"
}
no_failure_lines() {
  ! grep -q '^Failed' "$work/out.log" || fail "the output has a failure line"
}

rm -f "$shots"/{splash,main,preferences,splash-failed,splash-lost}.png

# A run on the scanner.
start scanner:default
waits 30 splash_shows || fail "no connect window"
shot splash.png
waits 120 main_shows_alone || fail "no main window, or the connect window stayed"
sleep 1
shot main.png
{ read -r x y && read -r preview_x preview_y; } <"$position_file" || fail "no button positions in $position_file"
xdotool mousemove --window "$main" "$x" "$y" click 1
waits 10 preferences_show || fail "no preferences window"
shot preferences.png
"$x11_close" "$main"
ends_within 10
no_failure_lines
for key in showPreviousPreview openImageAfterScan resetFilenameSuffix exposureRatio scanQuality calibrationMode \
    directoryPath prefixType prefix isAutoSuffix suffixNumber suffixLength format tiffCompression jpegQuality \
    isEmbedded iccProfile; do
  grep -q "^$key=" "$store" || fail "the store lacks $key"
done

# A run with no device: the failure text; closing the connect window ends the program.
cp "$store" "$work/store-before"
start none
waits 30 splash_shows || fail "no connect window"
sleep 4
shot splash-failed.png
"$x11_close" "$splash"
ends_within 10
cmp -s "$store" "$work/store-before" || fail "the store changed"

# A run in which the cable is pulled once the preview's first image bytes have gone: the connect
# screen returns and says why; its close request ends the program.
start scanner:default --unplug-after-bytes 1
waits 120 main_shows_alone || fail "no main window"
sleep 1
xdotool mousemove --window "$main" "$preview_x" "$preview_y" click 1
waits 120 splash_shows_alone || fail "the connect window did not come back after the unplug"
sleep 1
shot splash-lost.png
grep -q '^Failed to preview!' "$work/out.log" || fail "no failure line for the preview"
"$x11_close" "$splash"
ends_within 10
echo "smoke: passed"
