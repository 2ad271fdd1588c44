#include "tools/eval_sweep.hpp"

#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

TEST(SweepScenes, FullProductDistanceSlowestCavityFastest)
{
    SweepAxes axes;
    axes.distance_mm = {1000, 2000};
    axes.yaw_deg = {-10, 0, 10};
    axes.lateral_mm = {0};
    axes.height_mm = {200, 250};
    axes.pitch_deg = {6};
    axes.noise_level = {1};
    axes.cavity_no_return = {false, true};
    const std::vector<SceneParams> scenes = sweep_scenes(axes);
    ASSERT_EQ(scenes.size(), 2U * 3U * 2U * 2U);
    EXPECT_EQ(scenes[0].distance_mm, 1000.0);
    EXPECT_FALSE(scenes[0].cavity_no_return);
    EXPECT_TRUE(scenes[1].cavity_no_return);
    EXPECT_EQ(scenes[2].height_mm, 250.0);
    EXPECT_EQ(scenes[4].yaw_deg, 0.0);
    EXPECT_EQ(scenes.back().distance_mm, 2000.0);
    EXPECT_EQ(scenes.back().yaw_deg, 10.0);

    axes.pitch_deg.clear();
    EXPECT_TRUE(sweep_scenes(axes).empty());
}

TEST(SceneSeed, FollowsTheSceneNotItsPlaceInTheSweep)
{
    SweepAxes full = default_axes();
    SweepAxes narrow = full;
    narrow.distance_mm = {1250};
    narrow.yaw_deg = {5};
    const std::vector<SceneParams> all = sweep_scenes(full);
    std::set<std::uint64_t> seeds;
    for (const SceneParams& p : all) seeds.insert(scene_seed(p, 1));
    EXPECT_EQ(seeds.size(), all.size());  // no two scenes share a seed

    for (const SceneParams& p : sweep_scenes(narrow)) {
        bool matched = false;
        for (const SceneParams& q : all) {
            if (q.distance_mm == p.distance_mm && q.yaw_deg == p.yaw_deg && q.lateral_mm == p.lateral_mm &&
                q.height_mm == p.height_mm && q.pitch_deg == p.pitch_deg &&
                q.noise_level == p.noise_level && q.cavity_no_return == p.cavity_no_return) {
                EXPECT_EQ(scene_seed(q, 1), scene_seed(p, 1));
                matched = true;
            }
        }
        EXPECT_TRUE(matched);
    }
    EXPECT_NE(scene_seed(all[0], 1), scene_seed(all[0], 2));
}

TEST(EmptyScenes, EveryMountAndNoiseLevelWithSeedsOfTheirOwn)
{
    SweepAxes axes = default_axes();
    axes.height_mm = {200, 250};
    axes.pitch_deg = {4, 8};
    axes.noise_level = {0, 2};
    const std::vector<SceneParams> empty = empty_scenes(axes, 3);
    ASSERT_EQ(empty.size(), 2U * 2U * 2U * 3U);
    EXPECT_EQ(empty[0].height_mm, 200.0);
    EXPECT_EQ(empty[0].empty_index, 0);
    EXPECT_EQ(empty[2].empty_index, 2);
    EXPECT_EQ(empty[3].noise_level, 2.0);
    EXPECT_EQ(empty.back().height_mm, 250.0);
    EXPECT_EQ(empty.back().pitch_deg, 8.0);
    EXPECT_TRUE(empty_scenes(axes, 0).empty());

    // Floor-only scenes render no pallet, and no seed of theirs is a pallet scene's.
    EXPECT_TRUE(make_scene(empty[0]).pallets.empty());
    EXPECT_FALSE(make_scene(sweep_scenes(axes)[0]).pallets.empty());
    std::set<std::uint64_t> seeds;
    for (const SceneParams& p : sweep_scenes(axes)) seeds.insert(scene_seed(p, 1));
    for (const SceneParams& p : empty) EXPECT_TRUE(seeds.insert(scene_seed(p, 1)).second);
}

TEST(RunSweep, SameResultsInSceneOrderOnAnyThreadCount)
{
    SweepAxes axes;
    axes.distance_mm = {1000, 1500};
    axes.yaw_deg = {-10, 10};
    axes.lateral_mm = {0};
    axes.height_mm = {200};
    axes.pitch_deg = {6};
    axes.noise_level = {1};
    axes.cavity_no_return = {true};
    const std::vector<SceneParams> scenes = sweep_scenes(axes);
    std::size_t last_done = 0;
    const auto one = run_sweep(scenes, 7, 1, [&](std::size_t done, std::size_t total) {
        EXPECT_EQ(total, scenes.size());
        EXPECT_GE(done, last_done);
        last_done = done;
    });
    EXPECT_EQ(last_done, scenes.size());
    const auto three = run_sweep(scenes, 7, 3, nullptr);
    ASSERT_EQ(one.size(), scenes.size());
    ASSERT_EQ(three.size(), scenes.size());
    for (std::size_t i = 0; i < scenes.size(); ++i) {
        EXPECT_EQ(one[i].params.distance_mm, scenes[i].distance_mm);
        EXPECT_EQ(one[i].params.yaw_deg, scenes[i].yaw_deg);
        EXPECT_EQ(one[i].seed, scene_seed(scenes[i], 7));
        EXPECT_EQ(three[i].seed, one[i].seed);
        EXPECT_EQ(three[i].comparison.outcome, one[i].comparison.outcome);
        EXPECT_EQ(three[i].dock.verdict, one[i].dock.verdict);
        EXPECT_TRUE(three[i].dock.centre_error == one[i].dock.centre_error || !one[i].dock.centre_error.allFinite());
        EXPECT_EQ(three[i].comparison.face_point_count, one[i].comparison.face_point_count);
        EXPECT_TRUE(three[i].comparison.centre_error.isApprox(one[i].comparison.centre_error) ||
                    !one[i].comparison.centre_error.allFinite());
    }
}
