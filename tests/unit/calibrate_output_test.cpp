#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>
#include <unistd.h>

#include "tools/calibrate_options.hpp"
#include "tools/calibrate_output.hpp"

namespace fs = std::filesystem;

namespace {

std::string file_text(const std::string& path)
{
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

Parsed<CalibrateOptions> parsed(std::initializer_list<std::string> arguments)
{
    return parse_calibrate_options(std::vector<std::string>(arguments));
}

std::string error_of(std::initializer_list<std::string> arguments)
{
    return parse_calibrate_options(std::vector<std::string>(arguments)).result.error;
}

}  // namespace

TEST(CalibrateOutput, WritesTheFileWholeOrNotAtAll)
{
    std::string dir = std::string(PALLET_BUILD_DIR) + "/calibrate_output_test_XXXXXX";
    ASSERT_NE(::mkdtemp(dir.data()), nullptr);
    const std::string path = dir + "/mount.json";
    EXPECT_EQ(write_file_atomically(path, "first\n"), "");
    EXPECT_EQ(file_text(path), "first\n");
    EXPECT_EQ(write_file_atomically(path, "second\n"), "");  // replaced
    EXPECT_EQ(file_text(path), "second\n");
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::others_read, fs::perms::others_read);

    // A folder in the way: refused with the reason, the folder and the old file untouched.
    fs::create_directory(dir + "/taken");
    const std::string error = write_file_atomically(dir + "/taken", "x");
    EXPECT_EQ(error.rfind(dir + "/taken: cannot write the mount file: ", 0), 0u) << error;
    EXPECT_TRUE(fs::is_directory(dir + "/taken"));
    const std::string missing = write_file_atomically(dir + "/no/such/mount.json", "x");
    EXPECT_EQ(missing, dir + "/no/such/mount.json: cannot write a file beside it: No such file or directory");
    // No temporary file is left behind.
    std::size_t entries = 0;
    for (const auto& entry : fs::directory_iterator(dir)) entries += entry.path().filename() != "taken";
    EXPECT_EQ(entries, 1u);
    fs::remove_all(dir);
}

TEST(CalibrateOutput, ReportAndFailureLines)
{
    CalibrationFrames frames;
    frames.frames = 12;
    frames.unreadable = 1;
    frames.floors.assign(10, FloorSample{230.0, -7.5, 1.2});
    MountCalibration c;
    c.status = CalibrationStatus::calibrated;
    c.frames_without_floor = 2;
    c.floor.kept = 9;
    c.floor.outliers = 1;
    c.floor.values = {{230.04, 0.12, 0.04}, {-7.5012, 0.004, 0.0013}, {1.2, 0.003, 0.001}};
    c.mount = {-300.0, 0.0, 230.04, 1.2, -7.5012, 0.0};
    const std::string report = calibration_report(frames, c, false);
    EXPECT_EQ(report,
              "frames: 12 read (1 unreadable, skipped); floor found in 10, not in 2; 1 left out as outliers, 9 used\n"
              "  z_mm           230.04  spread 0.120, standard error 0.040 (9 frames)\n"
              "  pitch_deg      -7.501  spread 0.0040, standard error 0.0013 (9 frames)\n"
              "  roll_deg        1.200  spread 0.0030, standard error 0.0010 (9 frames)\n"
              "  x_mm          -300.00  given, not measured\n"
              "  y_mm             0.00  given, not measured\n"
              "  yaw_deg         0.000  given, not measured\n");
    EXPECT_EQ(calibration_failure(frames, c), "");

    c.status = CalibrationStatus::no_floor;
    c.floor.kept = 0;
    EXPECT_EQ(calibration_failure(frames, c),
              "no mount written: 0 of 12 frames show a floor that fits (at least 3 are needed: frames of "
              "open floor ahead of the camera)");
    c.status = CalibrationStatus::no_pallet;
    EXPECT_EQ(calibration_failure(frames, c).rfind("no mount written: 0 of 12 frames show the placed pallet", 0), 0u);
}

TEST(CalibrateOptions, CommandLines)
{
    Parsed<CalibrateOptions> p = parsed({"-o", "m.json", "rec/", "a.png"});
    ASSERT_EQ(p.result.error, "");
    EXPECT_EQ(p.options.output_path, "m.json");
    EXPECT_EQ(p.options.inputs, (std::vector<std::string>{"rec/", "a.png"}));
    EXPECT_FALSE(p.options.target.has_value());
    EXPECT_EQ(p.options.frame_limit, 0u);

    p = parsed({"--camera", "--output=m.json"});
    ASSERT_EQ(p.result.error, "");
    EXPECT_TRUE(p.options.camera);
    EXPECT_EQ(p.options.output_path, "m.json");
    EXPECT_EQ(p.options.frame_limit, 30u);  // the camera's default

    p = parsed({"--camera", "--frames", "90", "-o", "m.json", "--pallet-distance=1500.5", "--pallet-lateral", "-200"});
    ASSERT_EQ(p.result.error, "");
    EXPECT_EQ(p.options.frame_limit, 90u);
    ASSERT_TRUE(p.options.target.has_value());
    EXPECT_EQ(p.options.target->x_mm, 1500.5);
    EXPECT_EQ(p.options.target->y_mm, -200.0);
    EXPECT_EQ(parsed({"-o", "m", "--pallet-distance", "900", "r"}).options.target->y_mm, 0.0);

    p = parsed({"-o", "m.json", "--x-mm", "-310", "--yaw-deg=1.5", "--x-mm", "-320", "rec"});
    ASSERT_EQ(p.result.error, "");
    EXPECT_EQ(p.options.given.x_mm, -320.0);  // the last one counts
    EXPECT_EQ(p.options.given.y_mm, 0.0);
    EXPECT_EQ(p.options.given.yaw_deg, 1.5);

    EXPECT_TRUE(parsed({"--help", "--bogus"}).result.help);
    // The help lists every option the README documents.
    const std::string help = calibrate_usage();
    for (const char* option : {"-o,--output FILE", "--camera", "--frames N", "--pallet-distance MM",
                               "--pallet-lateral MM", "--x-mm MM", "--y-mm MM", "--yaw-deg DEG", "Exit status"})
        EXPECT_NE(help.find(option), std::string::npos) << option << "\n" << help;

    // Usage errors in the tools' one wording, and the checks across options.
    EXPECT_EQ(error_of({"rec"}), "no mount file: give -o FILE");
    EXPECT_EQ(error_of({"-o", "m.json"}), "no frames: give PNG files or folders, or --camera");
    EXPECT_EQ(error_of({"-o", "m.json", "--camera", "rec"}), "give either --camera or input files, not both");
    EXPECT_EQ(error_of({"-o", "m.json", "--pallet-lateral", "100", "rec"}), "--pallet-lateral needs --pallet-distance");
    EXPECT_EQ(error_of({"-o", "m.json", "--pallet-distance", "1500", "--y-mm", "1", "rec"}),
              "give either --pallet-distance or --y-mm, not both: the pallet measures it");
    EXPECT_EQ(error_of({"-o", "m.json", "--frames", "0", "rec"}), "--frames takes a whole number from 1, not '0'");
    EXPECT_EQ(error_of({"-o", "m.json", "--yaw-deg", "200", "rec"}), "--yaw-deg takes a number from -180 to 180, not '200'");
    EXPECT_EQ(error_of({"-o", "m.json", "--pallet-distance", "1.5m", "rec"}),
              "--pallet-distance takes a number from 300 to 20000, not '1.5m'");
    EXPECT_EQ(error_of({"-o"}), "--output needs a value");
    EXPECT_EQ(error_of({"-o", "m.json", "--out", "x", "rec"}), "unknown option '--out'");
}
