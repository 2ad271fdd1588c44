#!/usr/bin/env bash
# Soak: pallet_scan --camera on a replay-once of N frames and pallet_detector under Xvfb on the
# built-in scene, side by side, sampling both resident sizes (VmRSS) every few seconds. Prints the
# curve and checks: growth after warm-up under 1 MB for each, every replayed frame analysed once
# and in order, pallet_scan's status 0 at the end of the stream, pallet_detector's 130 after SIGTERM.
#
#   bash scripts/soak.sh [--frames N] [--minutes M] [--every S] [--warmup S] [--build DIR] [--keep]
#
# --frames N   frames pallet_scan replays (default 100000); the stand-in delivers 30 a second, so
#              N / 30 seconds at least (100000: 56 minutes)
# --minutes M  how long pallet_detector runs (default: as long as pallet_scan)
# --every S    seconds between samples (default 30)
# --warmup S   samples before this many seconds are warm-up, not counted as growth (default 120)
# --build DIR  the Release build with pallet_scan and pallet_detector (default build)
# --keep       leave the work folder (records, curve, outputs) and print its path
#
# The replay folder holds N hard links named in frame order to the 600 frames of one loop of the
# built-in scene, recorded first: the stream has N frame sets without N files' worth of disk.
set -euo pipefail
cd "$(dirname "$0")/.."

frames=100000 minutes="" every=30 warmup=120 build=build keep=0
while [ $# -gt 0 ]; do
  case "$1" in
    --frames) frames=$2; shift 2 ;;
    --minutes) minutes=$2; shift 2 ;;
    --every) every=$2; shift 2 ;;
    --warmup) warmup=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    --keep) keep=1; shift ;;
    *) echo "usage: $0 [--frames N] [--minutes M] [--every S] [--warmup S] [--build DIR] [--keep]" >&2
       exit 2 ;;
  esac
done
build=$(cd "$build" && pwd)
for tool in pallet_scan pallet_detector; do
  [ -x "$build/$tool" ] || { echo "soak: $build/$tool missing: build first" >&2; exit 2; }
done
command -v Xvfb >/dev/null || { echo "soak: Xvfb missing (bash scripts/install-deps.sh)" >&2; exit 2; }

work=$(mktemp -d)
scan_pid="" detector_pid="" xvfb_pid=""
cleanup() {
  for pid in $scan_pid $detector_pid $xvfb_pid; do
    kill -0 "$pid" 2>/dev/null && kill -KILL "$pid" 2>/dev/null || true
  done
  if [ "$keep" = 1 ]; then echo "soak: work folder kept: $work" >&2; else rm -rf "$work"; fi
}
trap cleanup EXIT

rss_kb() {  # rss_kb PID: the resident size in kB, or "-" once the process is gone
  awk '/^VmRSS:/ { print $2; found = 1 } END { if (!found) print "-" }' "/proc/$1/status" 2>/dev/null || echo "-"
}

echo "soak: recording one loop of the built-in scene (600 frames, 20 s)" >&2
KV3_SOURCE=scene "$build/pallet_scan" --camera --frames 600 --record "$work/loop" \
  --output /dev/null 2>"$work/record.stderr"
python3 - "$work/loop" "$work/play" "$frames" <<'EOF'
import os, sys
loop, play, n = sys.argv[1], sys.argv[2], int(sys.argv[3])
files = sorted(f for f in os.listdir(loop) if f.endswith(".png"))
os.mkdir(play)
for i in range(n):
    os.link(os.path.join(loop, files[i % len(files)]), os.path.join(play, "f%08d.png" % (i + 1)))
EOF

# A display of its own: Xvfb picks a free number and writes it to the pipe.
exec 3<> <(:)
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
read -r -t 20 display <&3 || { echo "soak: Xvfb did not start" >&2; exit 1; }
exec 3<&-

start=$SECONDS
KV3_SOURCE="replay-once:$work/play" "$build/pallet_scan" --camera --output "$work/scan.jsonl" \
  </dev/null 2>"$work/scan.stderr" &
scan_pid=$!
DISPLAY=":$display" KV3_SOURCE=scene "$build/pallet_detector" </dev/null \
  >"$work/detector.stdout" 2>"$work/detector.stderr" &
detector_pid=$!
detector_end=""
[ -n "$minutes" ] && detector_end=$((start + minutes * 60))

scan_status="" detector_status=""
printf 'soak: %s frames for pallet_scan; sampling every %s s\n' "$frames" "$every" >&2
printf '%8s %12s %12s %12s %12s\n' seconds scan_frames scan_rss_kB det_frames det_rss_kB | tee "$work/curve.txt"
sample() {
  local t=$((SECONDS - start)) sf df
  sf=0; [ -f "$work/scan.jsonl" ] && sf=$(wc -l <"$work/scan.jsonl")
  df=$(tr -cd '\r' <"$work/detector.stdout" | wc -c)
  printf '%8d %12d %12s %12d %12s\n' "$t" "$sf" "$1" "$df" "$2" | tee -a "$work/curve.txt"
}
while :; do
  s_rss=- d_rss=-
  [ -z "$scan_status" ] && s_rss=$(rss_kb "$scan_pid")
  [ -z "$detector_status" ] && d_rss=$(rss_kb "$detector_pid")
  sample "$s_rss" "$d_rss"
  if [ -z "$scan_status" ] && ! kill -0 "$scan_pid" 2>/dev/null; then
    scan_status=0; wait "$scan_pid" || scan_status=$?
  fi
  if [ -z "$detector_status" ]; then
    if { [ -n "$detector_end" ] && [ "$SECONDS" -ge "$detector_end" ]; } ||
       { [ -z "$detector_end" ] && [ -n "$scan_status" ]; }; then
      kill -TERM "$detector_pid"
      detector_status=0; wait "$detector_pid" || detector_status=$?
    elif ! kill -0 "$detector_pid" 2>/dev/null; then
      detector_status=0; wait "$detector_pid" || detector_status=$?
    fi
  fi
  [ -n "$scan_status" ] && [ -n "$detector_status" ] && break
  sleep "$every"
done
kill -TERM "$xvfb_pid" 2>/dev/null || true

failed=0
check() {  # check CONDITION_STATUS TEXT
  if [ "$1" = 0 ]; then echo "soak: ok: $2"; else echo "soak: FAILED: $2"; failed=1; fi
}
# Growth: the last sample of each process against its first sample after the warm-up, and the
# highest sample after the warm-up against that same one.
growth() {  # growth COLUMN: "first last peak" resident sizes after the warm-up, in kB
  awk -v col="$1" -v warm="$warmup" 'NR > 1 && $1 >= warm && $col != "-" {
      if (first == "") first = $col; last = $col; if ($col > peak) peak = $col }
    END { print first, last, peak }' "$work/curve.txt"
}
for proc in scan:3 detector:5; do
  read -r first last peak <<<"$(growth "${proc#*:}")"
  if [ -z "$first" ]; then
    check 1 "${proc%%:*}: no sample after the ${warmup} s warm-up"
    continue
  fi
  echo "soak: ${proc%%:*}: resident after warm-up ${first} kB, at the end ${last} kB, peak ${peak} kB"
  check "$([ $((last - first)) -lt 1024 ] && [ $((peak - first)) -lt 1024 ] && echo 0 || echo 1)" \
    "${proc%%:*}: growth after warm-up $((last - first)) kB (peak $((peak - first)) kB), under 1024 kB"
done
python3 - "$work/scan.jsonl" "$frames" >"$work/order.txt" <<'EOF' && order=0 || order=1
import json, sys
n = 0
for line in open(sys.argv[1], encoding="utf-8"):
    record = json.loads(line)
    n += 1
    if record["index"] != n or record["source"] != "camera":
        print("record %d has index %r" % (n, record["index"])); sys.exit(1)
print("%d records, indices 1..%d in order" % (n, n))
sys.exit(0 if n == int(sys.argv[2]) else 1)
EOF
check "$order" "pallet_scan: $(cat "$work/order.txt") of $frames replayed frames"
check "$(grep -q ' skipped' "$work/scan.stderr" && echo 1 || echo 0)" "pallet_scan: no frame skipped"
check "$([ "$scan_status" = 0 ] && echo 0 || echo 1)" "pallet_scan: exit status $scan_status at the end of the stream (0 expected)"
check "$([ "$detector_status" = 130 ] && echo 0 || echo 1)" "pallet_detector: exit status $detector_status after SIGTERM (130 expected), $(tr -cd '\r' <"$work/detector.stdout" | wc -c) frames shown"
sed 's/^/soak: pallet_scan said: /' "$work/scan.stderr"
echo "soak: $((SECONDS - start)) s"
exit "$failed"
