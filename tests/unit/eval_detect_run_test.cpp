#include "tools/eval_detect_run.hpp"

#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tools/pallet_types_option.hpp"

TEST(DetectPlan, DefaultRunSensorAndSceneCount)
{
    const DetectPlan all = detect_plan(parse_eval_options({}).options);
    EXPECT_EQ(all.scenes, default_detector_scenes);
    EXPECT_EQ(all.sets, (std::vector<std::string>{"ideal", "tof"}));
    EXPECT_EQ(all.effects, (std::vector<std::string>{"ideal", "tof:mixed", "tof:multipath", "tof:noise", "tof:cutoff",
                                                     "tof:holes", "tof:floor", "tof"}));
    EXPECT_GT(all.effect_scenes, 0);

    EXPECT_EQ(detect_plan(parse_eval_options({"--distance", "1500"}).options).scenes, 0);  // a narrow sweep
    const DetectPlan asked = detect_plan(parse_eval_options({"--distance", "1500", "--detector-scenes", "30"}).options);
    EXPECT_EQ(asked.scenes, 30);
    EXPECT_EQ(detect_plan(parse_eval_options({"--detector-scenes=0"}).options).scenes, 0);

    const DetectPlan one = detect_plan(parse_eval_options({"--sensor", "tof:holes"}).options);
    EXPECT_EQ(one.sets, (std::vector<std::string>{"tof:holes"}));
    EXPECT_TRUE(one.effects.empty());
}

TEST(DetectOptions, SensorAndPalletTypesRefusedInTheToolsWording)
{
    for (const std::string& name : sim::sensor_preset_names()) {
        EXPECT_EQ(parse_eval_options({"--sensor=" + name}).result.error, "") << name;
    }
    EXPECT_EQ(parse_eval_options({"--sensor", "TOF"}).result.error,
              "--sensor takes one of " + sim::sensor_preset_list() + ", not 'TOF'");
    EXPECT_EQ(parse_eval_options({"--sensor"}).result.error, "--sensor needs a value");
    EXPECT_EQ(parse_eval_options({"--pallet-types", "t.json"}).options.pallet_types_path, "t.json");

    std::string error;
    const auto builtin = pallet_types_of_option("", error);
    ASSERT_TRUE(builtin);
    EXPECT_EQ(builtin->size(), builtin_pallet_types().size());

    const std::string path = testing::TempDir() + "eval_detect_types.json";
    std::ofstream(path) << R"({"types": [{"name": "half", "width_mm": 600, "height_mm": "tall", "openings": []}]})";
    EXPECT_FALSE(pallet_types_of_option(path, error));
    EXPECT_EQ(error.rfind("--pallet-types " + path, 0), 0U) << error;
    EXPECT_NE(error.find("types[0].height_mm: must be a number"), std::string::npos) << error;
    std::remove(path.c_str());
}
