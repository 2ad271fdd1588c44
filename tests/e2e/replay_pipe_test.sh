#!/usr/bin/env bash
# A named pipe among the frames of a replay folder is an unusable frame, said once on standard
# error; it is never opened, so neither pallet_scan --camera nor pallet_detector waits on it, and
# SIGTERM ends both with status 130.
source "$(dirname "$0")/lib.sh"
use_virtual_display
scan=$BUILD_DIR/pallet_scan
replay=$WORK/replay
mkdir "$replay"
cp "$DATA_DIR/scan_frames/01_pallet_1500.png" "$replay/a.png"
mkfifo "$replay/b.png"
cp "$DATA_DIR/scan_frames/03_floor.png" "$replay/c.png"
pipe_line="kv3: replay frame $replay/b.png: not a regular file (a named pipe); no depth frame"

# pallet_scan, once through the folder: both frames, one line for the pipe.
status=0
KV3_SOURCE="replay-once:$replay" timeout -k 2 10 "$scan" --camera > "$WORK/stdout" 2> "$WORK/stderr" ||
  status=$?
[ "$status" = 0 ] || fail "pallet_scan --camera: status $status (124: it waited on the pipe)"
[ "$(wc -l < "$WORK/stdout")" = 2 ] || fail "pallet_scan --camera: not two records"
[ "$(grep -cxF "$pipe_line" "$WORK/stderr")" = 1 ] || fail "pallet_scan --camera: the pipe not said once"

# pallet_scan on the looping replay, ended by SIGTERM once it is past the pipe several times.
KV3_SOURCE="replay:$replay" "$scan" --camera > "$WORK/stdout" 2> "$WORK/stderr" < /dev/null &
scan_pid=$!
has_records() { [ "$(wc -l < "$WORK/stdout")" -ge 6 ]; }
wait_until 20 has_records || { kill -KILL "$scan_pid"; fail "pallet_scan --camera did not get past the pipe"; }
kill -TERM "$scan_pid"
scan_gone() { ! kill -0 "$scan_pid" 2> /dev/null; }
wait_until 5 scan_gone || { kill -KILL "$scan_pid"; fail "pallet_scan --camera runs on after SIGTERM"; }
status=0
wait "$scan_pid" || status=$?
[ "$status" = 130 ] || fail "pallet_scan --camera: status $status after SIGTERM"

# pallet_detector on the looping replay: past the pipe, then SIGTERM.
start_detector KV3_SOURCE="replay:$replay"
depth_window > /dev/null
wait_until 20 trace_has_more_than 0 'frame_set#5.delete' || fail "pallet_detector stopped at the pipe"
kill -TERM "$DETECTOR_PID"
await_exit 10
[ "$STATUS" -eq 130 ] || fail "pallet_detector: status $STATUS after SIGTERM"
check_trace
grep -qxF 'frame_set#2.get_depth_frame -> null' "$TRACE" || fail "the pipe gave a depth frame"
grep -qxF "$pipe_line" "$WORK/stderr" || fail "pallet_detector: the pipe not said"

# pallet_detector once through the folder: both frames, then 'q' still ends it.
start_detector KV3_SOURCE="replay-once:$replay"
window=$(depth_window)
wait_until 20 trace_has_more_than 0 'pipeline.wait_for_frames timeout_ms=15000 -> null' ||
  fail "the replay did not run out"
press_key "$window" q
await_exit 10
[ "$STATUS" -eq 0 ] || fail "pallet_detector: status $STATUS after q"
check_trace
case "$TRACE_SUMMARY" in
  "sets=3 depth_frames=2 "*) ;;
  *) fail "unexpected passes: $TRACE_SUMMARY" ;;
esac
echo "PASS: $TRACE_SUMMARY"
