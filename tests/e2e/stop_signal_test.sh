#!/usr/bin/env bash
# SIGTERM and Ctrl-C (SIGINT) end the loop like 'q' but with status 130 and without a pause;
# the pipeline is stopped exactly once and the probes written so far reach standard output.
source "$(dirname "$0")/lib.sh"
use_virtual_display

for signal in TERM INT; do
  start_detector KV3_SOURCE="replay:$DATA_DIR/depth_one"
  depth_window >/dev/null
  wait_until 20 trace_has_more_than 0 'frame_set#2.delete' || fail "frames did not come"
  kill -"$signal" "$DETECTOR_PID"
  await_exit 10
  [ "$STATUS" -eq 130 ] || fail "status $STATUS after SIG$signal"
  check_trace
  ! grep -q 'Press any key' "$WORK/stdout" || fail "paused after SIG$signal"
  [ "$(tail -n +2 "$WORK/stdout" | tr -cd '\r' | wc -c)" -ge 2 ] || fail "probes lost"
done
echo PASS
