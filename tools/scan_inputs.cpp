#include "tools/scan_inputs.hpp"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include <unistd.h>

#include <opencv2/imgcodecs.hpp>

#include "sim/depth_png.hpp"
#include "tools/scan_output.hpp"

namespace fs = std::filesystem;

namespace {

// The PNG files of a folder in file-name order.
std::vector<InputFile> list_folder(const std::string& dir)
{
    std::error_code ec;
    const std::vector<std::string> files = sim::depth_png_files(dir, ec);
    if (ec) return {{dir, "cannot list the folder: " + ec.message()}};
    if (files.empty()) return {{dir, "the folder holds no .png file"}};
    std::vector<InputFile> listed;
    listed.reserve(files.size());
    for (const std::string& file : files) listed.push_back({file, {}});
    return listed;
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

std::string encode_png(const cv::Mat& image, std::vector<unsigned char>& bytes)
{
    try {
        if (!cv::imencode(".png", image, bytes)) return "cannot encode the PNG";
    } catch (const cv::Exception& e) {
        return std::string("cannot encode the PNG: ") + e.what();
    }
    return {};
}

std::string write_png(const std::string& path, const cv::Mat& image)
{
    std::vector<unsigned char> bytes;
    const std::string error = encode_png(image, bytes);
    return error.empty() ? write_whole_file(path, bytes) : error;
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
