#include "stage_inputs.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

#include <opencv2/imgproc.hpp>

#include "analysis/depth_intake.hpp"
#include "analysis/fast_analysis.hpp"
#include "analysis/frame_analysis.hpp"
#include "analysis/ground_alignment.hpp"
#include "byte_reader.hpp"
#include "frame_generator.hpp"
#include "sim/scenes.hpp"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Frames of the scene catalogue, rendered on first use: the default animation far away, close,
// turned and turning away, the floor alone, and each named scene.
const std::vector<cv::Mat>& catalogue_frames()
{
    static const std::vector<cv::Mat> frames = [] {
        const std::pair<const char*, std::uint64_t> settings[] = {
            {"", 1},        {"", 120},      {"", 301},      {"", 420},       {"empty", 1},
            {"far", 1},     {"pallet", 1},  {"noisy", 1},   {"clutter", 1},  {"clutter", 200}};
        std::vector<cv::Mat> rendered;
        for (const auto& [name, frame_number] : settings)
            rendered.push_back(sim::render_scene_frame(name, frame_number).depth);
        return rendered;
    }();
    return frames;
}

// The combined band mask of each catalogue frame, as the literal stages make it.
const std::vector<cv::Mat>& catalogue_masks()
{
    static const std::vector<cv::Mat> masks = [] {
        std::vector<cv::Mat> made;
        for (const cv::Mat& depth : catalogue_frames())
            made.push_back(make_combined_band_mask(align_to_ground(depth)));
        return made;
    }();
    return masks;
}

int catalogue_index(ByteReader& in)
{
    return in.index(static_cast<int>(catalogue_frames().size()));
}

cv::Point point_in_image(ByteReader& in)
{
    return {in.word() % 640, in.word() % 480};
}

// Arguments are evaluated in no fixed order: every read of the bytes is its own statement, or
// a declarator or a braced list's element, which are read in order.

// Up to 10 vertices within `reach` pixels of a centre, clipped to the image.
std::vector<cv::Point> polygon_from(ByteReader& in)
{
    const cv::Point centre = point_in_image(in);
    const int reach = 1 + in.byte() * 2;
    const int count = 3 + in.index(8);
    std::vector<cv::Point> polygon;
    for (int k = 0; k < count; ++k) {
        const int du = (in.byte() - 128) * reach / 128, dv = (in.byte() - 128) * reach / 128;
        polygon.emplace_back(std::clamp(centre.x + du, 0, 639), std::clamp(centre.y + dv, 0, 479));
    }
    return polygon;
}

void draw_shape(ByteReader& in, cv::Mat& mask)
{
    const std::uint8_t what = in.byte();
    const cv::Scalar colour(what & 1 ? 0 : 255);
    switch ((what >> 1) % 8) {
    case 0: {  // an upright rectangle
        const cv::Point corner = point_in_image(in);
        const int width = 1 + in.word() % 400;
        const int height = 1 + in.word() % 300;
        cv::rectangle(mask, cv::Rect(corner.x, corner.y, width, height), colour, cv::FILLED);
        break;
    }
    case 1: {  // a turned rectangle
        const cv::Point centre = point_in_image(in);
        const float length = 1.0f + in.byte() * 2, width = 1.0f + in.byte();
        const auto angle_deg = static_cast<float>(in.between(-90.0, 90.0));
        const cv::RotatedRect box(cv::Point2f(centre), cv::Size2f(length, width), angle_deg);
        cv::Point2f corners[4];
        box.points(corners);
        std::vector<cv::Point> polygon;
        for (const cv::Point2f& c : corners) polygon.emplace_back(cvRound(c.x), cvRound(c.y));
        cv::fillConvexPoly(mask, polygon, colour);
        break;
    }
    case 2:  // a polygon, perhaps crossing itself
        cv::fillPoly(mask, std::vector<std::vector<cv::Point>>{polygon_from(in)}, colour);
        break;
    case 3: {  // an ellipse
        const cv::Point centre = point_in_image(in);
        const int long_axis = in.byte(), short_axis = in.byte() / 2;
        const double angle_deg = in.between(0.0, 180.0);
        cv::ellipse(mask, centre, cv::Size(long_axis, short_axis), angle_deg, 0, 360, colour,
                    cv::FILLED);
        break;
    }
    case 4: {  // a staircase: each step a row band wider than the last
        const cv::Point corner = point_in_image(in);
        const int steps = 1 + in.index(24), step_height = 1 + in.index(16), widen = in.index(24) - 8;
        for (int s = 0; s < steps; ++s) {
            cv::rectangle(mask, cv::Rect(corner.x, corner.y + s * step_height,
                                         std::max(1, 20 + s * widen), step_height), colour, cv::FILLED);
        }
        break;
    }
    case 5: {  // a line 1 to 4 pixels thick
        const cv::Point from = point_in_image(in), to = point_in_image(in);
        cv::line(mask, from, to, colour, 1 + in.index(4), cv::LINE_8);
        break;
    }
    case 6: {  // speckles inside a rectangle
        const cv::Point corner = point_in_image(in);
        const int width = 1 + in.byte(), height = 1 + in.byte(), count = 1 + in.byte() * 4;
        std::uint32_t state = in.word();
        for (int k = 0; k < count; ++k) {
            state = state * 1664525u + 1013904223u;
            const int u = corner.x + static_cast<int>((state >> 8) % static_cast<std::uint32_t>(width));
            const int v = corner.y + static_cast<int>((state >> 20) % static_cast<std::uint32_t>(height));
            if (u < 640 && v < 480) mask.at<std::uint8_t>(v, u) = static_cast<std::uint8_t>(colour[0]);
        }
        break;
    }
    default: {  // raw bits, eight pixels a byte, row-major from a pixel
        const cv::Point start = point_in_image(in);
        const int count = 1 + in.byte();
        std::uint8_t* pixels = mask.ptr<std::uint8_t>(0);
        std::size_t at = static_cast<std::size_t>(start.y) * 640 + static_cast<std::size_t>(start.x);
        for (int k = 0; k < count; ++k) {
            const std::uint8_t bits = in.byte();
            for (int b = 0; b < 8; ++b, ++at) pixels[at % (640 * 480)] = bits >> b & 1 ? 255 : 0;
        }
        break;
    }
    }
}

// Runs of 0 and 255 in row-major order, 0 first: a count word, then a length word per run.
void draw_runs(ByteReader& in, cv::Mat& mask)
{
    const int runs = in.word();
    std::uint8_t* pixels = mask.ptr<std::uint8_t>(0);
    std::size_t at = 0;
    for (int k = 0; k < runs && at < 640 * 480; ++k) {
        const std::size_t end = std::min<std::size_t>(at + in.word(), 640 * 480);
        std::fill(pixels + at, pixels + end, k % 2 == 0 ? 0 : 255);
        at = end;
    }
}

// The mask, and the catalogue frame it was taken from (-1 for none).
cv::Mat band_mask_from(ByteReader& in, int& frame)
{
    frame = -1;
    cv::Mat mask = cv::Mat::zeros(480, 640, CV_8UC1);
    switch (in.index(4)) {
    case 0: break;
    case 1:
        frame = catalogue_index(in);
        catalogue_masks()[static_cast<std::size_t>(frame)].copyTo(mask);
        break;
    case 2: draw_runs(in, mask); break;
    default: mask.setTo(255); break;
    }
    const int shapes = in.index(17);
    for (int k = 0; k < shapes; ++k) draw_shape(in, mask);
    return mask;
}

void put_word(Bytes& bytes, std::size_t value)
{
    bytes.push_back(static_cast<std::uint8_t>(value >> 8));
    bytes.push_back(static_cast<std::uint8_t>(value));
}

}  // namespace

cv::Mat floor_plane(double height_mm, double pitch_deg, double roll_deg, std::uint16_t beyond)
{
    const double rad = std::acos(-1.0) / 180.0;
    const double up_x = -std::sin(roll_deg * rad) * std::cos(pitch_deg * rad);
    const double up_y = -std::cos(roll_deg * rad) * std::cos(pitch_deg * rad);
    const double up_z = std::sin(pitch_deg * rad);
    cv::Mat depth(480, 640, CV_16UC1);
    for (int v = 0; v < 480; ++v) {
        const double b = up_y * (v - camera_model.cy) / camera_model.fy + up_z;
        std::uint16_t* row = depth.ptr<std::uint16_t>(v);
        for (int u = 0; u < 640; ++u) {
            const double along = up_x * (u - camera_model.cx) / camera_model.fx + b;
            const double d = along < 0.0 ? -height_mm / along : 1e9;
            row[u] = d <= 8000.0 ? static_cast<std::uint16_t>(std::lround(d)) : beyond;
        }
    }
    return depth;
}

cv::Mat generate_band_frame(const std::uint8_t* data, std::size_t size)
{
    ByteReader in(data, size);
    cv::Mat depth;
    const std::uint8_t base = in.byte();
    if (base < 64) {
        depth = cv::Mat(480, 640, CV_16UC1, cv::Scalar(in.word()));
    } else if (base < 160) {
        const double height = in.between(20.0, 600.0), pitch = in.between(-4.0, 16.0);
        const double roll = in.between(-10.0, 10.0);
        depth = floor_plane(height, pitch, roll, in.word());
    } else {
        depth = catalogue_frames()[static_cast<std::size_t>(catalogue_index(in))].clone();
    }
    apply_depth_edits(in, depth, 16);
    return depth;
}

cv::Mat generate_band_mask(const std::uint8_t* data, std::size_t size)
{
    ByteReader in(data, size);
    int frame = -1;
    return band_mask_from(in, frame);
}

FaceInput generate_face_input(const std::uint8_t* data, std::size_t size)
{
    ByteReader in(data, size);
    const bool polygons = in.byte() >= 192;
    FaceInput input;
    int frame = -1;
    input.band_mask = band_mask_from(in, frame);
    input.depth = frame >= 0 ? catalogue_frames()[static_cast<std::size_t>(frame)].clone()
                             : cv::Mat(480, 640, CV_16UC1, cv::Scalar(1 + in.word() % 6000));
    apply_depth_edits(in, input.depth, in.index(5));
    if (!polygons) {
        // The fast contour search gives the literal one's contours (fuzz_contours checks that).
        const BandMask band{input.band_mask, cv::boundingRect(input.band_mask)};
        input.selection = select_face(find_candidate_contours_fast(band)).selection;
        return input;
    }
    const int count = 1 + in.index(5);
    for (int k = 0; k < count; ++k) input.selection.push_back(polygon_from(in));
    return input;
}

std::vector<std::uint8_t> band_mask_bytes_of(const cv::Mat& band_mask)
{
    CV_Assert(band_mask.type() == CV_8UC1 && band_mask.rows == 480 && band_mask.cols == 640 &&
              band_mask.isContinuous());
    std::vector<std::size_t> runs;  // lengths, alternating 0 and non-zero, 0 first
    const std::uint8_t* pixels = band_mask.ptr<std::uint8_t>(0);
    bool set = false;
    std::size_t length = 0;
    for (std::size_t i = 0; i < 640 * 480; ++i) {
        if ((pixels[i] != 0) != set) {
            runs.push_back(length);
            set = !set;
            length = 0;
        }
        ++length;
    }
    runs.push_back(length);
    Bytes bytes{2};
    std::vector<std::size_t> words;  // a run longer than a word is split by an empty run
    for (std::size_t k = 0; k < runs.size(); ++k) {
        std::size_t left = runs[k];
        while (left > 0xFFFF) {
            words.push_back(0xFFFF);
            words.push_back(0);
            left -= 0xFFFF;
        }
        words.push_back(left);
    }
    CV_Assert(words.size() <= 0xFFFF);
    put_word(bytes, words.size());
    for (const std::size_t w : words) put_word(bytes, w);
    bytes.push_back(0);  // no shapes
    return bytes;
}

std::vector<std::vector<std::uint8_t>> band_frame_seeds()
{
    return {
        {0, 0x03, 0xE8},                    // 1000 mm everywhere
        {100, 46, 128, 128, 0, 0},          // a floor 200 mm below, 6 degrees up
        {100, 100, 40, 200, 0x17, 0x70},    // higher, looking down, rolled; a wall at 6000 mm
        {100, 46, 128, 128, 0, 0, 0, 0, 2, 0, 7},  // the floor with its ground patch at 1000 mm
        {100, 46, 128, 128, 0, 0, 0, 0,     // the floor with a ramp across it
         5, 0, 100, 0, 0, 0, 100, 0, 200, 7, 120, 140},
        {160}, {161}, {162}, {163}, {164}, {165}, {166}, {167}, {168}, {169},  // each catalogue frame
        {162, 0, 0, 6, 0x07, 0xD0},         // the close pallet, everything 0 mm farther
        {166, 0, 0, 3, 0, 255, 3, 1, 255},  // the pallet scene, scattered 1 and 65535
    };
}

std::vector<std::vector<std::uint8_t>> band_mask_seeds()
{
    std::vector<Bytes> seeds = {
        {0, 0},  // nothing
        {3, 0},  // everything
        // Each shape, once in 255 and once cut out of a rectangle.
        {0, 1, 0, 0, 100, 0, 100, 0, 250, 0, 40},
        {0, 1, 2, 1, 64, 0, 240, 100, 30, 100},
        {0, 1, 4, 1, 64, 0, 240, 100, 128, 128, 200, 60, 0, 255, 255, 0, 20, 240},
        {0, 1, 6, 1, 64, 0, 240, 200, 80, 40},
        {0, 1, 8, 0, 60, 0, 60, 20, 4, 14},
        {0, 1, 10, 0, 10, 0, 10, 2, 0x70, 1, 0xA0, 3},
        {0, 1, 12, 0, 100, 0, 100, 200, 100, 100, 0x12, 0x34},
        {0, 1, 14, 0, 100, 0, 100, 40, 0xF0, 0x0F, 0xFF, 0xAA, 0x55, 0xFF, 0xFF, 0xFF, 0xFF},
        {0, 2, 0, 0, 100, 0, 100, 0, 250, 0, 200, 1, 0, 120, 0, 120, 0, 50, 0, 20},
    };
    for (int frame = 0; frame < static_cast<int>(catalogue_frames().size()); ++frame) {
        seeds.push_back({1, static_cast<std::uint8_t>(frame), 0});
        seeds.push_back({1, static_cast<std::uint8_t>(frame), 1, 11, 1, 64, 0, 240, 5, 60});  // a cut
    }
    return seeds;
}

std::vector<std::vector<std::uint8_t>> face_input_seeds()
{
    std::vector<Bytes> seeds;
    for (const Bytes& mask : band_mask_seeds()) {
        Bytes seed{0};
        seed.insert(seed.end(), mask.begin(), mask.end());
        seed.insert(seed.end(), {0x05, 0xDC, 0, 0, 0});  // 1500 mm where no frame gives the depth
        seeds.push_back(seed);
    }
    // Polygons: a face with holes, and others beside and across it.
    seeds.push_back({255, 0, 0, 0x05, 0xDC, 0, 0, 0, 3,
                     1, 64, 0, 240, 120, 4, 0, 0, 255, 0, 255, 255, 0, 255,
                     1, 64, 0, 240, 20, 2, 100, 100, 150, 100, 150, 150,
                     2, 128, 0, 240, 120, 2, 0, 0, 255, 128, 0, 255});
    seeds.push_back({255, 1, 6, 0, 0, 0, 0, 2,
                     1, 64, 1, 40, 150, 5, 0, 128, 128, 0, 255, 128, 128, 255, 200, 200,
                     1, 90, 1, 40, 150, 3, 0, 0, 255, 0, 128, 255});
    return seeds;
}
