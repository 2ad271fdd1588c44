#!/usr/bin/env bash
# pallet_eval as a user meets it: the help, usage errors in the tools' one wording, and a sweep of
# one scene given in both option forms.
# Usage: pallet_eval_cli_test.sh BUILD_DIR DATA_DIR
source "$(dirname "$0")/scan_lib.sh"
eval_tool=$BUILD_DIR/pallet_eval
status_of() { "$@" > "$work/out" 2> "$work/err"; echo $?; }
cd "$work"  # where a default --out would land

check "help" [ "$(status_of "$eval_tool" --help)" = 0 ]
for option in --distance --yaw --lateral --height --pitch --noise --cavity --empty --seed --threads --sensor \
    --detector-scenes --pallet-types --out; do
  check "help lists $option" grep -q -- "^  $option " "$work/out"
done

check "unknown option: status 2" [ "$(status_of "$eval_tool" --colour red)" = 2 ]
check "unknown option named" grep -qx "pallet_eval: unknown option '--colour'" "$work/err"
check "the hint at --help" grep -qx "Try 'pallet_eval --help'." "$work/err"
check "bad value: status 2" [ "$(status_of "$eval_tool" --threads=0)" = 2 ]
check "bad value explained" grep -qx "pallet_eval: --threads takes a whole number from 1 to 256, not '0'" "$work/err"
check "missing value: status 2" [ "$(status_of "$eval_tool" --seed)" = 2 ]
check "missing value said" grep -qx "pallet_eval: --seed needs a value" "$work/err"
check "an unknown sensor: status 2" [ "$(status_of "$eval_tool" --sensor TOF)" = 2 ]
check "the known sensors named" grep -qx "pallet_eval: --sensor takes one of legacy, ideal, tof, tof:mixed, tof:multipath, tof:noise, tof:cutoff, tof:holes, tof:floor, not 'TOF'" "$work/err"
printf '{"types": [{"name": "half", "width_mm": 600, "height_mm": "tall", "openings": []}]}' > "$work/types.json"
check "a bad type file is a usage error" [ "$(status_of "$eval_tool" --pallet-types "$work/types.json")" = 2 ]
check "the key and the reason" grep -q "^pallet_eval: --pallet-types .*types.json: types\[0\].height_mm: must be a number" "$work/err"
check "a missing type file" [ "$(status_of "$eval_tool" --pallet-types "$work/no_types.json")" = 2 ]
check "nothing written on a usage error" [ ! -e eval_out ]

one_scene=(--distance 1500 --yaw=0 --lateral 0 --height=200 --pitch 6 --noise 0 --cavity=off --empty 0 --sequences off)
check "a sweep with --seed=5" [ "$(status_of "$eval_tool" "${one_scene[@]}" --seed=5 --out="$work/a")" = 0 ]
check "one scene in the CSV" [ "$(lines "$work/a/scenes.csv")" = 2 ]
check "the same sweep with --seed 5" [ "$(status_of "$eval_tool" "${one_scene[@]}" --seed 5 --out "$work/b")" = 0 ]
check "both forms give the same scene" cmp -s "$work/a/scenes.csv" "$work/b/scenes.csv"
status_of "$eval_tool" "${one_scene[@]}" --seed 6 --out "$work/c" > /dev/null
check "another seed, another scene" [ "$(cut -d, -f2 "$work/a/scenes.csv" | tail -1)" != "$(cut -d, -f2 "$work/c/scenes.csv" | tail -1)" ]
check "no sequences with --sequences off" bash -c "! grep -q 'Approach sequences' '$work/a/summary.md'"
check "a bad --sequences" [ "$(status_of "$eval_tool" --sequences maybe)" = 2 ]
check "its values named" grep -qx "pallet_eval: --sequences takes on, off or only, not 'maybe'" "$work/err"

# --- the approach sequences and calibrations alone: their tables and plots -----------------------
check "sequences alone" [ "$(status_of "$eval_tool" --sequences only --sequence-seeds 1 --out "$work/s")" = 0 ]
check "their section in the summary" grep -q "^## Approach sequences: the vehicle frame and the tracks" "$work/s/summary.md"
check "a row per sequence and estimate" [ "$(grep -cE '^\| (straight|curve|two_pallets|swing) \(seed [0-9]+\) \| (raw|smoothed) \|' "$work/s/summary.md")" = 8 ]
check "the calibration table" grep -q "^### Mount calibration against the known mount" "$work/s/summary.md"
check "no sweep when alone" [ ! -e "$work/s/scenes.csv" ]
check "their lines on standard output" grep -q "^sequences (4), 1-3 m: centre |error|" "$work/out"
if command -v gnuplot > /dev/null; then
  check "a plot per sequence" [ -s "$work/s/sequence_swing.png" ]
fi

# The detector scenes alone (no sweep scene), filmed with one sensor, twice with other threads.
no_sweep=(--distance 1500 --yaw 0 --lateral 0 --height 200 --pitch 6 --noise 0 --cavity off --empty 0)
check "detector scenes" [ "$(status_of "$eval_tool" "${no_sweep[@]}" --detector-scenes 6 --sensor tof --threads 1 --out "$work/d")" = 0 ]
check "the pairs' header" grep -q "^sensor,set,scene,group,variant,seed," "$work/d/detector_pairs.csv"
check "a pair of each scene at least" [ "$(grep -c "^tof,detector," "$work/d/detector_pairs.csv")" -ge 5 ]
check "the headline of the sensor" grep -q "^| | \`tof\` |$" "$work/d/detector_summary.md"
check "its line on standard output" grep -q "^detector, tof: 6 frames; recall" "$work/out"
status_of "$eval_tool" "${no_sweep[@]}" --detector-scenes 6 --sensor tof --threads 2 --out "$work/e" > /dev/null
check "the same pairs with two threads" cmp -s "$work/d/detector_pairs.csv" "$work/e/detector_pairs.csv"

finish
