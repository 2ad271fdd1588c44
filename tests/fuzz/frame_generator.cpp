#include "frame_generator.hpp"

#include <algorithm>
#include <cmath>

#include "byte_reader.hpp"
#include "sim/render.hpp"
#include "sim/scene.hpp"

namespace {

// Depths the bands care about: the analysis's depth band ends near 400 and 2000 mm ahead of the
// reference floor point, and the ground patch of the default mount sits near 1000 mm.
std::uint16_t depth_value(ByteReader& in)
{
    static constexpr std::uint16_t table[] = {0, 1, 2, 255, 256, 400, 600, 1000, 1250, 1500,
                                              2000, 2350, 2500, 4000, 6000, 32767, 32768, 65534,
                                              65535};
    const std::uint8_t how = in.byte();
    if (how < 128) return table[how % (sizeof table / sizeof table[0])];
    if (how < 192) return static_cast<std::uint16_t>(300 + in.word() % 3000);  // working range
    return in.word();
}

sim::Scene scene_from(ByteReader& in)
{
    sim::Scene scene;
    scene.mount.height_mm = in.between(50.0, 450.0);
    scene.mount.pitch_deg = in.between(-2.0, 14.0);
    scene.mount.roll_deg = in.between(-6.0, 6.0);
    const std::uint8_t sensor = in.byte();
    scene.sensor = sim::exact_sensor();
    if (sensor & 1) scene.sensor.noise_k_per_mm = in.between(0.0, 2.0e-5);
    if (sensor & 2) scene.sensor.dropout_rate = in.between(0.0, 0.5);
    scene.sensor.cavity_no_return = (sensor & 4) != 0;
    scene.floor = (sensor & 8) == 0;
    if ((sensor & 16) == 0)
        scene.pallets = {sim::PalletPlacement{in.between(300.0, 4000.0), in.between(-1500.0, 1500.0),
                                              in.between(-90.0, 90.0)}};
    const int boxes = in.index(6);
    for (int k = 0; k < boxes; ++k) {
        sim::Box box;
        // One read per statement: a constructor's arguments are evaluated in no fixed order,
        // and the same bytes must give the same box whatever the compiler.
        const double length = in.between(20.0, 4000.0), width = in.between(20.0, 2000.0),
                     height = in.between(10.0, 3000.0);
        box.size = Eigen::Vector3d(length, width, height);
        const double x = in.between(-3000.0, 3000.0), y = in.between(200.0, 6000.0),
                     base = in.between(-100.0, 600.0);
        box.centre = Eigen::Vector3d(x, y, base + box.size.z() / 2.0);
        box.yaw_deg = in.between(-90.0, 90.0);
        box.label = in.byte() & 1 ? sim::Label::wall : sim::Label::clutter;
        scene.boxes.push_back(box);
    }
    return scene;
}

// A rectangle of the frame, clipped to it; rows and columns biased towards the ground patch
// (rows 380..459, columns 240..399) and the probe pixel (row 320, column 440) half the time.
cv::Rect rectangle_from(ByteReader& in)
{
    const bool near_patch = in.byte() & 1;
    const int row = near_patch ? 360 + in.index(120) : in.index(480);
    const int col = near_patch ? 220 + in.index(240) : static_cast<int>(in.word() % 640);
    const int height = 1 + static_cast<int>(in.word() % 480);
    const int width = 1 + static_cast<int>(in.word() % 640);
    return cv::Rect(col, row, width, height) & cv::Rect(0, 0, 640, 480);
}

void apply_edit(ByteReader& in, cv::Mat& depth, std::uint64_t& noise)
{
    switch (in.index(7)) {
    case 0:  // a region of one depth
        depth(rectangle_from(in)).setTo(depth_value(in));
        break;
    case 1:  // a hole without returns
        depth(rectangle_from(in)).setTo(0);
        break;
    case 2: {  // the whole ground patch, or most of it, at one depth
        const int inset = in.index(4) == 3 ? in.index(20) : 0;
        depth(cv::Rect(240 + inset, 380 + inset, 160 - 2 * inset, 80 - 2 * inset))
            .setTo(depth_value(in));
        break;
    }
    case 3: {  // scattered pixels at 1, 65535 or 0
        static constexpr std::uint16_t extremes[] = {1, 65535, 0};
        const std::uint16_t value = extremes[in.index(3)];
        const int count = 1 + in.byte() * 8;
        for (int k = 0; k < count; ++k) {
            noise = noise * 6364136223846793005ull + 1442695040888963407ull;
            const std::uint64_t at = (noise >> 33) % (640 * 480);
            depth.at<std::uint16_t>(static_cast<int>(at / 640), static_cast<int>(at % 640)) = value;
        }
        break;
    }
    case 4: {  // raw bytes as pixels, row-major from a start pixel
        const std::uint32_t start = (static_cast<std::uint32_t>(in.word()) * 5) % (640 * 480);
        const int count = 1 + in.byte();
        auto* pixels = depth.ptr<std::uint16_t>(0);
        for (int k = 0; k < count; ++k) pixels[(start + k) % (640 * 480)] = in.word();
        break;
    }
    case 5: {  // a depth ramp (a tilted plane) over a rectangle
        const cv::Rect r = rectangle_from(in);
        const double base = depth_value(in);
        const double per_row = in.between(-40.0, 40.0);
        const double per_col = in.between(-40.0, 40.0);
        for (int v = r.y; v < r.y + r.height; ++v) {
            for (int u = r.x; u < r.x + r.width; ++u) {
                const double d = base + per_row * (v - r.y) + per_col * (u - r.x);
                depth.at<std::uint16_t>(v, u) =
                    static_cast<std::uint16_t>(std::clamp(std::lround(d), 0l, 65535l));
            }
        }
        break;
    }
    default: {  // the whole frame offset by a constant, saturating
        const int offset = static_cast<int>(in.word() % 4001) - 2000;
        depth.forEach<std::uint16_t>([offset](std::uint16_t& d, const int*) {
            if (d != 0) d = static_cast<std::uint16_t>(std::clamp(d + offset, 1, 65535));
        });
        break;
    }
    }
}

}  // namespace

void apply_depth_edits(ByteReader& in, cv::Mat& depth, int most)
{
    std::uint64_t noise = in.word();
    for (int edits = 0; edits < most && !in.empty(); ++edits) apply_edit(in, depth, noise);
}

cv::Mat generate_depth_frame(const std::uint8_t* data, std::size_t size)
{
    ByteReader in(data, size);
    cv::Mat depth;
    const std::uint8_t base = in.byte();
    if (base < 160) {
        const sim::Scene scene = scene_from(in);
        depth = sim::render(scene, in.word()).depth;
    } else {
        depth = cv::Mat(480, 640, CV_16UC1, cv::Scalar(base < 208 ? depth_value(in) : 0));
    }
    apply_depth_edits(in, depth, 16);
    return depth;
}

std::vector<std::vector<std::uint8_t>> frame_generator_seeds()
{
    using Bytes = std::vector<std::uint8_t>;
    // A rendered scene at the default mount (200 mm high: byte 96; 6 degrees up: byte 128), exact
    // sensor unless `sensor` says otherwise, a pallet `distance` bytes away (300 + 14.5 mm per
    // step) unless sensor bit 16 is set, no boxes, render seed 1, then the noise word and `edits`.
    const auto scene = [](std::uint8_t sensor, std::uint8_t distance, std::uint8_t lateral,
                          std::uint8_t yaw, const Bytes& edits) {
        Bytes bytes{0, 96, 128, 128, sensor};
        if (sensor & 1) bytes.push_back(40);  // noise sigma 3e-6 z^2
        if (sensor & 2) bytes.push_back(60);  // dropouts up to 12 %
        if ((sensor & 16) == 0) bytes.insert(bytes.end(), {distance, lateral, yaw});
        bytes.insert(bytes.end(), {0, 0, 1, 0, 0});
        bytes.insert(bytes.end(), edits.begin(), edits.end());
        return bytes;
    };
    Bytes with_box = {0, 96, 128, 128, 0, 83, 128, 128, 2,
                      30, 10, 40, 128, 80, 60, 0,      // a box beside the pallet
                      250, 5, 250, 128, 250, 128, 1,   // a wall behind it
                      0, 5, 0, 0};
    return {
        scene(0, 65, 128, 128, {}),                         // pallet at 1.25 m
        scene(0, 83, 128, 128, {}),                         // pallet at 1.5 m
        scene(0, 141, 128, 128, {}),                        // pallet at 2.35 m: too narrow
        scene(0, 83, 100, 170, {}),                         // turned, to the side
        scene(16, 0, 0, 0, {}),                             // the floor alone
        scene(8, 83, 128, 128, {}),                         // no floor
        scene(7, 83, 128, 128, {}),                     // noise, dropouts, no return in cavities
        with_box,
        scene(0, 83, 128, 128, {2, 0, 11}),                 // ground patch at 2350 mm
        scene(0, 141, 128, 128, {2, 0, 10}),                // ground patch at 2000 mm
        scene(0, 83, 128, 128, {2, 3, 10, 7}),              // most of the patch at 1000 mm
        scene(0, 83, 128, 128, {3, 0, 255, 3, 1, 255}),     // scattered 1 and 65535
        scene(0, 83, 128, 128, {1, 1, 40, 20, 0, 30, 0, 60}),           // a hole
        scene(0, 83, 128, 128, {4, 10, 0, 8, 255, 255, 0, 1, 4, 0}),    // raw pixels
        scene(0, 83, 128, 128, {5, 1, 20, 20, 0, 60, 0, 160, 7, 150, 100}),  // a ramp
        scene(0, 83, 128, 128, {6, 3, 232}),                // everything 1000 mm farther
        {200, 7},                                           // constant 1000 mm
        {255},                                              // no return anywhere
    };
}
