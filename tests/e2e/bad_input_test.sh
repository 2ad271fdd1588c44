#!/usr/bin/env bash
# Bad input files, end to end: each given to pallet_scan directly, in a folder input and in the
# stand-in camera's replay gets one line on standard error naming it and why, the documented
# exit status, and leaves every record of the good frames whole; nothing hangs or is decoded
# whole before its size is known.
# Usage: bad_input_test.sh BUILD_DIR DATA_DIR
source "$(dirname "$0")/scan_lib.sh"

in=$work/in
mkdir "$in"
cp "$frames/01_pallet_1500.png" "$in/00_good.png"
cp "$frames/03_floor.png" "$in/zz_good.png"
head -c 2500 "$frames/01_pallet_1500.png" > "$in/truncated.png"
make_png "$in/eight_bit.png" 640 480 8 0
make_png "$in/rgb.png" 640 480 16 2
make_png "$in/two_channels.png" 640 480 16 4
make_png "$in/one_pixel.png" 1 1 16 0
make_png "$in/bomb.png" 65535 65535 16 0 header-only
make_png "$in/huge.png" 20000 20000 16 0  # a real 800 MB image, 1.2 MB on disk
echo "not an image" > "$in/text.png"
: > "$in/empty.png"
ln -s loop.png "$in/loop.png"
ln -s nowhere.png "$in/broken.png"
mkfifo "$in/pipe.png"

declare -A reason=(
  [truncated.png]="a damaged PNG file (the file ends early)"
  [eight_bit.png]="not a 16-bit single-channel PNG (8-bit, 1 channel)"
  [rgb.png]="not a 16-bit single-channel PNG (16-bit, 3 channels)"
  [two_channels.png]="not a 16-bit single-channel PNG (16-bit, 2 channels)"
  [one_pixel.png]="not 640 x 480 (1 x 1)"
  [bomb.png]="not 640 x 480 (65535 x 65535)"
  [huge.png]="not 640 x 480 (20000 x 20000)"
  [text.png]="not a PNG file"
  [empty.png]="an empty file"
  [loop.png]="a symbolic link loop"
  [broken.png]="a broken symbolic link"
  [pipe.png]="not a regular file (a named pipe)"
)
bad_count=${#reason[@]}

# --- each bad file named directly: one line, status 1, no record ------------------------------
for name in "${!reason[@]}"; do
  scan_for 10 "$in/$name"
  check "$name: status 1" [ "$status" = 1 ]
  check "$name: one line with its reason" one_problem "$in/$name: ${reason[$name]}, skipped"
  check "$name: no record" [ ! -s "$work/out" ]
done

# --- the same files in a folder input: each reported as when named, the good frames analysed ---
scan_for 20 "$in"
check "folder: status 1" [ "$status" = 1 ]
check "folder: both good frames recorded" [ "$(lines "$work/out")" = 2 ]
check "folder: records whole" whole_records "$work/out"
check "folder: last good frame keeps its index" grep -q "\"index\":$((bad_count + 2))," "$work/out"
check "folder: one line per bad file" [ "$(problem_lines "$work/err" | wc -l)" = "$bad_count" ]
for name in "${!reason[@]}"; do
  check "folder: $name reported" grep -qxF "pallet_scan: $in/$name: ${reason[$name]}, skipped" "$work/err"
done
check "folder: summary counts them" grep -q "$bad_count skipped: $bad_count unusable input files" "$work/err"

# --- the stand-in camera's replay of the folder: sets without depth, one line each -------------
KV3_SOURCE="replay-once:$in" scan_for 20 --camera
check "replay: status 0 (skipped camera frames are no failure)" [ "$status" = 0 ]
check "replay: both good frames recorded" [ "$(lines "$work/out")" = 2 ]
check "replay: records whole" whole_records "$work/out"
for name in "${!reason[@]}"; do
  check "replay: $name reported" \
    [ "$(grep -cxF "kv3: replay frame $in/$name: ${reason[$name]}; no depth frame" "$work/err")" = 1 ]
done
check "replay: nothing else from the SDK" [ "$(grep -c '^kv3:' "$work/err")" = "$bad_count" ]
check "replay: pallet_scan says it once" [ "$(grep -c 'holds no depth frame' "$work/err")" = 1 ]
check "replay: summary counts them" grep -q "$bad_count frames without depth" "$work/err"
check "replay: no decoder messages" [ "$(grep -vc -e '^kv3:' -e '^pallet_scan:' "$work/err")" = 0 ]

# --- a size is refused from the header: the 800 MB image costs no more than a good frame ------
good_kb=$(peak_rss_kb "$scan" "$in/00_good.png")
huge_kb=$(peak_rss_kb "$scan" "$in/huge.png")
replay_kb=$(KV3_SOURCE="replay-once:$in" peak_rss_kb "$scan" --camera)
echo "peak memory: good frame $good_kb kB, 20000 x 20000 file $huge_kb kB, replay $replay_kb kB"
check "huge file refused without decoding" [ "$huge_kb" -lt $((good_kb + 20000)) ]
check "huge file in the replay refused without decoding" [ "$replay_kb" -lt $((good_kb + 40000)) ]

# --- an unreadable file ------------------------------------------------------------------------
if can_drop_privileges; then
  mkdir "$work/locked"
  cp "$frames/01_pallet_1500.png" "$work/locked/a_good.png"
  cp "$frames/01_pallet_1500.png" "$work/locked/b_unreadable.png"
  chmod 000 "$work/locked/b_unreadable.png"
  status=0
  unprivileged timeout -k 2 10 "$scan" "$work/locked" > "$work/out" 2> "$work/err" || status=$?
  check "unreadable: status 1" [ "$status" = 1 ]
  check "unreadable: one line with its reason" \
    one_problem "b_unreadable.png: cannot be read (Permission denied), skipped"
  check "unreadable: the good frame recorded" [ "$(lines "$work/out")" = 1 ]
  status=0
  KV3_SOURCE="replay-once:$work/locked" unprivileged timeout -k 2 10 "$scan" --camera \
    > "$work/out" 2> "$work/err" || status=$?
  check "unreadable in the replay: status 0" [ "$status" = 0 ]
  check "unreadable in the replay: one line" \
    grep -qxF "kv3: replay frame $work/locked/b_unreadable.png: cannot be read (Permission denied); no depth frame" "$work/err"
fi

# --- an empty folder ---------------------------------------------------------------------------
mkdir "$work/empty"
scan_for 10 "$work/empty"
check "empty folder: status 1" [ "$status" = 1 ]
check "empty folder: said" one_problem "$work/empty: the folder holds no .png file, skipped"
KV3_SOURCE="replay-once:$work/empty" scan_for 10 --camera
check "empty replay folder: status 1" [ "$status" = 1 ]
check "empty replay folder: the camera does not start" \
  grep -q "the camera cannot be started: .*replay folder is missing or holds no PNG frames" "$work/err"

# --- a folder of thousands of frames, 32 file descriptors: all in name order, none leaks -------
# Every third file is a pallet, the others floor, so that the outcomes show the order; hard
# links (copies where the data folder is on another file system) keep it small.
mkdir "$work/many"
python3 - "$frames" "$work/many" <<'PY'
import os, shutil, sys
frames, many = sys.argv[1:]
for i in range(1500):
    source = os.path.join(frames, '01_pallet_1500.png' if i % 3 == 0 else '03_floor.png')
    target = os.path.join(many, 'f_%04d.png' % i)
    try:
        os.link(source, target)
    except OSError:
        shutil.copyfile(source, target)
PY
expected_outcomes() {  # the outcome of frame files 0 .. $1 - 1, one a line
  for ((i = 0; i < $1; ++i)); do
    if [ $((i % 3)) = 0 ]; then echo pallet_found; else echo no_contour; fi
  done
}
outcomes() { python3 -c 'import json,sys; [print(json.loads(l)["outcome"]) for l in open(sys.argv[1])]' "$1"; }
sources_sorted() { python3 -c 'import json,sys; s=[json.loads(l)["source"] for l in open(sys.argv[1])]; sys.exit(s != sorted(s))' "$1"; }
(ulimit -n 32 && scan_for 120 "$work/many" && exit "$status")
status=$?
check "many files: status 0" [ "$status" = 0 ]
check "many files: every frame recorded" [ "$(lines "$work/out")" = 1500 ]
check "many files: records whole" whole_records "$work/out"
check "many files: in name order" sources_sorted "$work/out"
check "many files: each its own outcome" cmp -s <(outcomes "$work/out") <(expected_outcomes 1500)
(ulimit -n 32 && KV3_SOURCE="replay-once:$work/many" scan_for 20 --camera --frames 60 && exit "$status")
status=$?
check "many files replayed: status 0" [ "$status" = 0 ]
check "many files replayed: in name order" cmp -s <(outcomes "$work/out") <(expected_outcomes 60)

finish
