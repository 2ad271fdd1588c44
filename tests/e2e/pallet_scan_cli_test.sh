#!/usr/bin/env bash
# pallet_scan as a user meets it: bad inputs, usage errors, output folders, the camera with
# faults, recording and replay, and an interrupted run.
# Usage: pallet_scan_cli_test.sh BUILD_DIR DATA_DIR
source "$(dirname "$0")/scan_lib.sh"
status_of() { "$@" > "$work/out" 2> "$work/err"; echo $?; }

# --- bad inputs are reported once each, skipped, and fail the run -----------------------------
cp "$frames/01_pallet_1500.png" "$work/good.png"
echo "not an image" > "$work/text.png"
mkdir "$work/empty"
status=$(status_of "$scan" "$work/good.png" "$work/missing.png" "$work/text.png" "$work/empty" \
                           "$frames/03_floor.png")
check "bad inputs give status 1" [ "$status" = 1 ]
check "good frames still written" [ "$(lines "$work/out")" = 2 ]
check "indexes keep the input positions" grep -q '"index":5,' "$work/out"
check "records are whole JSON lines" whole_records "$work/out"
for bad in missing.png text.png empty; do
  check "$bad named once" [ "$(grep -c "$work/$bad" "$work/err")" = 1 ]
done
check "missing file reason" grep -q "missing.png: no such file, skipped" "$work/err"
check "summary counts the skips" grep -q "3 skipped: 3 unusable input files" "$work/err"

# --- usage errors and unusable output paths: status 2, nothing analysed ------------------------
touch "$work/a_file"
check "no input" [ "$(status_of "$scan")" = 2 ]
check "unknown format" [ "$(status_of "$scan" --format xml "$frames")" = 2 ]
check "usage error is explained" grep -qx "pallet_scan: --format takes jsonl or console, not 'xml'" "$work/err"
check "record onto a file" [ "$(status_of "$scan" --record "$work/a_file" "$frames")" = 2 ]
check "views below a file" [ "$(status_of "$scan" --save-views "$work/a_file/v" "$frames")" = 2 ]
check "output in a missing folder" [ "$(status_of "$scan" --output "$work/no/such/out" "$frames")" = 2 ]
for jobs in 0 -1 two; do
  check "--jobs $jobs: status 2" [ "$(status_of "$scan" --jobs "$jobs" "$frames")" = 2 ]
  check "--jobs $jobs: the usage wording" \
    cmp -s "$work/err" <(printf "pallet_scan: --jobs takes a whole number from 1 to 256, not '%s'\nTry 'pallet_scan --help'.\n" "$jobs")
  check "--jobs $jobs: nothing analysed" [ ! -s "$work/out" ]
done
check "views and recording in one folder" \
  [ "$(status_of "$scan" --record "$work/same" --save-views "$work/./same/" "$frames")" = 2 ]
check "help" [ "$(status_of "$scan" --help)" = 0 ]
check "help text on stdout" grep -q "^Usage: pallet_scan" "$work/out"

# --- pallet types from a file: refused before any frame with the key and the reason ------------
printf '{"types": [{"name": "half", "width_mm": 600, "height_mm": "tall", "openings": []}]}' > "$work/types.json"
check "a bad type file is a usage error" [ "$(status_of "$scan" --pallet-types "$work/types.json" "$frames")" = 2 ]
check "the key and the reason" grep -q "types.json: types\[0\].height_mm: must be a number" "$work/err"
check "nothing analysed before it" [ ! -s "$work/out" ]
check "a missing type file" [ "$(status_of "$scan" --pallet-types "$work/no_types.json" "$frames")" = 2 ]
printf '{"replace": true, "types": [{"name": "wide_2000", "width_mm": 2000, "height_mm": 150,
  "openings": [{"left_mm": 200, "right_mm": 900, "bottom_mm": 0, "top_mm": 100},
               {"left_mm": 1100, "right_mm": 1800, "bottom_mm": 0, "top_mm": 100}]}]}' > "$work/types.json"
status=$(status_of "$scan" --pallet-types "$work/types.json" --explain "$frames/01_pallet_1500.png")
check "a type file that replaces the built-in types" [ "$status" = 0 ]
check "the 1200 mm pallet, no type of the file, is an unknown type" \
  grep -q '"pallets":\[{"verdict":"unknown_type","type":null,' "$work/out"
check "explain adds the rejected faces" grep -q '"rejected":\[' "$work/out"
status=$(status_of "$scan" "$frames/01_pallet_1500.png")
check "without explain no rejected faces" bash -c "! grep -q '\"rejected\"' '$work/out'"
check "records stay whole JSON lines" whole_records "$work/out"

# --- the vehicle frame and tracks: a bad mount file refused before any frame --------------------
printf '{"x_mm": -300, "y_mm": 0, "z_mm": 200, "roll_deg": 0, "pitch_deg": 95, "yaw_deg": 0}' > "$work/mount.json"
check "a bad mount file is a usage error" [ "$(status_of "$scan" --mount "$work/mount.json" "$frames")" = 2 ]
check "the mount refusal names the file and the key" \
  grep -qx "pallet_scan: --mount $work/mount.json: pitch_deg: must lie between -90 and 90" "$work/err"
check "nothing analysed before the mount refusal" [ ! -s "$work/out" ]
printf '{"x_mm": -300, "y_mm": 0, "z_mm": 200, "roll_deg": 0, "pitch_deg": -40, "yaw_deg": 0}' > "$work/mount.json"
check "a mount whose floor lies behind the camera" [ "$(status_of "$scan" --mount "$work/mount.json" "$frames")" = 2 ]
check "it says why" grep -q "^pallet_scan: --mount $work/mount.json: pitch_deg: with pitch -40 .* no pixel sees the floor" "$work/err"
check "a missing mount file" [ "$(status_of "$scan" --mount "$work/no_mount.json" "$frames")" = 2 ]

# keys_of FILE SCRIPT: runs the Python check SCRIPT over the records of FILE (as `records`)
keys_of() {
  python3 -c "import json, sys; records = [json.loads(l) for l in open(sys.argv[1])]; sys.exit(0 if ($2) else 1)" "$1"
}
printf '{"x_mm": -300, "y_mm": 0, "z_mm": 200, "roll_deg": 0, "pitch_deg": -6, "yaw_deg": 0}' > "$work/mount.json"
status=$(status_of "$scan" --mount "$work/mount.json" --track "$frames/01_pallet_1500.png" "$frames/01_pallet_1500.png")
check "mount and track run" [ "$status" = 0 ]
check "vehicle points beside camera and floor" keys_of "$work/out" \
  "all(set(p['centre']) == {'camera', 'floor', 'vehicle'} and 'vehicle' in p['left_edge'] and 'vehicle' in p['pockets'][0]['centre'] for r in records for p in r['pallets'])"
check "the 1.5 m pallet 1.2 m ahead of the vehicle's origin" keys_of "$work/out" \
  "abs(records[0]['pallets'][0]['centre']['vehicle'][0] - 1200) < 5 and abs(records[0]['pallets'][0]['vehicle_yaw_deg']) < 0.5"
check "the dock in the vehicle frame too" keys_of "$work/out" "all('vehicle' in r['dock']['centre'] and 'vehicle_yaw_deg' in r['dock'] for r in records)"
check "one track over both frames" keys_of "$work/out" \
  "[(r['pallets'][0]['track_id'], r['pallets'][0]['frames_seen']) for r in records] == [(1, 1), (1, 2)]"
check "smoothed in the vehicle frame" keys_of "$work/out" \
  "all(set(r['pallets'][0]['smoothed']) == {'centre', 'centre_sd_mm', 'yaw_deg', 'yaw_sd_deg'} and 'vehicle' in r['pallets'][0]['smoothed']['centre'] and r['tracks_held'] == [] for r in records)"
status=$(status_of "$scan" --track "$frames/01_pallet_1500.png")
check "without a mount the tracks are in the floor frame" keys_of "$work/out" \
  "list(records[0]['pallets'][0]['smoothed']['centre']) == ['floor'] and 'vehicle_yaw_deg' not in records[0]['pallets'][0]"
status=$(status_of "$scan" "$frames/01_pallet_1500.png")
check "without --mount and --track no such key" \
  bash -c "! grep -qE '\"(vehicle|vehicle_yaw_deg|track_id|frames_seen|smoothed|tracks_held)\"' '$work/out'"

# --- output file, views named after inputs, created folders ------------------------------------
status=$(status_of "$scan" --output "$work/records.jsonl" --save-views "$work/new/views" \
                           "$frames/01_pallet_1500.png" "$frames/01_pallet_1500.png")
check "output file run succeeds" [ "$status" = 0 ]
check "nothing on stdout with --output" [ ! -s "$work/out" ]
check "two records in the file" [ "$(lines "$work/records.jsonl")" = 2 ]
check "view named after its input" [ -s "$work/new/views/01_pallet_1500.png" ]
check "a repeated name does not overwrite" [ -s "$work/new/views/01_pallet_1500_frame_000002.png" ]

# --- several workers: the same records, files and lines as one -------------------------------
# Repeated and bad inputs among good ones, so that names clash and skips interleave; only the
# timing fields may differ.
without_times() {
  python3 -c '
import json, sys
def strip(value):
    if isinstance(value, dict):
        return {k: strip(v) for k, v in value.items() if k not in ("analysis_ms", "measure_ms")}
    if isinstance(value, list):
        return [strip(v) for v in value]
    return value
for line in open(sys.argv[1], encoding="utf-8"):
    print(json.dumps(strip(json.loads(line))))
' "$1"
}
mixed=("$frames" "$work/text.png" "$frames/02_pallet_turned.png" "$work/missing.png" "$frames")
for jobs in 1 3; do
  status=$(status_of "$scan" --jobs "$jobs" --save-views "$work/views_$jobs" --record "$work/rec_$jobs" "${mixed[@]}")
  check "--jobs $jobs: status 1 for the bad inputs" [ "$status" = 1 ]
  without_times "$work/out" > "$work/records_$jobs"
  problem_lines "$work/err" > "$work/problems_$jobs"
  "$scan" --jobs "$jobs" --format console "${mixed[@]}" > "$work/console_$jobs" 2> /dev/null
done
check "--jobs 3: every record" [ "$(lines "$work/records_3")" = 15 ]
check "--jobs 3: the records of --jobs 1 but for the times" cmp -s "$work/records_1" "$work/records_3"
check "--jobs 3: the console bytes of --jobs 1" cmp -s "$work/console_1" "$work/console_3"
check "--jobs 3: the same lines on standard error, in order" cmp -s "$work/problems_1" "$work/problems_3"
check "--jobs 3: the same views, named alike" diff -r "$work/views_1" "$work/views_3"
check "--jobs 3: the same recorded frames" diff -r "$work/rec_1" "$work/rec_3"

# --- camera: faults reported once per kind, --record, replay of the recording -----------------
status=$(KV3_SOURCE="replay-once:$frames" KV3_FAULTS="nodepth@2,badsize@3,nodepth@4,badsize@5" \
         status_of "$scan" --camera --format console)
check "camera faults are no failure" [ "$status" = 0 ]
check "no depth said once" [ "$(grep -c "holds no depth frame" "$work/err")" = 1 ]
check "wrong size said once" [ "$(grep -c "not 640 x 480 are skipped" "$work/err")" = 1 ]
check "faulty frames counted" grep -q "4 skipped: 0 unusable input files, 2 frames without depth, 2 frames of a wrong size" "$work/err"
check "three frames analysed" grep -q "^pallet_scan: 3 frames analysed" "$work/err"

status=$(KV3_SOURCE="replay-once:$frames" status_of "$scan" --camera --format console --record "$work/rec")
cp "$work/out" "$work/camera.out"
check "recording run succeeds" [ "$status" = 0 ]
i=0
for source in "$frames"/*.png; do
  i=$((i + 1))
  recorded=$(printf '%s/rec/frame_%06d.png' "$work" "$i")
  check "frame $i recorded pixel for pixel" \
    [ "$(identify -format '%#' "$source")" = "$(identify -format '%#' "$recorded" 2>/dev/null)" ]
  check "frame $i recorded as 16-bit grey" [ "$(identify -format '%z %[channels]' "$recorded")" = "16 gray" ]
done
check "one file per frame" [ "$(ls "$work/rec" | wc -l)" = "$i" ]
KV3_SOURCE="replay-once:$work/rec" "$scan" --camera --format console > "$work/replay.out" 2> /dev/null
"$scan" --format console "$frames" > "$work/files.out" 2> /dev/null
check "the replayed recording gives the same report" cmp -s "$work/camera.out" "$work/replay.out"
check "the camera gives the files' report" cmp -s "$work/camera.out" "$work/files.out"

check "no camera: status 1" [ "$(KV3_SOURCE=none status_of "$scan" --camera)" = 1 ]
check "no camera: said why" grep -q "the camera cannot be started" "$work/err"

KV3_SOURCE=scene "$scan" --camera --frames 3 --save-views "$work/camviews" > "$work/out" 2> /dev/null
check "--frames stops the camera" [ "$(lines "$work/out")" = 3 ]
check "the camera tracks always" keys_of "$work/out" "all('tracks_held' in r for r in records)"
check "camera views by index" [ -s "$work/camviews/frame_000003.png" ]

# --- Ctrl-C: status 130, every record whole ----------------------------------------------------
KV3_SOURCE=scene "$scan" --camera --output "$work/live.jsonl" 2> "$work/live.err" &
pid=$!
for _ in $(seq 300); do
  [ -s "$work/live.jsonl" ] && [ "$(lines "$work/live.jsonl")" -ge 2 ] && break
  sleep 0.1
done
kill -INT "$pid"
wait "$pid"
check "interrupted run exits 130" [ "$?" = 130 ]
check "interrupted output holds whole records" whole_records "$work/live.jsonl"
check "interrupted run still summarises" grep -q "frames analysed" "$work/live.err"

finish
