// The routine the frame loop calls once per depth frame.
#pragma once

#include "analysis/fast_analysis.hpp"

namespace kv3 {
class depth_frame;
}

// Shows the frame's depth view in the window named title, writes its probe depth, analyses the
// frame in workspace, writes the report, shows the result view and ends with the console clear. A null frame only clears the console. A frame that is not 640 x 480, or
// has no data, is skipped with one line on standard error, written only while
// unusable_frame_reported is false (the call then sets it).
void process_depth_frame(const kv3::depth_frame* frame, const char* title,
                         AnalysisWorkspace& workspace, bool& unusable_frame_reported);
