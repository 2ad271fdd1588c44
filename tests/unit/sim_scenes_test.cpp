// The scene catalogue: each scene's outcome through the analysis, the default animation's story,
// determinism and the extra dropouts.
#include "sim/scenes.hpp"

#include "analysis/frame_analysis.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

struct Sampled {
    std::uint64_t frame_number;
    PalletOutcome outcome;
    bool on_pallet;  // found, and the centre point within 150 mm of the true face centre (x, z)
};

std::vector<Sampled> analyse_frames(const std::string& name, std::uint64_t first,
                                    std::uint64_t last, std::uint64_t step)
{
    std::vector<Sampled> samples;
    AnalysisWorkspace workspace;
    for (std::uint64_t n = first; n <= last; n += step) {
        const sim::Frame frame = sim::render_scene_frame(name, n);
        const FrameAnalysis analysis = analyse_depth(frame.depth, workspace);
        const bool on_pallet =
            analysis.outcome == PalletOutcome::pallet_found && !frame.truth.pallets.empty() &&
            std::abs(analysis.pose.centre_point.x - frame.truth.pallets[0].faces[0].centre.x()) < 150.0 &&
            std::abs(analysis.pose.centre_point.z - frame.truth.pallets[0].faces[0].centre.z()) < 150.0;
        samples.push_back({n, analysis.outcome, on_pallet});
    }
    return samples;
}

bool same_bytes(const cv::Mat& a, const cv::Mat& b)
{
    return a.size() == b.size() && a.type() == b.type() && cv::norm(a, b, cv::NORM_INF) == 0.0;
}

// True when no corner of the pallet's outline is inside the image in front of the camera.
bool pallet_out_of_view(const sim::Scene& scene)
{
    for (const double x : {-600.0, 600.0}) {
        for (const double y : {0.0, 800.0}) {
            for (const double z : {0.0, 144.0}) {
                const Eigen::Vector3d floor_point = sim::pallet_to_floor(scene.pallets[0], {x, y, z});
                const Eigen::Vector3d p = sim::floor_to_camera(scene.mount, floor_point);
                if (p.z() <= 0.0) continue;
                const cv::Point2d pixel = sim::project(p);
                if (pixel.x >= 0.0 && pixel.x < 640.0 && pixel.y >= 0.0 && pixel.y < 480.0)
                    return false;
            }
        }
    }
    return true;
}

}  // namespace

// Five seconds of each named scene, every 10th frame.
TEST(SceneCatalogue, NamedScenesGiveTheirOutcomeInEveryFrame)
{
    struct Expectation {
        const char* name;
        PalletOutcome outcome;
    };
    for (const Expectation& e : {Expectation{"empty", PalletOutcome::no_contour},
                                 Expectation{"far", PalletOutcome::no_pallet},
                                 Expectation{"pallet", PalletOutcome::pallet_found},
                                 Expectation{"clutter", PalletOutcome::pallet_found}}) {
        for (const Sampled& s : analyse_frames(e.name, 1, 150, 10)) {
            EXPECT_EQ(s.outcome, e.outcome) << e.name << " frame " << s.frame_number;
            if (e.outcome == PalletOutcome::pallet_found) {
                EXPECT_TRUE(s.on_pallet) << e.name << " frame " << s.frame_number
                                         << ": found something else than the pallet";
            }
        }
    }
}

// The noisy scene's dropouts reach the ground patch: a pallet is always reported, but a tilted
// floor estimate sometimes makes it report the floor instead.
TEST(SceneCatalogue, NoisySceneAlwaysFindsSomethingButNotAlwaysThePallet)
{
    const std::vector<Sampled> samples = analyse_frames("noisy", 1, 150, 10);
    const auto on_pallet = std::count_if(samples.begin(), samples.end(),
                                         [](const Sampled& s) { return s.on_pallet; });
    for (const Sampled& s : samples)
        EXPECT_EQ(s.outcome, PalletOutcome::pallet_found) << "frame " << s.frame_number;
    EXPECT_GT(on_pallet, 0);
    EXPECT_LT(on_pallet, static_cast<long>(samples.size()));
}

// Far (no pallet), the approach (found), the turn away (no contour), in that order.
TEST(SceneCatalogue, DefaultAnimationPassesThroughAllThreeOutcomesInOrder)
{
    const std::vector<Sampled> samples = analyse_frames("", 1, sim::scene_loop_frames, 20);
    std::vector<PalletOutcome> runs;  // the outcomes with repeats collapsed
    for (const Sampled& s : samples) {
        if (runs.empty() || runs.back() != s.outcome) runs.push_back(s.outcome);
    }
    ASSERT_GE(runs.size(), 3u);
    EXPECT_EQ(runs[0], PalletOutcome::no_pallet);
    EXPECT_EQ(runs[1], PalletOutcome::pallet_found);
    EXPECT_NE(std::find(runs.begin() + 2, runs.end(), PalletOutcome::no_contour), runs.end());
    const auto found = std::count_if(samples.begin(), samples.end(), [](const Sampled& s) {
        return s.outcome == PalletOutcome::pallet_found;
    });
    const auto on_pallet = std::count_if(samples.begin(), samples.end(),
                                         [](const Sampled& s) { return s.on_pallet; });
    EXPECT_GE(found, 10) << "the found stretch should last several seconds";
    // Close up and turned, the centre pixel can fall into a fork opening (no return): rare.
    EXPECT_GE(on_pallet * 5, found * 4) << "most found frames locate the pallet itself";
}

TEST(SceneCatalogue, DefaultAnimationApproachesWhileTheYawSwingsAndLoopsWithoutAJump)
{
    double nearest = 1e9, farthest = 0.0, lowest_yaw = 0.0, highest_yaw = 0.0;
    int out_of_view = 0;
    sim::Scene previous = sim::scene_frame("", 0).scene;  // frame 0 is the loop's last frame
    for (std::uint64_t n = 1; n <= sim::scene_loop_frames; ++n) {
        const sim::Scene scene = sim::scene_frame("", n).scene;
        ASSERT_FALSE(scene.pallets.empty());
        nearest = std::min(nearest, scene.pallets[0].distance_mm);
        farthest = std::max(farthest, scene.pallets[0].distance_mm);
        lowest_yaw = std::min(lowest_yaw, scene.pallets[0].yaw_deg);
        highest_yaw = std::max(highest_yaw, scene.pallets[0].yaw_deg);
        out_of_view += pallet_out_of_view(scene) ? 1 : 0;
        EXPECT_LT(std::abs(scene.pallets[0].distance_mm - previous.pallets[0].distance_mm), 50.0) << n;
        EXPECT_LT(std::abs(scene.pallets[0].lateral_mm - previous.pallets[0].lateral_mm), 150.0) << n;
        EXPECT_LT(std::abs(scene.pallets[0].yaw_deg - previous.pallets[0].yaw_deg), 1.0) << n;
        previous = scene;
    }
    EXPECT_LE(nearest, 1000.0);
    EXPECT_GE(farthest, 2300.0);
    EXPECT_NEAR(lowest_yaw, -15.0, 0.5);
    EXPECT_NEAR(highest_yaw, 15.0, 0.5);
    EXPECT_GE(out_of_view, 30) << "a second or more with the pallet out of view";
}

TEST(SceneCatalogue, FramesAreAPureFunctionOfNameAndFrameNumber)
{
    std::vector<std::string> names{""};
    names.insert(names.end(), sim::scene_names().begin(), sim::scene_names().end());
    for (const std::string& name : names) {
        const sim::Frame a = sim::render_scene_frame(name, 37);
        const sim::Frame b = sim::render_scene_frame(name, 37);
        const sim::Frame next_loop = sim::render_scene_frame(name, 37 + sim::scene_loop_frames);
        const sim::Frame other = sim::render_scene_frame(name, 38);
        EXPECT_TRUE(same_bytes(a.depth, b.depth)) << name;
        EXPECT_TRUE(same_bytes(a.labels, b.labels)) << name;
        EXPECT_TRUE(same_bytes(a.depth, next_loop.depth)) << name;
        EXPECT_FALSE(same_bytes(a.depth, other.depth)) << name << ": the noise changes per frame";
        EXPECT_EQ(a.depth.type(), CV_16UC1);
        EXPECT_EQ(a.depth.size(), cv::Size(640, 480));
    }
    // Each scene draws its own noise, not a copy of another's.
    EXPECT_FALSE(same_bytes(sim::render_scene_frame("pallet", 5).depth,
                            sim::render_scene_frame("clutter", 5).depth));
}

TEST(SceneCatalogue, NamesAreExactAndUnknownOnesAreRefused)
{
    EXPECT_TRUE(sim::is_scene_name(""));
    for (const std::string& name : sim::scene_names()) EXPECT_TRUE(sim::is_scene_name(name));
    for (const char* wrong : {"Pallet", "pallet ", "scene", "default", "bogus"}) {
        EXPECT_FALSE(sim::is_scene_name(wrong)) << wrong;
        EXPECT_THROW(sim::scene_frame(wrong, 1), std::invalid_argument) << wrong;
    }
}

TEST(SceneDropouts, EdgesAndLongRangeLoseReturnsTheNearFloorKeepsThem)
{
    // Left half 1000 mm, right half 4000 mm: one vertical depth edge between columns 319 and 320.
    cv::Mat depth(480, 640, CV_16UC1, cv::Scalar(1000));
    depth.colRange(320, 640).setTo(4000);
    depth.at<std::uint16_t>(0, 0) = 0;  // a pixel without return is no edge for its neighbour
    cv::Mat lost = depth.clone();
    sim::apply_dropouts(lost, sim::Dropouts{0.02, 0.5}, 42);

    EXPECT_EQ(cv::countNonZero((lost != depth) & (lost != 0)), 0) << "only zeros are written";
    const cv::Mat dropped = (lost == 0) & (depth != 0);
    EXPECT_EQ(cv::countNonZero(dropped.colRange(0, 319)), 0) << "near and flat: nothing lost";
    const double edge_share = cv::countNonZero(dropped.colRange(319, 321)) / (2.0 * 480);
    EXPECT_NEAR(edge_share, 0.5, 0.08);
    // At 4000 mm the long-range loss is far_rate * ((4000 - 1500) / 2500)^2 = far_rate.
    const double far_share = cv::countNonZero(dropped.colRange(321, 640)) / (319.0 * 480);
    EXPECT_NEAR(far_share, 0.02, 0.004);

    // A small step (40 mm on 1000 mm) is a slope, not an edge, even when every edge is lost.
    cv::Mat step(480, 640, CV_16UC1, cv::Scalar(1000));
    step.colRange(320, 640).setTo(1040);
    cv::Mat step_lost = step.clone();
    sim::apply_dropouts(step_lost, sim::Dropouts{0.02, 1.0}, 3);
    EXPECT_TRUE(same_bytes(step, step_lost));
}
