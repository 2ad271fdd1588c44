#!/usr/bin/env bash
# No camera: exactly the version line and the error line, status 1, at once, without a pause
# even when standard input is a terminal, and no SDK call after the error text.
source "$(dirname "$0")/lib.sh"

for source in none "replay:$WORK/missing"; do
  rm -f "$TRACE"
  STATUS=0
  KV3_SOURCE="$source" KV3_TRACE="$TRACE" timeout 10 "$DETECTOR" \
    >"$WORK/stdout" 2>"$WORK/stderr" </dev/null || STATUS=$?
  [ "$STATUS" -eq 1 ] || fail "status $STATUS with KV3_SOURCE=$source"
  [ "$(wc -l <"$WORK/stdout")" -eq 2 ] || fail "not two lines with KV3_SOURCE=$source"
  head -n 1 "$WORK/stdout" | grep -qx 'version:.* ' || fail "no version line"
  tail -n 1 "$WORK/stdout" | grep -qx 'error:.\+ ' || fail "no error line"
  error_call=$(tail -n 1 "$TRACE")
  case "$error_call" in
    "kv3_error_to_string error="[1-9]*) ;;
    *) fail "the last SDK call is not the error text: $error_call" ;;
  esac
  expected=$(printf '%s\n' kv3_get_version kv3_create_context context.query_devices "$error_call")
  [ "$(cat "$TRACE")" = "$expected" ] || fail "SDK calls beyond the start-up"
done

# With a terminal on standard input the failure still ends at once: no pause.
if command -v script >/dev/null; then
  STATUS=0
  KV3_SOURCE=none timeout 10 script -qec "$DETECTOR" /dev/null >"$WORK/terminal" 2>&1 \
    || STATUS=$?
  [ "$STATUS" -eq 1 ] || fail "status $STATUS on a terminal (124 means it waited)"
  ! grep -q 'Press any key' "$WORK/terminal" || fail "paused after the start-up error"
fi
echo PASS
