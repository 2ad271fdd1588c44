#!/usr/bin/env bash
# pallet_scan --format console writes exactly the bytes that pallet_detector writes to a file
# for the same frames (the program's first line, the SDK version, aside).
# Usage: pallet_scan_console_test.sh BUILD_DIR DATA_DIR
set -euo pipefail
build=$1
frames=$2/scan_frames
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/locales"
frame_count=$(find "$frames" -maxdepth 1 -name '*.png' | wc -l)

# Runs pallet_detector on the frames under a virtual display and ends it with 'q' once the
# last frame is through: after it, the trace shows a wait that returned no frame set.
cat > "$work/drive.sh" <<'DRIVE'
set -u
work=$1 frame_count=$2 program=$3
"$program" < /dev/null > "$work/program.out" 2> "$work/program.err" &
pid=$!
for _ in $(seq 600); do
  if grep -q "^frame_set#$frame_count\.delete" "$work/trace" 2>/dev/null &&
     tail -n 1 "$work/trace" | grep -q -- '-> null'; then
    break
  fi
  sleep 0.1
done
window=""
for _ in $(seq 100); do
  window=$(xdotool search --name '^DEPTH$' 2>/dev/null | head -n 1) && [ -n "$window" ] && break
  sleep 0.1
done
for _ in $(seq 50); do
  kill -0 "$pid" 2>/dev/null || break
  [ -n "$window" ] && xdotool windowfocus --sync "$window" key q 2>/dev/null
  sleep 0.2
done
if kill -0 "$pid" 2>/dev/null; then
  echo "pallet_detector did not end on 'q'" >&2
  kill "$pid"
fi
wait "$pid"
DRIVE

compare_in_locale() {
  local locale=$1
  rm -f "$work/trace"
  status=0
  LC_ALL=$locale KV3_TRACE="$work/trace" KV3_SOURCE="replay-once:$frames" \
    xvfb-run -a bash "$work/drive.sh" "$work" "$frame_count" "$build/pallet_detector" || status=$?
  if [ "$status" -ne 0 ]; then
    echo "FAIL ($locale): pallet_detector exited with $status" >&2
    cat "$work/program.err" >&2
    return 1
  fi
  tail -n +2 "$work/program.out" > "$work/program.frames"  # drop "version:... "
  LC_ALL=$locale "$build/pallet_scan" --format console "$frames" > "$work/scan.out" 2> "$work/scan.err"
  if ! cmp "$work/program.frames" "$work/scan.out"; then
    echo "FAIL ($locale): console bytes differ" >&2
    diff <(od -c "$work/program.frames") <(od -c "$work/scan.out") | head -n 20 >&2
    return 1
  fi
  if ! grep -q $'\rTT:$' "$work/scan.out"; then
    echo "FAIL ($locale): no pallet report among the frames" >&2
    return 1
  fi
  echo "ok: $locale, $(wc -c < "$work/scan.out") identical bytes over $frame_count frames"
}

compare_in_locale C.UTF-8
compare_in_locale C
# A GBK console: the locale is built into the test's own folder (LOCPATH), where the system
# has the locale sources.
if localedef -i zh_CN -f GBK "$work/locales/zh_CN.GBK" > /dev/null 2>&1 ||
   [ -d "$work/locales/zh_CN.GBK" ]; then
  export LOCPATH=$work/locales
  compare_in_locale zh_CN.GBK
  if ! grep -q $'\xCE\xB4\xB7\xA2\xCF\xD6' "$work/scan.out"; then  # GBK for the first 3 characters
    echo "FAIL (zh_CN.GBK): the report is not in GBK" >&2
    exit 1
  fi
else
  echo "note: no GBK locale could be built; the GBK console was not compared"
fi
