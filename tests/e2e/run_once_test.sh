#!/usr/bin/env bash
# Two recorded frames played once, then 'q': the SDK call sequence of a whole run, and standard
# output (a file here) holding the version line and both probes, without any clear sequence.
source "$(dirname "$0")/lib.sh"
use_virtual_display

start_detector KV3_SOURCE="replay-once:$DATA_DIR/depth_two"
window=$(depth_window)
null_wait='pipeline.wait_for_frames timeout_ms=15000 -> null'
wait_until 20 trace_has_more_than 0 "$null_wait" || fail "the replay did not run out"
is_running || fail "pallet_detector ended by itself"

press_key "$window" q
await_exit 10
[ "$STATUS" -eq 0 ] || fail "status $STATUS after q"

check_trace
case "$TRACE_SUMMARY" in
  "sets=2 depth_frames=2 empty_waits="*) ;;
  *) fail "unexpected passes: $TRACE_SUMMARY" ;;
esac
check_no_clear
check_stdout_after_version "$DATA_DIR/depth_two.stdout"
echo "PASS: $TRACE_SUMMARY"
