# Shared by the pallet_scan end-to-end scripts (sourced, never run as a test): a private work
# folder, counted checks, runs with a time limit, and the judges of what a run left behind.
# Usage of a script: NAME_test.sh BUILD_DIR DATA_DIR
set -uo pipefail

BUILD_DIR=$(cd "$1" && pwd)
DATA_DIR=$(cd "$2" && pwd)
E2E_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
scan=$BUILD_DIR/pallet_scan
frames=$DATA_DIR/scan_frames
work=$(mktemp -d)
trap 'chmod -R u+rwx "$work" 2>/dev/null; rm -rf "$work"' EXIT
failures=0
passes=0

check() {  # check NAME COMMAND...: counts a pass or reports a failure
  local name=$1
  shift
  if "$@"; then
    passes=$((passes + 1))
  else
    echo "FAIL: $name" >&2
    failures=$((failures + 1))
  fi
}

finish() {  # the closing line, and the script's status
  echo "$passes passed, $failures failed"
  [ "$failures" = 0 ]
}

lines() { wc -l < "$1"; }

# scan_for SECONDS ARG...: runs pallet_scan (environment as exported by the caller) with a time
# limit, standard output in $work/out, standard error in $work/err; sets status (124: it hung).
scan_for() {
  local seconds=$1
  shift
  status=0
  timeout -k 2 "$seconds" "$scan" "$@" > "$work/out" 2> "$work/err" < /dev/null || status=$?
}

# Every line is one whole JSON record of pallet_scan and the file ends with a line end (an empty
# file passes).
whole_records() {
  python3 - "$1" <<'PY'
import json, sys
data = open(sys.argv[1], 'rb').read()
if data and not data.endswith(b'\n'):
    sys.exit(1)
for line in data.decode('utf-8').splitlines():
    record = json.loads(line)
    if not isinstance(record, dict) or 'source' not in record or 'outcome' not in record:
        sys.exit(1)
PY
}

# The lines of standard error that are not the run's closing summary.
problem_lines() {
  grep -v -E '^pallet_scan: ([0-9]+ frames analysed|analysis time|[0-9]+ skipped|[0-9]+ writes failed)' "$1"
}

# one_problem TEXT: standard error holds exactly one line besides the summary, and it contains
# TEXT.
one_problem() {
  [ "$(problem_lines "$work/err" | wc -l)" = 1 ] && problem_lines "$work/err" | grep -qF -- "$1"
}

# Runs a command without the right to read or write every file: as root, with the capabilities
# that override file permissions dropped (uid 0 still owns what it made); as anyone else, as is.
unprivileged() {
  if [ "$(id -u)" != 0 ]; then
    "$@"
  else
    setpriv --inh-caps=-all --bounding-set=-dac_override,-dac_read_search "$@"
  fi
}

# Whether unprivileged really cannot read a file of mode 000 here; says why when it can.
can_drop_privileges() {
  local probe=$work/probe_unreadable
  echo x > "$probe"
  chmod 000 "$probe"
  local said
  said=$(unprivileged cat "$probe" 2>&1)
  case "$said" in *"Permission denied"*) return 0 ;; esac
  echo "note: file permissions cannot be enforced here (root, and setpriv cannot drop the" \
       "capabilities that override them); the unreadable and unwritable cases are not run" >&2
  return 1
}

# peak_rss_kb COMMAND...: runs the command (output discarded) and prints its peak resident memory.
peak_rss_kb() {
  python3 - "$@" <<'PY'
import resource, subprocess, sys
try:
    subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)
    print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)
except subprocess.TimeoutExpired:
    print(999999999)  # it hung: more than any bound
PY
}

make_png() { python3 "$E2E_DIR/make_png.py" "$@"; }
