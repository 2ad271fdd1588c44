#!/usr/bin/env bash
# Keys other than 'q' leave the loop running; 'q' ends it with status 0 after exactly one stop.
source "$(dirname "$0")/lib.sh"
use_virtual_display

start_detector KV3_SOURCE="replay:$DATA_DIR/depth_one"
window=$(depth_window)
# ('Q' cannot be typed here: a bare X server hands the window backend no shift; the key rule
# itself is a unit test.)
for key in x space Escape Return; do
  press_key "$window" "$key"
done
sets_before=$(grep -c 'frame_set#' "$TRACE" || true)
sleep 1
is_running || fail "a key other than q ended the run"
sets_after=$(grep -c 'frame_set#' "$TRACE" || true)
[ "$sets_after" -gt "$sets_before" ] || fail "no frames after the other keys"
[ "$(trace_count pipeline.stop)" -eq 0 ] || fail "stopped by another key"

press_key "$window" q
await_exit 10
[ "$STATUS" -eq 0 ] || fail "status $STATUS after q"
check_trace
! grep -q 'Press any key' "$WORK/stdout" || fail "paused although standard input is no terminal"
# Every pass printed the probe of the one replayed frame and its no-contour line, nothing else.
[ -z "$(tail -n +2 "$WORK/stdout" | tr -d '\n' | sed 's/1234\r未发现轮廓;//g')" ] \
  || fail "standard output holds more than the probes and their reports"
echo "PASS: $TRACE_SUMMARY"
