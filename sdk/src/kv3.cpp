// The stand-in camera: a device with no hardware that pushes depth frames through the SDK's
// interface, from a rendered scene or a folder of recorded 16-bit PNG frames.
#include "errors.hpp"
#include "faults.hpp"
#include "scene.hpp"
#include "source.hpp"
#include "trace.hpp"

#include <kv3/kv3.hpp>
#include <sim/depth_png.hpp>
#include <sim/intrinsics.hpp>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace kv3 {

struct device_list {
    std::vector<std::string> names;
};

namespace detail {
namespace {

using steady = std::chrono::steady_clock;
constexpr auto frame_period = std::chrono::microseconds(33333);  // 30 frames a second

// For a scene:NAME setting, the names that would have been accepted; empty otherwise.
std::string unknown_scene_note(const std::string& source)
{
    if (source.compare(0, 6, "scene:") != 0)
        return {};
    return " (known scenes: " + scene_list() + ")";
}

std::string numbered(const char* object, std::uint64_t number)
{
    return object + ("#" + std::to_string(number));
}

// The intrinsics of a frame of the given width: the camera's own, scaled for a smaller mode.
kv3_intrinsics intrinsics_for(int width, int height)
{
    const sim::Intrinsics& cam = sim::depth_camera;
    const double scale = static_cast<double>(width) / cam.width;
    return {width, height, cam.fx * scale, cam.fy * scale, cam.cx * scale, cam.cy * scale};
}

// Every second row and column: a frame in the sensor's 320 x 240 mode.
cv::Mat half_size(const cv::Mat& depth)
{
    cv::Mat small(depth.rows / 2, depth.cols / 2, CV_16UC1);
    for (int v = 0; v < small.rows; ++v) {
        const auto* in = depth.ptr<std::uint16_t>(2 * v);
        auto* out = small.ptr<std::uint16_t>(v);
        for (int u = 0; u < small.cols; ++u)
            out[u] = in[2 * u];
    }
    return small;
}

// A recorded frame, or nothing (and one line on standard error) when the file is not a
// 640 x 480 single-channel 16-bit PNG.
std::optional<cv::Mat> read_recorded_frame(const std::string& path)
{
    sim::DepthPngRead read = sim::read_depth_png(path);
    if (read.error.empty())
        return std::move(read.depth);
    std::cerr << "kv3: replay frame " << path << ": " << read.error << "; no depth frame\n"
              << std::flush;
    return std::nullopt;
}

class depth_frame_impl final : public depth_frame {
public:
    depth_frame_impl(cv::Mat pixels, std::uint64_t number)
        : pixels_(std::move(pixels)), name_(numbered("depth_frame", number))
    {
    }

    std::int32_t width() const override
    {
        trace(name_ + ".width");
        return pixels_.cols;
    }
    std::int32_t height() const override
    {
        trace(name_ + ".height");
        return pixels_.rows;
    }
    kv3_intrinsics intrinsics() const override
    {
        trace(name_ + ".intrinsics");
        return intrinsics_for(pixels_.cols, pixels_.rows);
    }
    const std::uint16_t* data() const override
    {
        trace(name_ + ".data");
        return pixels_.ptr<std::uint16_t>(0);
    }

private:
    cv::Mat pixels_;  // continuous CV_16UC1, owned: valid as long as the frame set
    std::string name_;
};

class color_frame_impl final : public color_frame {
public:
    color_frame_impl(cv::Mat pixels, std::uint64_t number)
        : pixels_(std::move(pixels)), name_(numbered("color_frame", number))
    {
    }

    std::int32_t width() const override
    {
        trace(name_ + ".width");
        return pixels_.cols;
    }
    std::int32_t height() const override
    {
        trace(name_ + ".height");
        return pixels_.rows;
    }
    const std::uint8_t* data() const override
    {
        trace(name_ + ".data");
        return pixels_.ptr<std::uint8_t>(0);
    }

private:
    cv::Mat pixels_;  // continuous CV_8UC3, owned
    std::string name_;
};

class frame_set_impl final : public frame_set {
public:
    frame_set_impl(std::uint64_t number, std::uint64_t timestamp_us, std::optional<cv::Mat> depth,
                   bool with_color)
        : number_(number), timestamp_us_(timestamp_us), with_color_(with_color),
          name_(numbered("frame_set", number))
    {
        if (depth)
            depth_.emplace(std::move(*depth), number);
    }

    depth_frame* get_depth_frame() override
    {
        trace(name_ + ".get_depth_frame -> "
              + (depth_ ? numbered("depth_frame", number_) : "null"));
        return depth_ ? &*depth_ : nullptr;
    }
    color_frame* get_color_frame() override
    {
        // Made on first request: a program that never reads colour never pays for it.
        if (with_color_ && !color_)
            color_.emplace(cv::Mat(540, 960, CV_8UC3, cv::Scalar(64, 96, 128)), number_);
        trace(name_ + ".get_color_frame -> "
              + (color_ ? numbered("color_frame", number_) : "null"));
        return color_ ? &*color_ : nullptr;
    }
    std::uint64_t frame_number() const override
    {
        trace(name_ + ".frame_number");
        return number_;
    }
    std::uint64_t timestamp_us() const override
    {
        trace(name_ + ".timestamp_us");
        return timestamp_us_;
    }
    ~frame_set_impl() override { trace(name_ + ".delete"); }

private:
    std::uint64_t number_;
    std::uint64_t timestamp_us_;
    bool with_color_;
    std::string name_;
    std::optional<depth_frame_impl> depth_;
    std::optional<color_frame_impl> color_;
};

struct stream_mode {
    bool enabled = false;
    std::int16_t width = 0;
    std::int16_t height = 0;
};

// The modes the sensor has: depth and infrared at 640 x 480, colour at 960 x 540.
bool supported(kv3_stream kind, std::int16_t width, std::int16_t height)
{
    switch (kind) {
    case KV3_STREAM_INFRARED:
    case KV3_STREAM_DEPTH:
        return width == 640 && height == 480;
    case KV3_STREAM_COLOR:
        return width == 960 && height == 540;
    case KV3_STREAM_ANY:
        break;
    }
    return false;
}

class config_impl final : public config {
public:
    bool enable_stream(kv3_stream kind, std::int16_t width, std::int16_t height,
                       kv3_error& error) override
    {
        trace("config.enable_stream kind=" + std::to_string(kind) + " width="
              + std::to_string(width) + " height=" + std::to_string(height));
        if (!supported(kind, width, height)) {
            error = KV3_ERROR_INVALID_ARGUMENT;
            return false;
        }
        streams_[static_cast<std::size_t>(kind)] = {true, width, height};
        error = KV3_SUCCESS;
        return true;
    }
    bool disable_stream(kv3_stream kind, kv3_error& error) override
    {
        trace("config.disable_stream kind=" + std::to_string(kind));
        if (kind == KV3_STREAM_ANY) {
            streams_ = {};
        } else if (kind >= KV3_STREAM_INFRARED && kind <= KV3_STREAM_COLOR) {
            streams_[static_cast<std::size_t>(kind)] = {};
        } else {
            error = KV3_ERROR_INVALID_ARGUMENT;
            return false;
        }
        error = KV3_SUCCESS;
        return true;
    }
    void disable_all_streams(kv3_error& error) override
    {
        trace("config.disable_all_streams");
        streams_ = {};
        error = KV3_SUCCESS;
    }

    bool enabled(kv3_stream kind) const { return streams_[static_cast<std::size_t>(kind)].enabled; }
    bool any_enabled() const
    {
        return std::any_of(streams_.begin(), streams_.end(),
                           [](const stream_mode& s) { return s.enabled; });
    }

private:
    std::array<stream_mode, 4> streams_{};  // by kind
};

// What a context learnt from the environment when it was made.
struct camera_settings {
    bool source_set = false;
    std::string source;
    bool sensor_set = false;
    std::string sensor;
    fault_plan faults;
};

// The source and the sensor the settings name: KV3_SUCCESS or the error of the first that is
// wrong (the source first).
kv3_error resolve_settings(const camera_settings& settings, frame_source& source, sim::SensorPreset& sensor)
{
    const kv3_error error = resolve_source(settings.source_set, settings.source, source);
    if (error != KV3_SUCCESS)
        return error;
    return resolve_sensor(settings.sensor_set, settings.sensor, sensor);
}

class pipeline_impl final : public pipeline {
public:
    explicit pipeline_impl(const camera_settings& settings) : settings_(settings) {}

    void start(const config* cfg, kv3_error& error) override
    {
        trace("pipeline.start");
        if (started_) {
            error = KV3_ERROR_ALREADY_STARTED;
            return;
        }
        const auto* wanted = static_cast<const config_impl*>(cfg);
        if (wanted == nullptr || !wanted->any_enabled()) {
            error = KV3_ERROR_INVALID_ARGUMENT;
            return;
        }
        frame_source source;
        sim::SensorPreset sensor;
        error = resolve_settings(settings_, source, sensor);
        if (error != KV3_SUCCESS)
            return;
        source_ = std::move(source);
        sensor_ = std::move(sensor);
        active_ = *wanted;
        next_file_ = 0;
        started_at_ = steady::now();
        next_due_ = started_at_;
        started_ = true;
    }
    const config* active_config(kv3_error& error) const override
    {
        trace("pipeline.active_config");
        error = started_ ? KV3_SUCCESS : KV3_ERROR_NOT_STARTED;
        return started_ ? &active_ : nullptr;
    }
    void stop(kv3_error& error) override
    {
        trace("pipeline.stop");
        error = started_ ? KV3_SUCCESS : KV3_ERROR_NOT_STARTED;
        started_ = false;
    }
    frame_set* wait_for_frames(std::uint32_t timeout_ms, kv3_error& error) override
    {
        frame_set_impl* set = next_frame_set(timeout_ms, error);
        trace("pipeline.wait_for_frames timeout_ms=" + std::to_string(timeout_ms) + " -> "
              + (set ? numbered("frame_set", set_number_) : "null"));
        return set;
    }

private:
    frame_set_impl* next_frame_set(std::uint32_t timeout_ms, kv3_error& error)
    {
        if (!started_) {
            error = KV3_ERROR_NOT_STARTED;
            return nullptr;
        }
        const bool plays_once = source_.kind == source_kind::replay_once;
        if (plays_once && next_file_ >= source_.frames.size()) {
            error = KV3_ERROR_END_OF_STREAM;
            return nullptr;
        }
        const std::uint64_t number = next_number_;
        if (settings_.faults.timeout.count(number) != 0) {
            ++next_number_;  // a lost frame keeps its number; no recorded file is used up
            next_due_ += frame_period;
            error = KV3_ERROR_TIMEOUT;
            return nullptr;
        }
        if (next_due_ - steady::now() > std::chrono::milliseconds(timeout_ms)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(timeout_ms));
            error = KV3_ERROR_TIMEOUT;
            return nullptr;
        }
        ++next_number_;
        error = KV3_SUCCESS;
        std::optional<cv::Mat> depth = capture_depth(number, error);
        std::this_thread::sleep_until(next_due_);
        // Late frames (slow rendering or a slow reader) come late, never skipped.
        const steady::time_point delivered = std::max(steady::now(), next_due_);
        next_due_ = std::max(next_due_ + frame_period, delivered);
        const auto timestamp = std::chrono::duration_cast<std::chrono::microseconds>(
            delivered - started_at_);
        set_number_ = number;
        return new frame_set_impl(number, static_cast<std::uint64_t>(timestamp.count()),
                                  std::move(depth), active_.enabled(KV3_STREAM_COLOR));
    }

    // The depth frame of frame set number, after the faults asked for; every frame set uses up
    // one recorded file, whether its depth frame is read or not.
    std::optional<cv::Mat> capture_depth(std::uint64_t number, kv3_error& error)
    {
        std::string recorded;
        if (source_.kind == source_kind::replay || source_.kind == source_kind::replay_once) {
            recorded = source_.frames[next_file_];
            ++next_file_;
            if (source_.kind == source_kind::replay && next_file_ == source_.frames.size())
                next_file_ = 0;
        }
        if (!active_.enabled(KV3_STREAM_DEPTH) || settings_.faults.nodepth.count(number) != 0)
            return std::nullopt;
        std::optional<cv::Mat> depth;
        if (recorded.empty())
            depth = render_scene(source_.scene_name, number, sensor_);
        else
            depth = read_recorded_frame(recorded);
        if (!depth) {
            error = KV3_ERROR_FRAME_UNREADABLE;
            return std::nullopt;
        }
        if (settings_.faults.badsize.count(number) != 0)
            return half_size(*depth);
        return depth;
    }

    const camera_settings& settings_;
    bool started_ = false;
    config_impl active_;
    frame_source source_;
    sim::SensorPreset sensor_;
    std::size_t next_file_ = 0;
    std::uint64_t next_number_ = 1;  // frame numbers go on across a stop and a new start
    std::uint64_t set_number_ = 0;
    steady::time_point started_at_;
    steady::time_point next_due_;
};

camera_settings settings_from_environment()
{
    camera_settings settings;
    if (const char* source = std::getenv("KV3_SOURCE")) {
        settings.source_set = true;
        settings.source = source;
    }
    if (const char* sensor = std::getenv("KV3_SENSOR")) {
        settings.sensor_set = true;
        settings.sensor = sensor;
    }
    const char* faults = std::getenv("KV3_FAULTS");
    const std::string fault_text = faults != nullptr ? faults : "";
    if (const std::optional<fault_plan> plan = parse_faults(fault_text))
        settings.faults = *plan;
    else
        std::cerr << "kv3: ignoring malformed KV3_FAULTS=\"" << fault_text
                  << "\": expected items like nodepth@5,timeout@7,badsize@9\n"
                  << std::flush;
    return settings;
}

class context_impl final : public context {
public:
    context_impl() : settings_(settings_from_environment()) {}

    std::uint32_t api_version() const override
    {
        trace("context.api_version");
        return 30401;
    }
    device_list* query_devices(kv3_error& error) override
    {
        trace("context.query_devices");
        frame_source source;
        error = resolve_source(settings_.source_set, settings_.source, source);
        if (error == KV3_ERROR_INVALID_SOURCE || error == KV3_ERROR_SOURCE_NOT_FOUND)
            std::cerr << "kv3: KV3_SOURCE=\"" << settings_.source
                      << "\": " << error_text(error) << unknown_scene_note(settings_.source)
                      << '\n' << std::flush;
        sim::SensorPreset sensor;
        if (error == KV3_SUCCESS) {
            error = resolve_sensor(settings_.sensor_set, settings_.sensor, sensor);
            if (error != KV3_SUCCESS)
                std::cerr << "kv3: KV3_SENSOR=\"" << settings_.sensor
                          << "\": unknown sensor (known sensors: " << sim::sensor_preset_list()
                          << ")\n" << std::flush;
        }
        if (error != KV3_SUCCESS)
            return nullptr;
        devices_.names = {"stand-in depth camera"};
        return &devices_;
    }

    pipeline_impl* make_pipeline() const
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        pipelines_.push_back(std::make_unique<pipeline_impl>(settings_));
        return pipelines_.back().get();
    }
    config_impl* make_config() const
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        configs_.push_back(std::make_unique<config_impl>());
        return configs_.back().get();
    }

private:
    const camera_settings settings_;
    device_list devices_;
    // Pipelines and configs belong to their context and live as long as it.
    mutable std::mutex mutex_;
    mutable std::vector<std::unique_ptr<pipeline_impl>> pipelines_;
    mutable std::vector<std::unique_ptr<config_impl>> configs_;
};

// Contexts live until the process ends; held here so that they stay reachable (no leak report)
// and are never destroyed while a late caller might still use one.
context_impl* new_context()
{
    static std::mutex mutex;
    static auto* contexts = new std::vector<std::unique_ptr<context_impl>>;
    const std::lock_guard<std::mutex> lock(mutex);
    contexts->push_back(std::make_unique<context_impl>());
    return contexts->back().get();
}

}  // namespace
}  // namespace detail

const char* kv3_get_version(kv3_error& error)
{
    detail::trace("kv3_get_version");
    error = KV3_SUCCESS;
    return "3.4.1";
}

context* kv3_create_context(kv3_error& error)
{
    detail::trace("kv3_create_context");
    error = KV3_SUCCESS;
    return detail::new_context();
}

pipeline* kv3_create_pipeline(const context* ctx, kv3_error& error)
{
    detail::trace("kv3_create_pipeline");
    if (ctx == nullptr) {
        error = KV3_ERROR_INVALID_ARGUMENT;
        return nullptr;
    }
    error = KV3_SUCCESS;
    return static_cast<const detail::context_impl*>(ctx)->make_pipeline();
}

config* kv3_create_config(const context* ctx, kv3_error& error)
{
    detail::trace("kv3_create_config");
    if (ctx == nullptr) {
        error = KV3_ERROR_INVALID_ARGUMENT;
        return nullptr;
    }
    error = KV3_SUCCESS;
    return static_cast<const detail::context_impl*>(ctx)->make_config();
}

}  // namespace kv3
