// Helpers shared by the stand-in camera's tests: scoped environment variables, temporary
// folders of PNG frames, trace files and a pipeline started the way the program starts one.
#pragma once

#include <kv3/kv3.hpp>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace kv3_test {

// Sets (or, with nullptr, unsets) one environment variable for the scope; restores it after.
class scoped_env {
public:
    scoped_env(const char* name, const char* value) : name_(name)
    {
        if (const char* old = std::getenv(name))
            old_ = old;
        if (value != nullptr)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~scoped_env()
    {
        if (old_)
            ::setenv(name_.c_str(), old_->c_str(), 1);
        else
            ::unsetenv(name_.c_str());
    }
    scoped_env(const scoped_env&) = delete;
    scoped_env& operator=(const scoped_env&) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
};

// A fresh empty folder, removed with everything in it at the end of the scope.
class temp_dir {
public:
    temp_dir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "kv3_test_XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            ADD_FAILURE() << "cannot make a temporary folder";
        path_ = pattern;
    }
    ~temp_dir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    temp_dir(const temp_dir&) = delete;
    temp_dir& operator=(const temp_dir&) = delete;

    std::string path() const { return path_.string(); }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// A 640 x 480 16-bit depth frame whose pixel (v, u) holds base + v + u, written as a PNG.
inline cv::Mat write_depth_png(const std::string& path, std::uint16_t base)
{
    cv::Mat depth(480, 640, CV_16UC1);
    for (int v = 0; v < depth.rows; ++v)
        for (int u = 0; u < depth.cols; ++u)
            depth.at<std::uint16_t>(v, u) = static_cast<std::uint16_t>(base + v + u);
    EXPECT_TRUE(cv::imwrite(path, depth)) << path;
    return depth;
}

inline void write_text_file(const std::string& path, const std::string& text)
{
    std::ofstream(path) << text;
}

inline std::vector<std::string> read_lines(const std::string& path)
{
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// The depth frame's pixels copied out (empty when the set holds none).
inline cv::Mat depth_pixels(kv3::frame_set& set)
{
    kv3::depth_frame* frame = set.get_depth_frame();
    if (frame == nullptr)
        return {};
    const std::uint16_t* data = frame->data();
    return cv::Mat(frame->height(), frame->width(), CV_16UC1, const_cast<std::uint16_t*>(data))
        .clone();
}

inline bool same_pixels(const cv::Mat& a, const cv::Mat& b)
{
    return a.size() == b.size() && a.type() == b.type() && cv::norm(a, b, cv::NORM_INF) == 0.0;
}

struct camera {
    kv3::context* context = nullptr;
    kv3::pipeline* pipeline = nullptr;
    kv3::config* config = nullptr;
    kv3::kv3_error query_error = kv3::KV3_ERROR_INTERNAL;
    kv3::kv3_error start_error = kv3::KV3_ERROR_INTERNAL;
};

// A context made from the current environment, devices queried, the depth stream enabled at
// 640 x 480 (and colour at 960 x 540 when asked) and the pipeline started.
inline camera start_camera(bool with_color = false)
{
    camera cam;
    kv3::kv3_error error = kv3::KV3_ERROR_INTERNAL;
    cam.context = kv3::kv3_create_context(error);
    cam.context->query_devices(cam.query_error);
    cam.pipeline = kv3::kv3_create_pipeline(cam.context, error);
    cam.config = kv3::kv3_create_config(cam.context, error);
    cam.config->enable_stream(kv3::KV3_STREAM_DEPTH, 640, 480, error);
    if (with_color)
        cam.config->enable_stream(kv3::KV3_STREAM_COLOR, 960, 540, error);
    cam.pipeline->start(cam.config, cam.start_error);
    return cam;
}

}  // namespace kv3_test
