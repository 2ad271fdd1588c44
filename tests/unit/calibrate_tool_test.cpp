// pallet_calibrate as a user meets it: recorded floor frames, frames without a floor, the camera,
// usage errors.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <sys/wait.h>
#include <unistd.h>

#include "analysis/vehicle_frame.hpp"
#include "sim/render.hpp"
#include "sim/sequences.hpp"

namespace fs = std::filesystem;

namespace {

std::string file_text(const std::string& path)
{
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class CalibrateTool : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = std::string(PALLET_BUILD_DIR) + "/calibrate_tool_test_XXXXXX";
        ASSERT_NE(::mkdtemp(dir.data()), nullptr);
    }
    void TearDown() override { fs::remove_all(dir); }

    // Runs the tool with the arguments (and an environment prefix); its exit status, with its
    // standard output and error in out and err.
    int run(const std::string& arguments, const std::string& environment = "")
    {
        const std::string command = environment + " " + PALLET_BUILD_DIR + "/pallet_calibrate " + arguments + " > " +
                                    dir + "/out 2> " + dir + "/err";
        const int status = std::system(command.c_str());
        out = file_text(dir + "/out");
        err = file_text(dir + "/err");
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // Writes n rendered frames of the scene as frame_NN.png into a new folder.
    std::string write_frames(const std::string& name, const sim::Scene& scene, int n)
    {
        const std::string folder = dir + "/" + name;
        fs::create_directory(folder);
        for (int k = 0; k < n; ++k) {
            const sim::Frame frame = sim::render(scene, 1000 + static_cast<std::uint64_t>(k));
            cv::imwrite(folder + "/frame_" + std::to_string(10 + k) + ".png", frame.depth);
        }
        return folder;
    }

    std::string dir;
    std::string out;
    std::string err;
};

const CameraMount known{-350.0, 120.0, 230.0, 1.2, -7.5, 3.0};

}  // namespace

TEST_F(CalibrateTool, RecordedFloorFramesGiveTheMount)
{
    const std::string floor = write_frames("floor", sim::calibration_floor_scene(known), 30);
    const std::string mount_path = dir + "/mount.json";
    ASSERT_EQ(run("-o " + mount_path + " --x-mm -345 --y-mm 118 --yaw-deg 2.5 " + floor), 0) << err;
    EXPECT_EQ(err, "");
    EXPECT_NE(out.find("floor found in 30, not in 0; 0 left out as outliers, 30 used"), std::string::npos) << out;
    EXPECT_NE(out.find("wrote " + mount_path), std::string::npos);
    std::string error;
    std::optional<CameraMount> mount = load_camera_mount(mount_path, depth_camera_view(), error);
    ASSERT_TRUE(mount.has_value()) << error;
    EXPECT_NEAR(mount->z_mm, 230.0, 2.0);
    EXPECT_NEAR(mount->pitch_deg, -7.5, 0.1);
    EXPECT_NEAR(mount->roll_deg, 1.2, 0.1);
    EXPECT_EQ(mount->x_mm, -345.0);
    EXPECT_EQ(mount->yaw_deg, 2.5);
}

TEST_F(CalibrateTool, WithoutFloorFramesNothingIsWritten)
{
    // Frames with no depth at all, an unreadable file among them; an older mount file stays.
    const std::string folder = dir + "/dark";
    fs::create_directory(folder);
    for (int k = 0; k < 5; ++k) cv::imwrite(folder + "/f" + std::to_string(k) + ".png", cv::Mat::zeros(480, 640, CV_16UC1));
    std::ofstream(folder + "/bad.png") << "not a PNG";
    const std::string mount_path = dir + "/mount.json";
    std::ofstream(mount_path) << "old";
    EXPECT_EQ(run("-o " + mount_path + " " + folder), 3);
    EXPECT_EQ(err, "pallet_calibrate: " + folder + "/bad.png: not a PNG file, skipped\n"
                   "pallet_calibrate: no mount written: 0 of 5 frames show a floor that fits (at least 3 are "
                   "needed: frames of open floor ahead of the camera)\n")
        << err;
    EXPECT_EQ(file_text(mount_path), "old");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 4);  // dark, mount, out, err

    // Floor but no pallet, with a target: status 4, nothing written.
    const std::string floor = write_frames("floor", sim::calibration_floor_scene(known), 4);
    EXPECT_EQ(run("-o " + mount_path + " --pallet-distance 1300 " + floor), 4);
    EXPECT_NE(err.find("no mount written: 0 of 4 frames show the placed pallet"), std::string::npos) << err;
    EXPECT_EQ(file_text(mount_path), "old");
}

TEST_F(CalibrateTool, CameraAndUsage)
{
    // The stand-in camera's empty scene: the floor from a camera 200 mm up, looking 6 degrees up.
    const std::string mount_path = dir + "/mount.json";
    ASSERT_EQ(run("--camera --frames 8 -o " + mount_path, "KV3_SOURCE=scene:empty"), 0) << err;
    std::string error;
    const std::optional<CameraMount> mount = load_camera_mount(mount_path, depth_camera_view(), error);
    ASSERT_TRUE(mount.has_value()) << error;
    EXPECT_NEAR(mount->z_mm, 200.0, 2.0);
    EXPECT_NEAR(mount->pitch_deg, -6.0, 0.1);
    EXPECT_NE(out.find("frames: 8 read"), std::string::npos) << out;

    EXPECT_EQ(run("--camera -o " + dir + "/other.json", "KV3_SOURCE=none"), 1);
    EXPECT_NE(err.find("pallet_calibrate: the camera cannot be started: "), std::string::npos) << err;
    EXPECT_FALSE(fs::exists(dir + "/other.json"));

    EXPECT_EQ(run(dir), 2);
    EXPECT_NE(err.find("Try 'pallet_calibrate --help'."), std::string::npos);
    EXPECT_EQ(run("--help"), 0);
    EXPECT_NE(out.find("Usage: pallet_calibrate"), std::string::npos);
}
