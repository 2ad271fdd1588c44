#!/usr/bin/env bash
# A replayed pallet frame: the "result" window shows the drawn result view pixel for pixel and
# standard output holds the probe and the pose report byte for byte; again under a German locale,
# whose decimal commas must reach neither the console nor the texts drawn on the view.
source "$(dirname "$0")/lib.sh"
use_virtual_display

FRAME_DIR="$DATA_DIR/pallet_frame"
EXPECTED_VIEW="$DATA_DIR/golden_pallet_result.png"
EXPECTED_STDOUT="$DATA_DIR/pallet_frame.stdout"

# find_colour_image CAPTURE EXPECTED: exits 0 when the colour image appears in the capture.
find_colour_image() {
  python3 - "$1" "$2" <<'PY'
import subprocess, sys
def rgb(path):
    w, h = map(int, subprocess.run(["identify", "-format", "%w %h", path], check=True,
                                   capture_output=True, text=True).stdout.split())
    data = subprocess.run(["convert", path, "-depth", "8", "rgb:-"], check=True,
                          capture_output=True).stdout
    return w, h, [data[v * w * 3:(v + 1) * w * 3] for v in range(h)]
cw, ch, cap = rgb(sys.argv[1])
ew, eh, exp = rgb(sys.argv[2])
for y in range(ch - eh + 1):
    for x in range(cw - ew + 1):
        if all(cap[y + v][x * 3:(x + ew) * 3] == exp[v] for v in range(eh)):
            print(x, y)
            sys.exit(0)
sys.exit(1)
PY
}

result_window() {
  local id
  id=$(timeout 20 xdotool search --sync --onlyvisible --name '^result$' | head -n 1) || true
  [ -n "$id" ] || fail "no result window appeared"
  echo "$id"
}

# check_one_run [NAME=value...]: the frame played once under those variables.
check_one_run() {
  start_detector KV3_SOURCE="replay-once:$FRAME_DIR" "$@"
  depth=$(depth_window)
  result=$(result_window)
  [ "$(xdotool search --name '^result$' | wc -l)" -eq 1 ] || fail "more than one result window"
  wait_until 20 trace_has_more_than 0 'pipeline.wait_for_frames timeout_ms=15000 -> null' \
    || fail "the replay did not run out"
  # DEPTH below it: the result window (its toolbar makes it wider than the view) stays where
  # the whole view is on the screen, with nothing on top of it.
  xdotool windowmove --sync "$depth" 0 600 || true
  sleep 0.5
  import -window "$result" "$WORK/result.png"
  found=$(find_colour_image "$WORK/result.png" "$EXPECTED_VIEW") \
    || { cp "$WORK/result.png" "$BUILD_DIR/result_window_capture.png"; \
         fail "the result view is not in the window pixel for pixel ($*)"; }
  press_key "$depth" q
  await_exit 10
  [ "$STATUS" -eq 0 ] || fail "status $STATUS after q ($*)"
  check_no_clear
  check_stdout_after_version "$EXPECTED_STDOUT"
  echo "result view at $found with $*"
}

check_one_run LC_ALL=C.UTF-8

# A German locale, made in the work folder when the system has none (no root needed).
german=""
if locale -a 2>/dev/null | grep -qix 'de_DE\.utf-\?8'; then
  german="LC_ALL=de_DE.UTF-8"
elif command -v localedef >/dev/null && localedef -i de_DE -f UTF-8 "$WORK/de_DE.UTF-8" 2>/dev/null; then
  german="LOCPATH=$WORK LC_ALL=de_DE.UTF-8"
fi
if [ -n "$german" ]; then
  # The locale really writes decimal commas, or this check would prove nothing.
  [ "$(env $german /usr/bin/printf '%.1f' 1.5)" = "1,5" ] || fail "$german gives no decimal comma"
  check_one_run $german
else
  echo "SKIP: no de_DE.UTF-8 locale could be made (localedef or the de_DE source missing);" \
       "decimal points under a German locale not checked"
fi
echo "PASS"
