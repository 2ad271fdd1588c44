// The stand-in camera films the scene catalogue: KV3_SOURCE=scene:NAME and the default animation
// deliver exactly the catalogue's frames, whichever camera asks; an unknown name fails at the
// device query.
#include "kv3_test_support.hpp"

#include <sim/scenes.hpp>

#include <gtest/gtest.h>

#include <memory>
#include <string>

using namespace kv3_test;

namespace {

std::unique_ptr<kv3::frame_set> next_set(kv3::pipeline& pipeline)
{
    kv3::kv3_error error = kv3::KV3_ERROR_INTERNAL;
    std::unique_ptr<kv3::frame_set> set(pipeline.wait_for_frames(15000, error));
    EXPECT_EQ(error, kv3::KV3_SUCCESS);
    return set;
}

}  // namespace

TEST(Kv3SceneCatalogue, EverySourceDeliversTheCatalogueFramesByteForByte)
{
    const scoped_env faults("KV3_FAULTS", nullptr);
    struct Case {
        const char* setting;  // nullptr: KV3_SOURCE unset
        std::string scene;
    };
    std::vector<Case> cases{{nullptr, ""}, {"scene", ""}};
    std::vector<std::string> settings;
    for (const std::string& name : sim::scene_names()) settings.push_back("scene:" + name);
    for (std::size_t i = 0; i < settings.size(); ++i)
        cases.push_back({settings[i].c_str(), sim::scene_names()[i]});

    for (const Case& c : cases) {
        const std::string label = c.setting ? c.setting : "(unset)";
        const scoped_env source("KV3_SOURCE", c.setting);
        const camera cam = start_camera();
        ASSERT_EQ(cam.query_error, kv3::KV3_SUCCESS) << label;
        ASSERT_EQ(cam.start_error, kv3::KV3_SUCCESS) << label;
        for (std::uint64_t n = 1; n <= 2; ++n) {
            const auto set = next_set(*cam.pipeline);
            ASSERT_NE(set, nullptr) << label;
            ASSERT_EQ(set->frame_number(), n);
            EXPECT_TRUE(same_pixels(depth_pixels(*set), sim::render_scene_frame(c.scene, n).depth))
                << label << " frame " << n;
        }
    }
}

TEST(Kv3SceneCatalogue, UnknownSceneNameFailsTheDeviceQueryAndListsTheKnownNames)
{
    for (const char* setting : {"scene:bogus", "scene:Pallet", "scene:", "scene:empty "}) {
        const scoped_env source("KV3_SOURCE", setting);
        kv3::kv3_error error = kv3::KV3_ERROR_INTERNAL;
        kv3::context* context = kv3::kv3_create_context(error);
        ASSERT_NE(context, nullptr);
        testing::internal::CaptureStderr();
        kv3::device_list* devices = context->query_devices(error);
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_EQ(devices, nullptr) << setting;
        EXPECT_EQ(error, kv3::KV3_ERROR_INVALID_SOURCE) << setting;
        EXPECT_NE(said.find(std::string("KV3_SOURCE=\"") + setting + "\""), std::string::npos)
            << said;
        EXPECT_NE(said.find("known scenes: empty, far, pallet, noisy, clutter"), std::string::npos)
            << said;
    }
}
