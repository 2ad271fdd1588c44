#!/usr/bin/env bash
# The "DEPTH" window shows the depth view of the replayed frame pixel for pixel.
source "$(dirname "$0")/lib.sh"
use_virtual_display

start_detector KV3_SOURCE="replay:$DATA_DIR/depth_one"
window=$(depth_window)
[ "$(xdotool search --name '^DEPTH$' | wc -l)" -eq 1 ] || fail "more than one DEPTH window"
# The "result" window opens on top of it: move that one out of the way.
result=$(timeout 20 xdotool search --sync --onlyvisible --name '^result$' | head -n 1) || true
[ -n "$result" ] || fail "no result window appeared"
xdotool windowmove --sync "$result" 0 600 || true

# The resizable window scales the view to fit; make its image area 640 x 480. The toolbar and
# status bar take the rest of the height, which depends on the style: try the likely ones.
found=""
for extra in 48 44 52 40 56 36 60 32 64 0; do
  xdotool windowsize --sync "$window" 640 $((480 + extra)) || true
  sleep 0.3
  import -window "$window" "$WORK/capture.png"
  if found=$(python3 "$E2E_DIR/find_image.py" "$WORK/capture.png" "$DATA_DIR/depth_one_view.png"); then
    break
  fi
  found=""
done
[ -n "$found" ] || fail "the depth view is not in the window pixel for pixel"

press_key "$window" q
await_exit 10
[ "$STATUS" -eq 0 ] || fail "status $STATUS after q"
check_trace
echo "PASS: depth view found at $found"
