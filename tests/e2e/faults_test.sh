#!/usr/bin/env bash
# A set without a depth frame, a timed-out wait and frames of the wrong size leave the loop
# running; the wrong size is reported once on standard error, however many such frames come.
source "$(dirname "$0")/lib.sh"
use_virtual_display

start_detector KV3_SOURCE="replay:$DATA_DIR/depth_one" KV3_FAULTS=nodepth@2,timeout@3,badsize@4,badsize@5
window=$(depth_window)
wait_until 20 trace_has_more_than 0 'frame_set#7.delete' || fail "the loop stopped at a fault"
is_running || fail "pallet_detector ended at a fault"
press_key "$window" q
await_exit 10
[ "$STATUS" -eq 0 ] || fail "status $STATUS after q"

check_trace
grep -qxF 'frame_set#2.get_depth_frame -> null' "$TRACE" || fail "frame set 2 had a depth frame"
grep -qxF 'frame_set#2.delete' "$TRACE" || fail "frame set 2 not deleted"
! grep -q 'frame_set#3' "$TRACE" || fail "the timed-out wait gave a frame set"
[ "$(grep -c 'only 640 x 480' "$WORK/stderr")" -eq 1 ] || fail "the wrong size not reported once"
# Frames 1, 6, 7, ... were analysed, the others not.
probes=$(tail -n +2 "$WORK/stdout" | tr -cd '\r' | wc -c)
analysed=$(grep -c '^depth_frame#.*\.height$' "$TRACE")
[ "$probes" -eq $((analysed - 2)) ] || fail "$probes probes for $analysed frames with data"
check_no_clear
echo "PASS: $TRACE_SUMMARY"
