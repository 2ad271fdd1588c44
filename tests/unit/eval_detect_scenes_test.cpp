#include "tools/eval_detect_scenes.hpp"

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sim/render.hpp"
#include "tools/eval_detect.hpp"
#include "tools/eval_detect_report.hpp"

namespace {

// The face's middle in the floor frame.
Eigen::Vector3d floor_point(const sim::Mount& mount, const Eigen::Vector3d& camera_point)
{
    return sim::camera_to_floor(mount) * camera_point + Eigen::Vector3d(0.0, 0.0, mount.height_mm);
}

std::size_t count_of(const std::vector<DetectScene>& scenes, DetectGroup group)
{
    std::size_t n = 0;
    for (const DetectScene& s : scenes) n += s.group == group;
    return n;
}

std::string pairs_csv(const std::vector<DetectFrame>& frames)
{
    const std::vector<DetectRun> runs = {{"ideal", "detector", frames}};
    std::ostringstream out;
    write_table_csv(out, detect_pair_columns(), detect_rows(runs));
    return out.str();
}

}  // namespace

TEST(PlaceFace, FrontOrSideFaceWhereAsked)
{
    for (const bool side : {false, true}) {
        sim::Scene scene = sim::floor_scene();
        scene.pallets.push_back(place_face("block_1200x800", side, 2000.0, -300.0, 25.0));
        const sim::Truth truth = sim::truth_of(scene);
        ASSERT_EQ(truth.pallets.size(), 1U);
        const sim::FaceTruth& face = truth.pallets[0].faces.at(0);
        EXPECT_EQ(face.type, side ? "block_1200x800_short" : "block_1200x800_long");
        const Eigen::Vector3d middle = floor_point(scene.mount, face.centre);
        EXPECT_NEAR(middle.x(), -300.0, 1e-6);
        EXPECT_NEAR(middle.y(), 2000.0, 1e-6);
        EXPECT_NEAR(face.yaw_deg, 25.0, 1e-9);
    }
}

TEST(DetectSceneSet, GroupsAndTheirContents)
{
    const std::vector<DetectScene> scenes = detector_scene_set(1, 400);
    ASSERT_EQ(scenes.size(), 400U);
    EXPECT_EQ(count_of(scenes, DetectGroup::lone), 160U);
    EXPECT_EQ(count_of(scenes, DetectGroup::loaded), 48U);
    EXPECT_EQ(count_of(scenes, DetectGroup::row), 48U);
    EXPECT_EQ(count_of(scenes, DetectGroup::cut_off), 32U);
    EXPECT_EQ(count_of(scenes, DetectGroup::pallet_free), 64U);
    std::set<std::string> models, sides;
    std::set<std::uint64_t> seeds;
    for (const DetectScene& s : scenes) {
        seeds.insert(s.seed);
        ASSERT_EQ(s.counted.size(), s.scene.pallets.size());
        EXPECT_GE(s.scene.mount.height_mm, 60.0);
        EXPECT_LE(s.scene.mount.height_mm, 400.0);
        EXPECT_TRUE(s.noise_level == 0.0 || s.noise_level == 1.0);
        const sim::Truth truth = sim::truth_of(s.scene);
        for (const sim::PalletTruth& p : truth.pallets) {
            models.insert(p.placement.model);
            if (!p.faces.empty()) sides.insert(p.faces[0].type);
        }
        switch (s.group) {
        case DetectGroup::pallet_free:
            EXPECT_TRUE(s.scene.pallets.empty()) << s.variant;
            break;
        case DetectGroup::row: {
            ASSERT_GE(truth.pallets.size(), 2U);
            ASSERT_LE(truth.pallets.size(), 3U);
            const sim::FaceTruth& a = truth.pallets[0].faces.at(0);
            const sim::FaceTruth& b = truth.pallets[1].faces.at(0);
            EXPECT_GE((a.centre - b.centre).norm() - a.width_mm, 100.0 - 1e-6) << s.variant;  // the gap
            break;
        }
        case DetectGroup::cut_off:
            EXPECT_EQ(face_view(truth.pallets.at(0).faces.at(0), truth.floor_normal), FaceView::cut_off) << s.variant;
            break;
        case DetectGroup::loaded:
            ASSERT_EQ(s.scene.boxes.size(), 1U);
            EXPECT_EQ(s.scene.boxes[0].label, sim::Label::load);
            break;
        default:
            break;
        }
        if (s.variant.find("pallet_behind") != std::string::npos) {
            EXPECT_EQ(s.counted, (std::vector<bool>{true, false}));
        }
    }
    EXPECT_EQ(seeds.size(), scenes.size());
    EXPECT_EQ(models.size(), builtin_pallet_models().size());
    EXPECT_TRUE(sides.count("block_1200x800_short") && sides.count("block_1200x1000_short"));
}

TEST(DetectSceneSet, SameSeedSameSceneWhateverTheSetSizeOrThreads)
{
    // Scene k of a group is the same in a small and a large set; another base seed changes it.
    const std::vector<DetectScene> small = detector_scene_set(7, 10);
    const std::vector<DetectScene> large = detector_scene_set(7, 100);
    EXPECT_EQ(small[0].seed, large[0].seed);
    EXPECT_EQ(small[0].variant, large[0].variant);
    EXPECT_NE(detect_scene_seed(7, DetectGroup::lone, 0), detect_scene_seed(8, DetectGroup::lone, 0));
    EXPECT_NE(detect_scene_seed(7, DetectGroup::lone, 0), detect_scene_seed(7, DetectGroup::row, 0));
    EXPECT_NE(detect_scene_seed(7, DetectGroup::lone, 0), detect_scene_seed(7, DetectGroup::lone, 1));

    const DetectScene scene = make_detect_scene(7, DetectGroup::row, 3);
    const sim::Frame a = sim::render(scene.scene, scene.seed);
    const sim::Frame b = sim::render(make_detect_scene(7, DetectGroup::row, 3).scene, scene.seed);
    EXPECT_EQ(cv::countNonZero(a.depth != b.depth), 0);
    const DetectScene other = make_detect_scene(8, DetectGroup::row, 3);
    EXPECT_GT(cv::countNonZero(a.depth != sim::render(other.scene, other.seed).depth), 0);

    const std::vector<DetectScene> few(small.begin(), small.begin() + 4);
    const sim::SensorPreset ideal = sim::sensor_preset("ideal");
    const std::string one = pairs_csv(run_detect_set(few, ideal, builtin_pallet_types(), 1, nullptr));
    EXPECT_EQ(one, pairs_csv(run_detect_set(few, ideal, builtin_pallet_types(), 3, nullptr)));
    EXPECT_GT(std::count(one.begin(), one.end(), '\n'), 4);
}
