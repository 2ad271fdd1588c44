// Writes the seed corpora of the fuzz targets: fuzz_seeds DATA_DIR OUT_DIR makes OUT_DIR/frames
// (generator inputs for rendered and edited scenes), OUT_DIR/png (the PNG frames of DATA_DIR and
// broken forms of one: truncated, 8-bit, RGB, two channels, 1 x 1, a header claiming
// 65535 x 65535), OUT_DIR/sdk_settings (source and fault values), and for the stage targets
// OUT_DIR/band_mask (floors, catalogue frames and edits), OUT_DIR/contours (shapes, catalogue
// masks and the combined band mask of every 640 x 480 frame of DATA_DIR) and OUT_DIR/face_points
// (the same masks as face inputs, and polygon selections), and OUT_DIR/detector (the frames
// target's seeds, the band mask target's and floors at steep tilts and rolls).
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>

#include "analysis/ground_alignment.hpp"
#include "analysis/range_masks.hpp"
#include "detector_checks.hpp"
#include "frame_generator.hpp"
#include "stage_inputs.hpp"

namespace fs = std::filesystem;

namespace {

void write_file(const fs::path& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::uint8_t> png_of(const cv::Mat& image)
{
    std::vector<std::uint8_t> bytes;
    cv::imencode(".png", image, bytes);
    return bytes;
}

std::uint32_t crc32(const std::uint8_t* p, std::size_t n)
{
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

// A PNG whose header (with a valid checksum) claims width x height and the colour type (0 grey,
// 4 grey and alpha), followed by the data chunks of a small image: a decoder that trusts the
// header allocates the whole image.
std::vector<std::uint8_t> with_header(std::vector<std::uint8_t> png, std::uint32_t width,
                                      std::uint32_t height, std::uint8_t colour_type = 0)
{
    std::uint8_t* ihdr = png.data() + 8;  // length (4), "IHDR", 13 bytes of fields, CRC
    const auto put = [](std::uint8_t* at, std::uint32_t v) {
        for (int k = 0; k < 4; ++k) at[k] = static_cast<std::uint8_t>(v >> (24 - 8 * k));
    };
    put(ihdr + 8, width);
    put(ihdr + 12, height);
    ihdr[17] = colour_type;
    put(ihdr + 21, crc32(ihdr + 4, 17));
    return png;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: fuzz_seeds DATA_DIR OUT_DIR\n");
        return 2;
    }
    const fs::path data = argv[1], out = argv[2];
    for (const char* target : {"frames", "png", "sdk_settings", "band_mask", "contours", "face_points", "detector"})
        fs::create_directories(out / target);

    int n = 0;
    for (const std::vector<std::uint8_t>& seed : frame_generator_seeds())
        write_file(out / "frames" / ("seed_" + std::to_string(++n)), seed);

    std::vector<fs::path> frames;
    for (const auto& entry : fs::recursive_directory_iterator(data))
        if (entry.path().extension() == ".png") frames.push_back(entry.path());
    cv::Mat depth;
    std::vector<std::vector<std::uint8_t>> recorded_masks;
    for (const fs::path& frame : frames) {
        std::ifstream in(frame, std::ios::binary);
        const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
        write_file(out / "png" / frame.filename(), bytes);
        const cv::Mat image = cv::imread(frame.string(), cv::IMREAD_UNCHANGED);
        if (image.type() != CV_16UC1 || image.size() != cv::Size(640, 480)) continue;
        if (depth.empty()) depth = image;
        recorded_masks.push_back(band_mask_bytes_of(make_combined_band_mask(align_to_ground(image))));
    }
    if (depth.empty()) {
        std::fprintf(stderr, "fuzz_seeds: no 640 x 480 16-bit frame under %s\n", argv[1]);
        return 1;
    }
    const std::vector<std::uint8_t> whole = png_of(depth);
    write_file(out / "png" / "truncated.png", {whole.begin(), whole.begin() + whole.size() / 2});
    write_file(out / "png" / "header_only.png", {whole.begin(), whole.begin() + 33});
    cv::Mat eight;
    depth.convertTo(eight, CV_8U, 1.0 / 16);
    write_file(out / "png" / "eight_bit.png", png_of(eight));
    cv::Mat rgb;
    cv::merge(std::vector<cv::Mat>{depth, depth, depth}, rgb);
    write_file(out / "png" / "rgb16.png", png_of(rgb));
    const std::vector<std::uint8_t> tiny = png_of(cv::Mat(1, 1, CV_16UC1, cv::Scalar(1000)));
    write_file(out / "png" / "one_by_one.png", tiny);
    // The library writes no grey-and-alpha PNG: the header says two channels, the data is short.
    write_file(out / "png" / "two_channels.png", with_header(tiny, 1, 1, 4));
    // tests/fuzz/regressions/png/ holds a real 20000 x 20000 header, with one pixel of data.
    write_file(out / "png" / "bomb_65535.png", with_header(tiny, 65535, 65535));
    write_file(out / "png" / "text.png", {'h', 'e', 'l', 'l', 'o', '\n'});

    const auto write_seeds = [&out](const char* target, const std::vector<std::vector<std::uint8_t>>& seeds) {
        int k = 0;
        for (const std::vector<std::uint8_t>& seed : seeds)
            write_file(out / target / ("seed_" + std::to_string(++k)), seed);
    };
    write_seeds("band_mask", band_frame_seeds());
    write_seeds("detector", detector_frame_seeds());
    std::vector<std::vector<std::uint8_t>> masks = band_mask_seeds(), faces = face_input_seeds();
    for (const std::vector<std::uint8_t>& mask : recorded_masks) {
        masks.push_back(mask);
        std::vector<std::uint8_t> face{0};
        face.insert(face.end(), mask.begin(), mask.end());
        face.insert(face.end(), {0x05, 0xDC, 0, 0, 0});  // 1500 mm everywhere, no edits
        faces.push_back(face);
    }
    write_seeds("contours", masks);
    write_seeds("face_points", faces);

    const std::vector<std::string> settings = {
        std::string("scene\0nodepth@5,timeout@7,badsize@9", 35), "scene:pallet", "scene:nope",
        "none", std::string("replay:.\0timeout@1", 18), "replay-once:/nonexistent",
        std::string("\0nodepth@1,", 11), std::string("scene:far\0badsize@18446744073709551615", 38),
        std::string("\0timeout@0000000000000000001", 28)};
    n = 0;
    for (const std::string& s : settings)
        write_file(out / "sdk_settings" / ("seed_" + std::to_string(++n)), {s.begin(), s.end()});
    return 0;
}
