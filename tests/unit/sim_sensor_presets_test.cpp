// Sensors by name: the presets, what they switch on, and the scene catalogue filmed with them.
#include <algorithm>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "sim/scenes.hpp"
#include "sim/sensor_presets.hpp"

namespace {

bool same_frame(const sim::Frame& a, const sim::Frame& b)
{
    return cv::countNonZero(a.depth != b.depth) == 0 && cv::countNonZero(a.labels != b.labels) == 0;
}

int effects_on(const sim::TofSensor& sensor)
{
    return static_cast<int>(std::count_if(sim::tof_effects().begin(), sim::tof_effects().end(),
                                          [&](sim::TofEffect e) { return sim::effect_on(sensor, e); }));
}

}  // namespace

TEST(SimSensorPresets, NamesAndWhatEachSwitchesOn)
{
    const std::vector<std::string>& names = sim::sensor_preset_names();
    ASSERT_EQ(names.size(), 3 + sim::tof_effects().size());
    EXPECT_EQ(names[0], "legacy");
    EXPECT_EQ(names[1], "ideal");
    EXPECT_EQ(names[2], "tof");
    for (const std::string& name : names) {
        const std::optional<sim::SensorPreset> preset = sim::find_sensor_preset(name);
        ASSERT_TRUE(preset) << name;
        EXPECT_EQ(preset->name, name);
        EXPECT_EQ(preset->legacy, name == "legacy") << name;
        EXPECT_EQ(preset->tof.enabled, name != "legacy") << name;
    }
    EXPECT_EQ(effects_on(sim::sensor_preset("ideal").tof), 0);
    EXPECT_EQ(effects_on(sim::sensor_preset("tof").tof), static_cast<int>(sim::tof_effects().size()));
    for (const sim::TofEffect effect : sim::tof_effects()) {
        const sim::TofSensor alone = sim::sensor_preset("tof:" + sim::tof_effect_name(effect)).tof;
        EXPECT_EQ(effects_on(alone), 1) << sim::tof_effect_name(effect);
        EXPECT_TRUE(sim::effect_on(alone, effect)) << sim::tof_effect_name(effect);
        // At the typical camera's level: the whole camera with every other effect off.
        sim::TofSensor typical = sim::typical_tof();
        for (const sim::TofEffect other : sim::tof_effects()) {
            if (other != effect) typical = sim::with_effect(typical, other, false);
        }
        sim::Scene a = sim::pallet_scene(1400.0, 100.0, 8.0);
        sim::Scene b = a;
        a.tof = alone;
        b.tof = typical;
        EXPECT_TRUE(same_frame(sim::render(a, 6), sim::render(b, 6))) << sim::tof_effect_name(effect);
    }
    for (const std::string bad : {"", "TOF", "tof:", "tof:all", "ideal ", "scene", "tof:Noise"}) {
        EXPECT_FALSE(sim::find_sensor_preset(bad)) << '"' << bad << '"';
    }
    try {
        sim::sensor_preset("tof:all");
        ADD_FAILURE() << "no exception";
    } catch (const std::invalid_argument& e) {
        const std::string what = e.what();
        EXPECT_NE(what.find("tof:all"), std::string::npos) << what;
        EXPECT_NE(what.find(sim::sensor_preset_list()), std::string::npos) << what;
    }
}

TEST(SimSensorPresets, LegacyKeepsTheScenesOwnSensorAndTheCatalogueByteForByte)
{
    sim::Scene scene = sim::warehouse_scene();
    scene.sensor.noise_k_per_mm = 3.0e-6;
    const sim::Scene kept = sim::with_sensor(scene, sim::sensor_preset("legacy"));
    EXPECT_FALSE(kept.tof.enabled);
    EXPECT_TRUE(same_frame(sim::render(kept, 8), sim::render(scene, 8)));
    std::vector<std::string> names{""};
    names.insert(names.end(), sim::scene_names().begin(), sim::scene_names().end());
    for (const std::string& name : names) {
        for (const std::uint64_t n : {1u, 301u}) {
            EXPECT_TRUE(same_frame(sim::render_scene_frame(name, n, sim::sensor_preset("legacy")),
                                   sim::render_scene_frame(name, n)))
                << "scene '" << name << "' frame " << n;
        }
    }
}

TEST(SimSensorPresets, OtherPresetsFilmTheCatalogueWithoutItsLegacyLosses)
{
    for (const std::string name : {"noisy", "clutter"}) {
        const sim::SceneFrame legacy = sim::scene_frame(name, 5);
        const sim::SceneFrame ideal = sim::scene_frame(name, 5, sim::sensor_preset("ideal"));
        EXPECT_EQ(ideal.seed, legacy.seed);
        EXPECT_EQ(ideal.dropouts.far_rate + ideal.dropouts.edge_rate + ideal.dropouts.uniform_rate, 0.0);
        // The same geometry through the exact legacy sensor, without the extra dropouts.
        sim::Scene exact = legacy.scene;
        exact.sensor = sim::exact_sensor();
        const sim::Frame frame = sim::render_scene_frame(ideal);
        EXPECT_TRUE(same_frame(frame, sim::render(exact, legacy.seed))) << name;
        EXPECT_FALSE(frame.truth.floor_relief.on);

        const sim::Frame tof = sim::render_scene_frame(name, 5, sim::sensor_preset("tof"));
        EXPECT_TRUE(tof.truth.floor_relief.on);
        EXPECT_GT(cv::countNonZero(tof.depth != frame.depth), 640 * 480 / 4) << name;
    }
}
