#!/usr/bin/env bash
# pallet_eval as a user meets it: the help, usage errors in the tools' one wording, and a sweep of
# one scene given in both option forms.
# Usage: pallet_eval_cli_test.sh BUILD_DIR DATA_DIR
source "$(dirname "$0")/scan_lib.sh"
eval_tool=$BUILD_DIR/pallet_eval
status_of() { "$@" > "$work/out" 2> "$work/err"; echo $?; }
cd "$work"  # where a default --out would land

check "help" [ "$(status_of "$eval_tool" --help)" = 0 ]
for option in --distance --yaw --lateral --height --pitch --noise --cavity --empty --seed --threads --out; do
  check "help lists $option" grep -q -- "^  $option " "$work/out"
done

check "unknown option: status 2" [ "$(status_of "$eval_tool" --colour red)" = 2 ]
check "unknown option named" grep -qx "pallet_eval: unknown option '--colour'" "$work/err"
check "the hint at --help" grep -qx "Try 'pallet_eval --help'." "$work/err"
check "bad value: status 2" [ "$(status_of "$eval_tool" --threads=0)" = 2 ]
check "bad value explained" grep -qx "pallet_eval: --threads takes a whole number from 1 to 256, not '0'" "$work/err"
check "missing value: status 2" [ "$(status_of "$eval_tool" --seed)" = 2 ]
check "missing value said" grep -qx "pallet_eval: --seed needs a value" "$work/err"
check "nothing written on a usage error" [ ! -e eval_out ]

one_scene=(--distance 1500 --yaw=0 --lateral 0 --height=200 --pitch 6 --noise 0 --cavity=off --empty 0)
check "a sweep with --seed=5" [ "$(status_of "$eval_tool" "${one_scene[@]}" --seed=5 --out="$work/a")" = 0 ]
check "one scene in the CSV" [ "$(lines "$work/a/scenes.csv")" = 2 ]
check "the same sweep with --seed 5" [ "$(status_of "$eval_tool" "${one_scene[@]}" --seed 5 --out "$work/b")" = 0 ]
check "both forms give the same scene" cmp -s "$work/a/scenes.csv" "$work/b/scenes.csv"
status_of "$eval_tool" "${one_scene[@]}" --seed 6 --out "$work/c" > /dev/null
check "another seed, another scene" [ "$(cut -d, -f2 "$work/a/scenes.csv" | tail -1)" != "$(cut -d, -f2 "$work/c/scenes.csv" | tail -1)" ]

finish
