#include "tools/scan_inputs.hpp"

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

#include <unistd.h>

#include <opencv2/imgcodecs.hpp>

namespace fs = std::filesystem;

namespace {

// ".png" in lower case only: the frames a folder yields here are the ones the stand-in camera
// replays from it, in the same (bytewise name) order.
bool has_png_extension(const fs::path& path)
{
    return path.extension() == ".png";
}

// The PNG files of a folder in file-name order.
std::vector<InputFile> list_folder(const std::string& dir)
{
    std::error_code ec;
    std::vector<fs::path> files;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code type_ec;
        if (it->is_regular_file(type_ec) && has_png_extension(it->path()))
            files.push_back(it->path());
    }
    if (ec) return {{dir, "cannot list the folder: " + ec.message()}};
    if (files.empty()) return {{dir, "the folder holds no .png file"}};
    std::sort(files.begin(), files.end(), [](const fs::path& a, const fs::path& b) {
        return a.filename().string() < b.filename().string();
    });
    std::vector<InputFile> listed;
    listed.reserve(files.size());
    for (const fs::path& file : files) listed.push_back({file.string(), {}});
    return listed;
}

bool starts_with_png_signature(const std::string& path)
{
    constexpr std::array<unsigned char, 8> signature{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::ifstream in(path, std::ios::binary);
    std::array<char, 8> head{};
    in.read(head.data(), head.size());
    return in.gcount() == static_cast<std::streamsize>(head.size()) &&
           std::equal(head.begin(), head.end(), signature.begin(),
                      [](char a, unsigned char b) { return static_cast<unsigned char>(a) == b; });
}

std::string describe_type(const cv::Mat& image)
{
    const int bits = image.depth() == CV_8U || image.depth() == CV_8S ? 8
                     : image.depth() == CV_16U || image.depth() == CV_16S ? 16
                                                                           : 32;
    return std::to_string(bits) + "-bit, " + std::to_string(image.channels()) +
           (image.channels() == 1 ? " channel" : " channels");
}

}  // namespace

std::vector<InputFile> list_input_files(const std::vector<std::string>& inputs)
{
    std::vector<InputFile> files;
    for (const std::string& input : inputs) {
        std::error_code ec;
        if (fs::is_directory(input, ec)) {
            const std::vector<InputFile> listed = list_folder(input);
            files.insert(files.end(), listed.begin(), listed.end());
        } else {
            files.push_back({input, {}});
        }
    }
    return files;
}

DepthRead read_depth_png(const std::string& path)
{
    std::error_code ec;
    if (!fs::exists(path, ec)) return {{}, "no such file"};
    if (!fs::is_regular_file(path, ec)) return {{}, "not a regular file"};
    if (::access(path.c_str(), R_OK) != 0) return {{}, "cannot be read"};
    if (!starts_with_png_signature(path)) return {{}, "not a PNG file"};
    cv::Mat image;
    try {
        image = cv::imread(path, cv::IMREAD_UNCHANGED);
    } catch (const cv::Exception&) {
        image.release();
    }
    if (image.empty()) return {{}, "a damaged PNG file"};
    if (image.type() != CV_16UC1)
        return {{}, "not a 16-bit single-channel PNG (" + describe_type(image) + ")"};
    if (image.cols != 640 || image.rows != 480)
        return {{}, "not 640 x 480 (" + std::to_string(image.cols) + " x " +
                        std::to_string(image.rows) + ")"};
    return {image, {}};
}

std::string write_png(const std::string& path, const cv::Mat& image)
{
    bool written = false;
    try {
        written = cv::imwrite(path, image);
    } catch (const cv::Exception& e) {
        return std::string("cannot write the PNG: ") + e.what();
    }
    return written ? std::string() : "cannot write the PNG";
}

std::string write_depth_png(const std::string& path, const cv::Mat& depth)
{
    if (depth.type() != CV_16UC1) return "not a 16-bit depth image";
    return write_png(path, depth);
}

std::string prepare_output_dir(const std::string& dir)
{
    std::error_code ec;
    if (fs::exists(dir, ec) && !fs::is_directory(dir, ec)) return "exists and is not a folder";
    fs::create_directories(dir, ec);
    if (ec) return "cannot create the folder: " + ec.message();
    if (::access(dir.c_str(), W_OK | X_OK) != 0) return "the folder is not writable";
    return {};
}

std::string indexed_frame_name(std::uint64_t index)
{
    char name[48];
    std::snprintf(name, sizeof name, "frame_%06llu.png", static_cast<unsigned long long>(index));
    return name;
}

std::string view_name_for(const std::string& input_path)
{
    return fs::path(input_path).filename().replace_extension(".png").string();
}
