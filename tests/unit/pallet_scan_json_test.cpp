// Runs the pallet_scan program on rendered frames and checks every record against the library.
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <opencv2/imgcodecs.hpp>

#include "analysis/detector/detect_pallets.hpp"
#include "analysis/frame_analysis.hpp"
#include "tools/scan_json.hpp"

using nlohmann::json;
namespace fs = std::filesystem;

namespace {

const std::string frames_dir = std::string(PALLET_TEST_DATA) + "/scan_frames";

// Standard output of a shell command, and its exit status.
struct CommandResult {
    std::string out;
    int status = -1;
};

CommandResult run_command(const std::string& command)
{
    CommandResult result;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return result;
    char buffer[4096];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.out.append(buffer, n);
    const int status = ::pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::vector<json> parse_lines(const std::string& text)
{
    std::vector<json> records;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        EXPECT_NE(end, std::string::npos) << "the last record has no line end";
        if (end == std::string::npos) break;
        records.push_back(json::parse(text.substr(start, end - start)));  // throws if invalid
        start = end + 1;
    }
    return records;
}

// A JSON number equals the double exactly; null stands for a non-finite value.
void expect_number(const json& value, double expected, const std::string& what)
{
    if (!std::isfinite(expected)) {
        EXPECT_TRUE(value.is_null()) << what;
        return;
    }
    ASSERT_TRUE(value.is_number()) << what;
    EXPECT_EQ(value.get<double>(), expected) << what;
}

void expect_same_as_library(const json& record, const FrameAnalysis& expected)
{
    const PalletPose& pose = expected.pose;
    EXPECT_EQ(record["outcome"], outcome_name(expected.outcome));
    EXPECT_EQ(record["probe_depth"], expected.probe_depth);
    if (expected.outcome == PalletOutcome::no_contour) {
        EXPECT_TRUE(record["bounding_rect"].is_null());
    } else {
        EXPECT_EQ(record["bounding_rect"]["x"], pose.bounding_rect.x);
        EXPECT_EQ(record["bounding_rect"]["y"], pose.bounding_rect.y);
        EXPECT_EQ(record["bounding_rect"]["width"], pose.bounding_rect.width);
        EXPECT_EQ(record["bounding_rect"]["height"], pose.bounding_rect.height);
    }
    if (expected.outcome != PalletOutcome::pallet_found) {
        EXPECT_TRUE(record["rotation"].is_null());
        EXPECT_TRUE(record["centre_point"].is_null());
        return;
    }
    EXPECT_EQ(record["face_point_count"], pose.face_point_count);
    ASSERT_EQ(record["boxes"].size(), pose.boxes.size());
    for (std::size_t b = 0; b < pose.boxes.size(); ++b)
        for (std::size_t k = 0; k < 4; ++k) {
            expect_number(record["boxes"][b][k][0], pose.boxes[b][k].x, "box x");
            expect_number(record["boxes"][b][k][1], pose.boxes[b][k].y, "box y");
        }
    expect_number(record["centre_point"][0], pose.centre_point.x, "centre x");
    expect_number(record["centre_point"][1], pose.centre_point.y, "centre y");
    expect_number(record["centre_point"][2], pose.centre_point.z, "centre z");
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            expect_number(record["rotation"][r][c], pose.rotation(r, c),
                          "R(" + std::to_string(r) + "," + std::to_string(c) + ")");
    expect_number(record["yaw_deg"], pose.angles.yaw_deg, "yaw");
    expect_number(record["pitch_deg"], pose.angles.pitch_deg, "pitch");
    expect_number(record["roll_deg"], pose.angles.roll_deg, "roll");
    for (int i = 0; i < 3; ++i) {
        expect_number(record["euler_rad"][i], pose.euler_rad(i), "euler rad");
        expect_number(record["euler_deg"][i], pose.euler_deg(i), "euler deg");
    }
}

// The record's dock object is the library's dock measurement of the same frame.
void expect_same_face(const json& d, const DockPose& dock)
{
    EXPECT_EQ(d["verdict"], dock_verdict_name(dock.verdict));
    if (dock.type.empty()) {
        EXPECT_TRUE(d["type"].is_null());
    } else {
        EXPECT_EQ(d["type"], dock.type);
    }
    expect_number(d["confidence"], dock.confidence, "confidence");
    EXPECT_EQ(d["floor"]["found"], dock.floor.found);
    expect_number(d["floor"]["camera_height_mm"], dock.floor.camera_height_mm, "camera height");
    EXPECT_EQ(d["face"]["inliers"], dock.face_inliers);
    if (!dock.face_found) {
        EXPECT_TRUE(d["face"]["yaw_deg"].is_null());
        EXPECT_TRUE(d["pockets"].is_null());
        return;
    }
    expect_number(d["face"]["yaw_deg"], dock.yaw_deg, "yaw");
    expect_number(d["width_mm"], dock.width_mm, "width");
    for (int k = 0; k < 3; ++k) {
        if (d["centre"].is_null()) break;
        expect_number(d["centre"]["camera"][k], dock.centre_camera(k), "centre camera");
        expect_number(d["centre"]["floor"][k], dock.centre_floor(k), "centre floor");
    }
    EXPECT_EQ(d["pockets"].size(), dock.pockets.size());
    EXPECT_GE(d["measure_ms"].get<double>(), 0.0);
}

// The record's dock object and pallets array are the detector's, face by face.
void expect_same_detection(const json& record, const Detection& detection)
{
    ASSERT_TRUE(record.contains("dock"));
    expect_same_face(record["dock"], dock_of(detection));
    ASSERT_TRUE(record.contains("pallets"));
    ASSERT_EQ(record["pallets"].size(), detection.pallets.size());
    for (std::size_t k = 0; k < detection.pallets.size(); ++k) expect_same_face(record["pallets"][k], detection.pallets[k]);
    EXPECT_FALSE(record.contains("rejected")) << "only with --explain";
}

}  // namespace

TEST(PalletScanJson, RecordsEqualTheLibraryCallOnEveryFrame)
{
    const CommandResult result =
        run_command(std::string(PALLET_BUILD_DIR) + "/pallet_scan " + frames_dir + " 2>/dev/null");
    ASSERT_EQ(result.status, 0);
    const std::vector<json> records = parse_lines(result.out);

    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(frames_dir))
        if (entry.path().extension() == ".png") files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    ASSERT_EQ(records.size(), files.size());

    std::array<int, 3> outcomes{};
    AnalysisWorkspace workspace;
    for (std::size_t i = 0; i < files.size(); ++i) {
        SCOPED_TRACE(files[i].filename().string());
        const cv::Mat depth = cv::imread(files[i].string(), cv::IMREAD_UNCHANGED);
        const FrameAnalysis expected = analyse_depth(depth, workspace);
        EXPECT_EQ(records[i]["source"], files[i].string());
        EXPECT_EQ(records[i]["index"], i + 1);
        EXPECT_GE(records[i]["analysis_ms"].get<double>(), 0.0);
        expect_same_as_library(records[i], expected);
        expect_same_detection(records[i], detect_pallets(depth));
        ++outcomes[static_cast<std::size_t>(expected.outcome)];
    }
    // The frames are chosen so that every outcome is checked; 06_no_ground.png has no depth in
    // its ground patch, so the floor fit has no finite solution, and its record must still parse.
    EXPECT_GT(outcomes[0], 0);
    EXPECT_GT(outcomes[1], 0);
    EXPECT_GT(outcomes[2], 0);
}
