#include "tools/eval_sweep.hpp"

#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tools/eval_options.hpp"

namespace {

std::vector<double> axis(const std::string& text)
{
    std::string error;
    const std::optional<std::vector<double>> values = parse_axis(text, error);
    EXPECT_TRUE(values.has_value()) << text << ": " << error;
    return values.value_or(std::vector<double>{});
}

bool rejected(const std::string& text)
{
    std::string error;
    const bool bad = !parse_axis(text, error).has_value();
    return bad && !error.empty();
}

std::optional<EvalOptions> options_of(const std::vector<std::string>& args, std::string& error)
{
    return parse_eval_options(args, error);
}

}  // namespace

TEST(ParseAxis, RangesListsAndMalformedTexts)
{
    EXPECT_EQ(axis("750:2500:250"), (std::vector<double>{750, 1000, 1250, 1500, 1750, 2000, 2250, 2500}));
    EXPECT_EQ(axis("-20:20:20"), (std::vector<double>{-20, 0, 20}));
    EXPECT_EQ(axis("0:1:0.25"), (std::vector<double>{0, 0.25, 0.5, 0.75, 1}));
    const std::vector<double> tenths = axis("0:0.3:0.1");  // 0.3 / 0.1 is 2.9999... in doubles
    ASSERT_EQ(tenths.size(), 4U);
    EXPECT_NEAR(tenths.back(), 0.3, 1e-12);
    EXPECT_EQ(axis("0:10:4"), (std::vector<double>{0, 4, 8}));  // HI not on a step: left out
    EXPECT_EQ(axis("5:5:1"), (std::vector<double>{5}));
    EXPECT_EQ(axis("1250"), (std::vector<double>{1250}));
    EXPECT_EQ(axis("-250,0,250"), (std::vector<double>{-250, 0, 250}));

    for (const char* bad : {"", "a", "1:2", "1:2:3:4", "2:1:1", "1:2:0", "1:2:-1", "1,,2", "1,x",
                            "nan", "1:inf:1", "0:1e9:1", "12mm"}) {
        EXPECT_TRUE(rejected(bad)) << bad;
    }
}

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

TEST(EvalOptions, DefaultsAxesAndUsageErrors)
{
    std::string error;
    const std::optional<EvalOptions> none = options_of({}, error);
    ASSERT_TRUE(none.has_value());
    EXPECT_EQ(none->axes.distance_mm, default_axes().distance_mm);
    EXPECT_EQ(none->axes.cavity_no_return, (std::vector<bool>{false, true}));
    EXPECT_EQ(none->seed, 1U);
    EXPECT_EQ(none->empty, 20);
    EXPECT_FALSE(none->help);
    EXPECT_EQ(options_of({"--empty", "0"}, error)->empty, 0);
    EXPECT_EQ(options_of({"--empty", "7"}, error)->empty, 7);

    const std::optional<EvalOptions> set =
        options_of({"--distance", "1000:2000:500", "--yaw", "-5,5", "--lateral", "100", "--height", "300",
                    "--pitch", "2", "--noise", "0.5", "--cavity", "on", "--seed", "42", "--threads", "2",
                    "--out", "here"},
                   error);
    ASSERT_TRUE(set.has_value()) << error;
    EXPECT_EQ(set->axes.distance_mm, (std::vector<double>{1000, 1500, 2000}));
    EXPECT_EQ(set->axes.yaw_deg, (std::vector<double>{-5, 5}));
    EXPECT_EQ(set->axes.lateral_mm, (std::vector<double>{100}));
    EXPECT_EQ(set->axes.height_mm, (std::vector<double>{300}));
    EXPECT_EQ(set->axes.pitch_deg, (std::vector<double>{2}));
    EXPECT_EQ(set->axes.noise_level, (std::vector<double>{0.5}));
    EXPECT_EQ(set->axes.cavity_no_return, (std::vector<bool>{true}));
    EXPECT_EQ(set->seed, 42U);
    EXPECT_EQ(set->threads, 2);
    EXPECT_EQ(set->out_dir, "here");
    EXPECT_EQ(options_of({"--cavity", "off"}, error)->axes.cavity_no_return, (std::vector<bool>{false}));
    EXPECT_TRUE(options_of({"--help"}, error)->help);

    const std::vector<std::vector<std::string>> bad = {
        {"--distance"}, {"--distance", "2:1:1"}, {"--cavity", "maybe"}, {"--threads", "0"},
        {"--threads", "-1"}, {"--threads", "many"}, {"--seed", "-3"}, {"--seed", "99999999999999999999"},
        {"--out", ""}, {"--colour", "red"}, {"extra"}, {"--noise", "-1"}, {"--height", "0"},
        {"--distance", "-100"}, {"--empty", "-1"}, {"--empty", "x"}, {"--empty", "10001"}};
    for (const std::vector<std::string>& args : bad) {
        error.clear();
        EXPECT_FALSE(options_of(args, error).has_value()) << args[0];
        EXPECT_FALSE(error.empty()) << args[0];
    }
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"--colour"}, {"--colour", "red"}}) {
        EXPECT_FALSE(options_of(args, error).has_value());
        EXPECT_NE(error.find("unknown option '--colour'"), std::string::npos) << error;
    }
    EXPECT_NE(eval_usage().find("--cavity both|on|off"), std::string::npos);
}
