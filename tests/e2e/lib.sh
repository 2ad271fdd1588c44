# Shared by the end-to-end scripts (sourced, never run as a test): a virtual display, a private
# work folder, pallet_detector started in the background and always ended by its own pid.
set -euo pipefail

BUILD_DIR=$(cd "$1" && pwd)
DATA_DIR=$(cd "$2" && pwd)
E2E_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
DETECTOR="$BUILD_DIR/pallet_detector"
WORK=$(mktemp -d)
TRACE="$WORK/trace"
DETECTOR_PID=""

cleanup() {
  if [ -n "$DETECTOR_PID" ] && kill -0 "$DETECTOR_PID" 2>/dev/null; then
    kill -KILL "$DETECTOR_PID" 2>/dev/null || true
  fi
  rm -rf "$WORK"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  for f in stdout stderr; do
    [ -f "$WORK/$f" ] && { echo "--- $f (escaped):" >&2; head -c 2000 "$WORK/$f" | od -c | head -20 >&2; }
  done
  [ -f "$TRACE" ] && { echo "--- trace (last lines):" >&2; tail -20 "$TRACE" >&2; }
  exit 1
}

# Runs the calling script again inside its own virtual X display, unless it runs in one already.
use_virtual_display() {
  if [ -z "${PALLET_E2E_XVFB:-}" ]; then
    PALLET_E2E_XVFB=1 exec xvfb-run -a -s "-screen 0 1280x1024x24" \
      bash "$0" "$BUILD_DIR" "$DATA_DIR"
  fi
}

# start_detector [NAME=value...]: runs pallet_detector in the background with those variables,
# the SDK trace in $TRACE, standard output and error in $WORK/stdout and $WORK/stderr.
start_detector() {
  rm -f "$TRACE"
  env "$@" KV3_TRACE="$TRACE" "$DETECTOR" >"$WORK/stdout" 2>"$WORK/stderr" </dev/null &
  DETECTOR_PID=$!
}

# Prints the id of the "DEPTH" window once it is mapped; fails after 20 s. A search that cannot
# reach the virtual display (on a loaded machine it has refused a connection just after it
# started) is tried again until then.
depth_window() {
  local id="" deadline=$((SECONDS + 20))
  while [ -z "$id" ] && [ "$SECONDS" -lt "$deadline" ]; do
    id=$(timeout $((deadline - SECONDS)) xdotool search --sync --onlyvisible --name '^DEPTH$' 2>/dev/null |
      head -n 1) || true
    [ -n "$id" ] || sleep 0.2
  done
  [ -n "$id" ] || fail "no DEPTH window appeared"
  echo "$id"
}

press_key() {  # press_key WINDOW KEY
  xdotool windowfocus --sync "$1" key "$2"
}

# wait_until SECONDS COMMAND...: polls the command every 0.1 s.
wait_until() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.1
  done
}

is_running() {
  kill -0 "$DETECTOR_PID" 2>/dev/null
}

not_running() {
  ! is_running
}

# Waits up to SECONDS for pallet_detector to end and sets STATUS to its exit status.
await_exit() {
  wait_until "$1" not_running || fail "pallet_detector still runs after $1 s"
  STATUS=0
  wait "$DETECTOR_PID" || STATUS=$?
  DETECTOR_PID=""
}

trace_count() {  # trace_count EXACT_LINE
  grep -cxF -- "$1" "$TRACE" || true
}

trace_has_more_than() {  # trace_has_more_than N EXACT_LINE
  [ "$(trace_count "$2")" -gt "$1" ]
}

# Checks the whole call sequence (see check_trace.awk) and sets TRACE_SUMMARY to its counts.
check_trace() {
  TRACE_SUMMARY=$(awk -f "$E2E_DIR/check_trace.awk" "$TRACE") || fail "wrong SDK call sequence"
}

# Standard output holds no escape sequence (it is a file here).
check_no_clear() {
  if grep -q $'\x1b' "$WORK/stdout"; then fail "a clear sequence in a file"; fi
}

# The version line, then exactly the text of the file EXPECTED.
check_stdout_after_version() {
  head -n 1 "$WORK/stdout" | grep -qx 'version:.* ' || fail "no version line first"
  cmp -s <(tail -n +2 "$WORK/stdout") "$1" || fail "standard output differs from $1"
}
