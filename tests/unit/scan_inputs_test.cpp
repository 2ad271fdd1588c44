#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <sys/stat.h>
#include <unistd.h>

#include "sim/depth_png.hpp"
#include "tools/scan_inputs.hpp"

namespace fs = std::filesystem;

namespace {

fs::path fresh_dir(const std::string& name)
{
    const fs::path dir = fs::temp_directory_path() /
                         ("scan_inputs_test_" + std::to_string(::getpid()) + "_" + name);
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

cv::Mat ramp_depth(int rows, int cols)
{
    cv::Mat depth(rows, cols, CV_16UC1);
    for (int v = 0; v < rows; ++v)
        for (int u = 0; u < cols; ++u)
            depth.at<std::uint16_t>(v, u) = static_cast<std::uint16_t>(v * 97 + u * 131 + 40000);
    return depth;
}

void write_text(const fs::path& path, const std::string& text)
{
    std::ofstream(path) << text;
}

}  // namespace

TEST(ScanInputs, FoldersExpandToTheirPngFilesInNameOrder)
{
    const fs::path dir = fresh_dir("order");
    for (const char* name : {"frame_10.png", "frame_02.png", "frame_1.png", "notes.txt", "up.PNG"})
        write_text(dir / name, "x");
    fs::create_directories(dir / "sub.png");  // a folder, not a frame
    // Listed, so that reading them says what they are, as when they are named directly.
    ASSERT_EQ(::mkfifo((dir / "frame_03.png").c_str(), 0600), 0);
    fs::create_symlink("gone.png", dir / "frame_04.png");
    const fs::path empty = fresh_dir("empty");

    const std::vector<InputFile> files =
        list_input_files({"single.png", dir.string(), empty.string()});
    ASSERT_EQ(files.size(), 7u);
    EXPECT_EQ(files[0].path, "single.png");
    EXPECT_EQ(fs::path(files[1].path).filename(), "frame_02.png");
    EXPECT_EQ(fs::path(files[2].path).filename(), "frame_03.png");
    EXPECT_EQ(fs::path(files[3].path).filename(), "frame_04.png");
    EXPECT_EQ(fs::path(files[4].path).filename(), "frame_1.png");
    EXPECT_EQ(fs::path(files[5].path).filename(), "frame_10.png");
    for (std::size_t i = 0; i < 6; ++i) EXPECT_EQ(files[i].error, "");
    EXPECT_EQ(sim::read_depth_png(files[2].path).error, "not a regular file (a named pipe)");
    EXPECT_EQ(sim::read_depth_png(files[3].path).error, "a broken symbolic link");
    EXPECT_EQ(files[6].path, empty.string());
    EXPECT_EQ(files[6].error, "the folder holds no .png file");
    fs::remove_all(dir);
    fs::remove_all(empty);
}

TEST(ScanInputs, RecordedFramesReadBackPixelForPixel)
{
    const fs::path dir = fresh_dir("record");
    const cv::Mat depth = ramp_depth(480, 640);  // values above 40000 need all 16 bits
    const std::string path = (dir / indexed_frame_name(7)).string();
    ASSERT_EQ(write_depth_png(path, depth), "");
    const sim::DepthPngRead read = sim::read_depth_png(path);
    ASSERT_EQ(read.error, "");
    EXPECT_EQ(cv::norm(read.depth, depth, cv::NORM_INF), 0.0);
    EXPECT_NE(write_depth_png(path, cv::Mat(480, 640, CV_8UC1)), "");
    EXPECT_NE(write_png((dir / "no_such_dir" / "x.png").string(), depth), "");
    fs::remove_all(dir);
}

TEST(ScanInputs, OutputFoldersAndNames)
{
    const fs::path dir = fresh_dir("outputs");
    EXPECT_EQ(prepare_output_dir((dir / "a" / "b").string()), "");
    EXPECT_TRUE(fs::is_directory(dir / "a" / "b"));
    EXPECT_EQ(prepare_output_dir((dir / "a").string()), "");  // already there
    write_text(dir / "file", "x");
    EXPECT_EQ(prepare_output_dir((dir / "file").string()), "exists and is not a folder");
    EXPECT_NE(prepare_output_dir((dir / "file" / "below").string()), "");

    EXPECT_EQ(indexed_frame_name(1), "frame_000001.png");
    EXPECT_LT(indexed_frame_name(9), indexed_frame_name(10));  // name order is frame order
    EXPECT_EQ(view_name_for("shot.PNG"), "shot.png");
    fs::remove_all(dir);
}
