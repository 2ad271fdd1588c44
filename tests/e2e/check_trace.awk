# Checks a pallet_detector SDK trace: the start-up calls in their order, then passes of
# wait (15000 ms) -> depth frame -> data, width, height -> delete, a set without a depth frame
# deleted too, a wait without a set going on, and one stop as the very last call.
# Prints "sets=N depth_frames=M empty_waits=K"; exits 1 with a message at the first wrong line.
function bad(message) {
    printf "trace line %d: %s: %s\n", NR, message, $0 > "/dev/stderr"
    failed = 1
    exit 1
}
BEGIN {
    split("kv3_get_version|kv3_create_context|context.query_devices|kv3_create_pipeline|" \
          "kv3_create_config|config.enable_stream kind=2 width=640 height=480|" \
          "config.enable_stream kind=3 width=960 height=540|pipeline.start", start, "|")
    state = "wait"
}
NR <= 8 {
    if ($0 != start[NR]) bad("expected " start[NR])
    next
}
stopped { bad("a call after the stop") }
state == "wait" && $0 == "pipeline.stop" { stopped = 1; next }
state == "wait" && $0 == "pipeline.wait_for_frames timeout_ms=15000 -> null" { ++empty; next }
state == "wait" && match($0, /^pipeline\.wait_for_frames timeout_ms=15000 -> frame_set#[0-9]+$/) {
    n = substr($0, index($0, "#") + 1)
    ++sets
    state = "depth"
    next
}
state == "depth" && $0 == "frame_set#" n ".get_depth_frame -> depth_frame#" n { state = "data"; next }
state == "depth" && $0 == "frame_set#" n ".get_depth_frame -> null" { state = "delete"; next }
state == "data" && $0 == "depth_frame#" n ".data" { state = "width"; next }
state == "width" && $0 == "depth_frame#" n ".width" { state = "height"; next }
state == "height" && $0 == "depth_frame#" n ".height" { ++frames; state = "delete"; next }
state == "delete" && $0 == "frame_set#" n ".delete" { state = "wait"; next }
{ bad("unexpected in state " state) }
END {
    if (failed) exit 1
    if (NR < 8) { print "trace ends during start-up" > "/dev/stderr"; exit 1 }
    if (!stopped) { print "trace has no stop at its end" > "/dev/stderr"; exit 1 }
    printf "sets=%d depth_frames=%d empty_waits=%d\n", sets, frames, empty
}
