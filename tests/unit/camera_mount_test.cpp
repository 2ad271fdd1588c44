#include <cstdio>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <unistd.h>

#include "analysis/vehicle_frame.hpp"
#include "common/camera_mount.hpp"

namespace {

const char* const good_file =
    R"({"x_mm": -300, "y_mm": 25.5, "z_mm": 200, "roll_deg": 0.5, "pitch_deg": -6, "yaw_deg": 2})";

// The error of a file that must be refused; fails the test when it is accepted.
std::string refusal(const std::string& text)
{
    std::string error;
    const std::optional<CameraMount> mount = parse_camera_mount(text, depth_camera_view(), error);
    EXPECT_FALSE(mount.has_value()) << text;
    return error;
}

// The mount file {x_mm -300, y_mm 0, z_mm 200, roll_deg 0, pitch_deg -6, yaw_deg 0} with one
// key's value text replaced, or the key left out for an empty value (a new key is added).
std::string with_key(const std::string& key, const std::string& value)
{
    std::vector<std::pair<std::string, std::string>> keys{{"x_mm", "-300"},   {"y_mm", "0"},
                                                          {"z_mm", "200"},    {"roll_deg", "0"},
                                                          {"pitch_deg", "-6"}, {"yaw_deg", "0"}};
    bool found = false;
    for (auto& [name, text] : keys) {
        if (name == key) {
            text = value;
            found = true;
        }
    }
    if (!found) keys.emplace_back(key, value);
    std::string file = "{";
    for (const auto& [name, text] : keys) {
        if (text.empty()) continue;
        file += (file.size() > 1 ? ", \"" : "\"") + name + "\": " + text;
    }
    return file + "}";
}

}  // namespace

TEST(CameraMount, ReadsAGoodFileAndWritesItBack)
{
    std::string error;
    const std::optional<CameraMount> mount = parse_camera_mount(good_file, depth_camera_view(), error);
    ASSERT_TRUE(mount.has_value()) << error;
    EXPECT_EQ(mount->x_mm, -300.0);
    EXPECT_EQ(mount->y_mm, 25.5);
    EXPECT_EQ(mount->z_mm, 200.0);
    EXPECT_EQ(mount->roll_deg, 0.5);
    EXPECT_EQ(mount->pitch_deg, -6.0);
    EXPECT_EQ(mount->yaw_deg, 2.0);

    const std::string text = camera_mount_text(*mount);
    EXPECT_EQ(text, "{\"x_mm\":-300.0,\"y_mm\":25.5,\"z_mm\":200.0,\"roll_deg\":0.5,\"pitch_deg\":-6.0,"
                    "\"yaw_deg\":2.0}\n");
    const std::optional<CameraMount> again = parse_camera_mount(text, depth_camera_view(), error);
    ASSERT_TRUE(again.has_value()) << error;
    EXPECT_EQ(again->y_mm, 25.5);

    // The written file rounds to 0.01 mm and 0.001 degrees, and never writes -0.
    const CameraMount fine{-300.004999, 0.123456, 199.995001, -0.0000001, -6.0004999, 1.23456};
    EXPECT_EQ(camera_mount_text(fine), "{\"x_mm\":-300.0,\"y_mm\":0.12,\"z_mm\":200.0,\"roll_deg\":0.0,"
                                       "\"pitch_deg\":-6.0,\"yaw_deg\":1.235}\n");
}

TEST(CameraMount, RefusesEachBadKeyByName)
{
    EXPECT_EQ(refusal(with_key("pitch_deg", "")), "pitch_deg: is missing");
    EXPECT_EQ(refusal(with_key("x_mm", "\"-300\"")), "x_mm: must be a number");
    EXPECT_EQ(refusal(with_key("yaw_deg", "null")), "yaw_deg: must be a number");
    EXPECT_EQ(refusal(with_key("pitch_deg", "-91")), "pitch_deg: must lie between -90 and 90");
    EXPECT_EQ(refusal(with_key("roll_deg", "180.5")), "roll_deg: must lie between -180 and 180");
    EXPECT_EQ(refusal(with_key("y_mm", "1e9")), "y_mm: must lie between -20000 and 20000");
    EXPECT_EQ(refusal(with_key("yaw", "3")), "yaw: unknown key");
    EXPECT_EQ(refusal("[1, 2]"), "must be an object");
    EXPECT_EQ(refusal(R"({"x_mm": 1,)"), "not JSON (at byte 12)");
}

TEST(CameraMount, RefusesACameraThatCannotSeeTheFloor)
{
    // At or below the floor.
    EXPECT_EQ(refusal(with_key("z_mm", "0")).rfind("z_mm: 0 puts the camera at or below the floor", 0), 0u);
    EXPECT_EQ(refusal(with_key("z_mm", "-5")).rfind("z_mm: -5 puts the camera", 0), 0u);

    // The view reaches atan(237.3 / 362.5) = 33.2 degrees below the axis at the bottom row: a
    // camera looking 34 degrees up sees no floor, one looking 33 degrees up still does. The
    // lowest ray is then a bottom corner's, 0.631 degrees above the horizon.
    const std::string up_34 = refusal(with_key("pitch_deg", "-34"));
    EXPECT_EQ(up_34.rfind("pitch_deg: with pitch -34 and roll 0 degrees no pixel sees the floor", 0), 0u) << up_34;
    EXPECT_NE(up_34.find("points 0.631 degrees above the horizon"), std::string::npos) << up_34;
    EXPECT_EQ(up_34.find('\n'), std::string::npos);
    std::string error;
    EXPECT_TRUE(parse_camera_mount(with_key("pitch_deg", "-33"), depth_camera_view(), error)) << error;

    // Looking straight down sees the floor; so does a camera upside down looking level, whose
    // image's top row looks down. Rolled 90 degrees clockwise the image's right column dips
    // (atan(317.63 / 362.37) = 41.2 degrees from the axis): it sees the floor up to a pitch of -41.
    EXPECT_TRUE(parse_camera_mount(with_key("pitch_deg", "90"), depth_camera_view(), error)) << error;
    EXPECT_TRUE(parse_camera_mount(with_key("roll_deg", "180"), depth_camera_view(), error)) << error;
    const CameraView view = depth_camera_view();
    EXPECT_EQ(camera_mount_problem({0, 0, 200, 90, -41, 0}, view), "");
    EXPECT_NE(camera_mount_problem({0, 0, 200, 90, -42, 0}, view), "");
}

TEST(CameraMount, LoadsFilesAndNamesThemInErrors)
{
    std::string dir = std::string(PALLET_BUILD_DIR) + "/camera_mount_test_XXXXXX";
    ASSERT_NE(::mkdtemp(dir.data()), nullptr);
    const std::string path = dir + "/mount.json";
    std::ofstream(path) << good_file;
    std::string error;
    EXPECT_TRUE(load_camera_mount(path, depth_camera_view(), error).has_value()) << error;

    std::ofstream(path) << with_key("z_mm", "");
    EXPECT_FALSE(load_camera_mount(path, depth_camera_view(), error).has_value());
    EXPECT_EQ(error, path + ": z_mm: is missing");
    EXPECT_FALSE(load_camera_mount(dir + "/none.json", depth_camera_view(), error).has_value());
    EXPECT_EQ(error, dir + "/none.json: cannot be read (No such file or directory)");
    EXPECT_FALSE(load_camera_mount(dir, depth_camera_view(), error).has_value());
    EXPECT_EQ(error, dir + ": not a regular file");
    std::remove(path.c_str());
    ::rmdir(dir.c_str());
}
