#!/usr/bin/env bash
# Without a graphical session: one line on standard error naming xvfb-run, the pipeline stopped
# before any frame, status 1, no pause, and the window backend never reached.
source "$(dirname "$0")/lib.sh"

run_without_display() {  # run_without_display [NAME=value...]
  rm -f "$TRACE"
  STATUS=0
  env -u DISPLAY -u WAYLAND_DISPLAY "$@" KV3_SOURCE="replay:$DATA_DIR/depth_one" \
    KV3_TRACE="$TRACE" timeout 10 "$DETECTOR" >"$WORK/stdout" 2>"$WORK/stderr" </dev/null \
    || STATUS=$?
  [ "$STATUS" -eq 1 ] || fail "status $STATUS with $*"
  [ "$(grep -c 'xvfb-run' "$WORK/stderr")" -eq 1 ] || fail "no xvfb-run line with $*"
  grep -q 'graphical session' "$WORK/stderr" || fail "the line does not say why"
  [ "$(wc -l <"$WORK/stdout")" -eq 1 ] || fail "more than the version line with $*"
  check_trace
  case "$TRACE_SUMMARY" in
    "sets=0 depth_frames=0 empty_waits=0") ;;
    *) fail "frames were waited for: $TRACE_SUMMARY" ;;
  esac
}

run_without_display
run_without_display DISPLAY=:4711
echo PASS
