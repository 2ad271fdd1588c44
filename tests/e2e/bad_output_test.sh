#!/usr/bin/env bash
# Failing outputs, end to end: a full device, a full disk (a small tmpfs where one can be mounted,
# and a file size limit everywhere), a closed standard output, a reader that goes away or stops
# reading, an output path that is a folder, folders that cannot be written, and Ctrl-C or SIGTERM
# in a long run. Each gets one line on standard error and the documented exit status, and what
# was written holds only whole records and whole PNG files.
# Usage: bad_output_test.sh BUILD_DIR DATA_DIR
source "$(dirname "$0")/scan_lib.sh"

frame=$frames/01_pallet_1500.png
eight=("$frame" "$frame" "$frame" "$frame" "$frame" "$frame" "$frame" "$frame")

# Every file in the folder is a whole 16-bit frame that pallet_scan reads back.
whole_pngs() {
  local file
  for file in "$1"/*; do
    [ -e "$file" ] || continue
    "$scan" "$file" > /dev/null 2>&1 || return 1
  done
}

# The console output is the first N frames' bytes exactly, for some N (it ends at a record).
whole_console_records() {
  local one=$work/console_one n
  "$scan" --format console "$frame" > "$one" 2> /dev/null
  n=$(($(wc -c < "$1") / $(wc -c < "$one")))
  cmp -s "$1" <(for ((i = 0; i < n; ++i)); do cat "$one"; done)
}

# --- a full device -----------------------------------------------------------------------------
timeout -k 2 10 "$scan" "$frames" > /dev/full 2> "$work/err"
check "/dev/full: status 1" [ "$?" = 1 ]
check "/dev/full: one line" \
  one_problem "cannot write the output (No space left on device); stopping after 0 whole records"
timeout -k 2 10 "$scan" --format console "$frames" > /dev/full 2> "$work/err"
check "/dev/full, console: status 1" [ "$?" = 1 ]
check "/dev/full, console: one line" one_problem "(No space left on device)"

# --- a closed standard output: a failed write, and no file takes its place ---------------------
timeout -k 2 10 "$scan" --record "$work/closed_rec" "$frames" >&- 2> "$work/err"
check "closed stdout: status 1" [ "$?" = 1 ]
check "closed stdout: one line" one_problem "cannot write the output (Bad file descriptor)"
check "closed stdout: the recorded frame is whole" whole_pngs "$work/closed_rec"

# --- a reader that goes away -------------------------------------------------------------------
timeout -k 2 10 "$scan" "$frames" 2> "$work/err" | head -c 100 > "$work/head"
check "head -c 100: status 1" [ "${PIPESTATUS[0]}" = 1 ]
check "head -c 100: one line" one_problem "cannot write the output (Broken pipe)"
KV3_SOURCE=scene timeout -k 2 10 "$scan" --camera 2> "$work/err" | head -c 100 > "$work/head"
check "camera | head -c 100: ends with status 1" [ "${PIPESTATUS[0]}" = 1 ]
check "camera | head -c 100: one line" one_problem "cannot write the output (Broken pipe)"

# --- unusable output paths: status 2 before any frame is read ----------------------------------
mkdir "$work/a_folder"
scan_for 10 --output "$work/a_folder" "$frames"
check "output is a folder: status 2" [ "$status" = 2 ]
check "output is a folder: said" grep -qF "$work/a_folder: cannot open for writing: Is a directory" "$work/err"
check "output is a folder: nothing analysed" bash -c '! grep -q "frames analysed" "$1"' _ "$work/err"
if can_drop_privileges; then
  mkdir "$work/locked"
  chmod 555 "$work/locked"
  unprivileged timeout -k 2 10 "$scan" --output "$work/locked/out.jsonl" "$frames" 2> "$work/err"
  check "output in a locked folder: status 2" [ "$?" = 2 ]
  check "output in a locked folder: said" grep -qF "cannot open for writing: Permission denied" "$work/err"
  unprivileged timeout -k 2 10 "$scan" --record "$work/locked" "$frames" > "$work/out" 2> "$work/err"
  check "record folder not writable: status 2" [ "$?" = 2 ]
  check "record folder not writable: said" grep -qF "$work/locked: the folder is not writable" "$work/err"
  check "record folder not writable: nothing analysed" [ ! -s "$work/out" ]
  unprivileged timeout -k 2 10 "$scan" --record "$work/locked/rec" "$frames" > "$work/out" 2> "$work/err"
  check "record folder cannot be made: status 2" [ "$?" = 2 ]
  check "record folder cannot be made: said" grep -qF "cannot create the folder: Permission denied" "$work/err"
fi

# --- a full disk, as a file size limit (ulimit -f: 4 kB) -------------------------------------
(ulimit -f 4 && exec timeout -k 2 10 "$scan" --output "$work/limited.jsonl" "${eight[@]}") 2> "$work/err"
check "size limit: status 1" [ "$?" = 1 ]
# How many records fit in 4 kB depends on their length; the message must count what is there.
kept=$(lines "$work/limited.jsonl")
check "size limit: one line" one_problem "cannot write the output (File too large); stopping after $kept whole record"
check "size limit: some whole records, not all" [ "$kept" -ge 1 -a "$kept" -lt 8 ]
check "size limit: records whole" whole_records "$work/limited.jsonl"
(ulimit -f 4 && exec timeout -k 2 10 "$scan" --jobs 2 --output "$work/limited2.jsonl" "${eight[@]}") 2> "$work/err"
check "size limit, --jobs 2: status 1" [ "$?" = 1 ]
kept=$(lines "$work/limited2.jsonl")
check "size limit, --jobs 2: one line" one_problem "cannot write the output (File too large); stopping after $kept whole record"
check "size limit, --jobs 2: records whole" whole_records "$work/limited2.jsonl"
(ulimit -f 4 && exec timeout -k 2 10 "$scan" --format console --output "$work/limited.txt" \
   "${eight[@]}" "${eight[@]}") 2> "$work/err"
check "size limit, console: status 1" [ "$?" = 1 ]
check "size limit, console: one line" one_problem "cannot write the output (File too large)"
check "size limit, console: ends at a record" whole_console_records "$work/limited.txt"
check "size limit, console: something was written" [ -s "$work/limited.txt" ]
(ulimit -f 4 && exec timeout -k 2 10 "$scan" --record "$work/limited_rec" --output "$work/rec.jsonl" "$frames") 2> "$work/err"
check "size limit, recording: status 1" [ "$?" = 1 ]
check "size limit, recording: one line for the frames" \
  [ "$(grep -c "cannot write the file: File too large; later failures in that folder are counted" "$work/err")" = 1 ]
check "size limit, recording: only whole frames" whole_pngs "$work/limited_rec"
check "size limit, recording: the records still whole" whole_records "$work/rec.jsonl"
check "size limit, recording: failures counted" grep -q "writes failed" "$work/err"

# --- a full disk, a real one: a 300 kB tmpfs in a private mount namespace ----------------------
KV3_SOURCE=scene:noisy "$scan" --camera --frames 1 --record "$work/noisy" > /dev/null 2>&1
cat > "$work/full_disk.sh" <<'FULL'
set -u
scan=$1 work=$2 frame=$3 noisy=$4
small=$work/small
mkdir -p "$small" "$work/tmpfs"
mount -t tmpfs -o size=300k tmpfs "$small" || exit 99
# Three frames of 105 kB: the third cannot be recorded.
"$scan" --record "$small/rec" --output "$small/out.jsonl" "$noisy" "$noisy" "$noisy" 2> "$work/tmpfs/err3"
echo $? > "$work/tmpfs/status3"
cp "$small/out.jsonl" "$work/tmpfs/out3.jsonl"
cp -r "$small/rec" "$work/tmpfs/rec3"
rm -rf "$small"/*
# One page left: neither the recording nor the output fits.
head -c 4096 /dev/zero > "$small/page"
dd if=/dev/zero of="$small/filler" bs=4096 2> /dev/null
rm "$small/page"
"$scan" --record "$small/rec" --output "$small/out.jsonl" "$frame" "$frame" "$frame" "$frame" \
  "$frame" "$frame" "$frame" "$frame" 2> "$work/tmpfs/err8"
echo $? > "$work/tmpfs/status8"
cp "$small/out.jsonl" "$work/tmpfs/out8.jsonl"
cp -r "$small/rec" "$work/tmpfs/rec8"
rm -rf "$small/rec" "$small/out.jsonl"
"$scan" --jobs 2 --record "$small/rec" --output "$small/out.jsonl" "$frame" "$frame" "$frame" \
  "$frame" "$frame" "$frame" "$frame" "$frame" 2> "$work/tmpfs/err8j"
echo $? > "$work/tmpfs/status8j"
cp "$small/out.jsonl" "$work/tmpfs/out8j.jsonl"
cp -r "$small/rec" "$work/tmpfs/rec8j"
FULL
unshare --mount --propagation private timeout -k 2 30 \
  bash "$work/full_disk.sh" "$scan" "$work" "$frame" "$work/noisy/frame_000001.png" 2> /dev/null
if [ "$?" = 0 ]; then
  check "tmpfs, big frames: status 1" [ "$(cat "$work/tmpfs/status3")" = 1 ]
  check "tmpfs, big frames: the third frame not recorded, said once" \
    [ "$(grep -c "frame_000003.png: cannot write the file: No space left on device" "$work/tmpfs/err3")" = 1 ]
  check "tmpfs, big frames: two whole frames" whole_pngs "$work/tmpfs/rec3"
  check "tmpfs, big frames: three whole records" [ "$(lines "$work/tmpfs/out3.jsonl")" = 3 ]
  check "tmpfs, big frames: records whole" whole_records "$work/tmpfs/out3.jsonl"
  check "tmpfs, full: status 1" [ "$(cat "$work/tmpfs/status8")" = 1 ]
  kept=$(lines "$work/tmpfs/out8.jsonl")
  check "tmpfs, full: the output failure said" \
    grep -q "cannot write the output (No space left on device); stopping after $kept whole record" "$work/tmpfs/err8"
  check "tmpfs, full: some whole records, not all" [ "$kept" -ge 1 -a "$kept" -lt 8 ]
  check "tmpfs, full: records whole" whole_records "$work/tmpfs/out8.jsonl"
  check "tmpfs, full: no cut-off frame" whole_pngs "$work/tmpfs/rec8"
  check "tmpfs, full, --jobs 2: status 1" [ "$(cat "$work/tmpfs/status8j")" = 1 ]
  kept=$(lines "$work/tmpfs/out8j.jsonl")
  check "tmpfs, full, --jobs 2: the output failure said once" \
    [ "$(grep -c "cannot write the output (No space left on device); stopping after $kept whole record" "$work/tmpfs/err8j")" = 1 ]
  check "tmpfs, full, --jobs 2: some whole records, not all" [ "$kept" -ge 1 -a "$kept" -lt 8 ]
  check "tmpfs, full, --jobs 2: records whole" whole_records "$work/tmpfs/out8j.jsonl"
  check "tmpfs, full, --jobs 2: no cut-off frame" whole_pngs "$work/tmpfs/rec8j"
else
  echo "note: no tmpfs could be mounted here; the full disk was tested through the file size limit only" >&2
fi

# --- Ctrl-C in a long run: status 130, every record whole, in order ---------------------------
mkdir "$work/many"
for i in $(seq -w 0 999); do ln "$frame" "$work/many/f_$i.png" 2> /dev/null || cp "$frame" "$work/many/f_$i.png"; done
# The records' indices are 1, 2, 3, ... with no gap.
in_order() {
  python3 -c '
import json, sys
indices = [json.loads(line)["index"] for line in open(sys.argv[1])]
sys.exit(indices != list(range(1, len(indices) + 1)))
' "$1"
}
for jobs in 1 2; do
  rm -f "$work/long.jsonl"
  "$scan" --jobs "$jobs" --output "$work/long.jsonl" "$work/many" 2> "$work/err" &
  pid=$!
  for _ in $(seq 100); do [ "$(lines "$work/long.jsonl" 2> /dev/null || echo 0)" -ge 20 ] && break; sleep 0.05; done
  kill -INT "$pid"
  status=0
  timeout 10 tail --pid="$pid" -f /dev/null || status=timeout
  wait "$pid" || status=$?
  check "Ctrl-C, --jobs $jobs: status 130" [ "$status" = 130 ]
  check "Ctrl-C, --jobs $jobs: records whole" whole_records "$work/long.jsonl"
  check "Ctrl-C, --jobs $jobs: the run was cut short" [ "$(lines "$work/long.jsonl")" -lt 1000 ]
  check "Ctrl-C, --jobs $jobs: the summary still comes" grep -q "frames analysed" "$work/err"
  check "Ctrl-C, --jobs $jobs: nothing else said" [ "$(problem_lines "$work/err" | wc -l)" = 0 ]
  check "Ctrl-C, --jobs $jobs: records in input order" in_order "$work/long.jsonl"
done

# --- SIGTERM while the reader does not read: the blocked write gives way -----------------------
mkfifo "$work/pipe"
for jobs in 1 2; do
  exec 3<> "$work/pipe"  # holds the pipe open without reading it
  "$scan" --jobs "$jobs" "$work/many" > "$work/pipe" 2> "$work/err" &
  pid=$!
  sleep 1.5  # the pipe holds about 90 records: long enough for it to fill
  check "stalled reader, --jobs $jobs: the run waits on it" kill -0 "$pid"
  kill -TERM "$pid"
  status=0
  timeout 5 tail --pid="$pid" -f /dev/null || status=timeout
  [ "$status" = timeout ] && kill -KILL "$pid"
  wait "$pid" || status=$?
  exec 4< "$work/pipe"
  exec 3>&-
  timeout 5 cat <&4 > "$work/stalled.jsonl"
  exec 4<&-
  check "stalled reader, --jobs $jobs: SIGTERM ends the run with 130" [ "$status" = 130 ]
  check "stalled reader, --jobs $jobs: the pipe holds whole records" whole_records "$work/stalled.jsonl"
  check "stalled reader, --jobs $jobs: and some" [ "$(lines "$work/stalled.jsonl")" -gt 10 ]
  check "stalled reader, --jobs $jobs: in input order" in_order "$work/stalled.jsonl"
done

# --- SIGTERM while --output is a named pipe that nobody opens ----------------------------------
mkfifo "$work/unread"
"$scan" --output "$work/unread" "$frames" 2> "$work/err" &
pid=$!
sleep 0.5
kill -TERM "$pid"
status=0
timeout 5 tail --pid="$pid" -f /dev/null || status=timeout
[ "$status" = timeout ] && kill -KILL "$pid"
wait "$pid" || status=$?
check "output pipe without reader: SIGTERM ends the wait with 130" [ "$status" = 130 ]

finish
