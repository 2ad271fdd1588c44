// Recorded depth frames: the header check before decoding, the reasons for refusing a file, the
// decoding itself and the folder listing shared by pallet_scan and the stand-in camera's replay.
#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <sys/stat.h>
#include <unistd.h>

#include "sim/depth_png.hpp"

namespace fs = std::filesystem;

namespace {

fs::path fresh_dir(const std::string& name)
{
    const fs::path dir = fs::temp_directory_path() /
                         ("sim_depth_png_test_" + std::to_string(::getpid()) + "_" + name);
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

using Bytes = std::vector<unsigned char>;

// CRC-32 of PNG chunks, bit by bit: written apart from the reader's, which takes zlib's.
std::uint32_t crc_of(const Bytes& bytes, std::size_t begin, std::size_t end)
{
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = begin; i < end; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void put_32(Bytes& bytes, std::uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        bytes.push_back(static_cast<unsigned char>(value >> shift));
}

Bytes chunk(const std::string& type, const Bytes& data)
{
    Bytes bytes;
    put_32(bytes, static_cast<std::uint32_t>(data.size()));
    bytes.insert(bytes.end(), type.begin(), type.end());
    bytes.insert(bytes.end(), data.begin(), data.end());
    put_32(bytes, crc_of(bytes, 4, bytes.size()));
    return bytes;
}

// The signature and an IHDR chunk: what the reader looks at before it decodes anything.
Bytes png_head(std::uint32_t width, std::uint32_t height, int bit_depth, int colour_type)
{
    Bytes bytes{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Bytes ihdr;
    put_32(ihdr, width);
    put_32(ihdr, height);
    ihdr.insert(ihdr.end(), {static_cast<unsigned char>(bit_depth),
                             static_cast<unsigned char>(colour_type), 0, 0, 0});
    const Bytes header = chunk("IHDR", ihdr);
    bytes.insert(bytes.end(), header.begin(), header.end());
    return bytes;
}

std::string header_error(const Bytes& bytes)
{
    return sim::parse_png_header(bytes.data(), bytes.size()).error;
}

void write_bytes(const fs::path& path, const Bytes& bytes)
{
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes read_bytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Every value of the 16 bits, so that a byte-order slip shows.
cv::Mat ramp_depth()
{
    cv::Mat depth(480, 640, CV_16UC1);
    for (int v = 0; v < depth.rows; ++v)
        for (int u = 0; u < depth.cols; ++u)
            depth.at<std::uint16_t>(v, u) = static_cast<std::uint16_t>(v * 641 + u * 257 + 3);
    return depth;
}

}  // namespace

TEST(DepthPng, HeaderSaysSizeDepthAndChannels)
{
    const sim::PngHeaderRead frame = [] {
        const Bytes head = png_head(640, 480, 16, 0);
        return sim::parse_png_header(head.data(), head.size());
    }();
    ASSERT_EQ(frame.error, "");
    EXPECT_EQ(frame.header.width, 640u);
    EXPECT_EQ(frame.header.height, 480u);
    EXPECT_EQ(sim::depth_png_header_problem(frame.header), "");

    const auto problem = [](std::uint32_t w, std::uint32_t h, int depth, int type) {
        const Bytes head = png_head(w, h, depth, type);
        const sim::PngHeaderRead read = sim::parse_png_header(head.data(), head.size());
        return read.error.empty() ? sim::depth_png_header_problem(read.header) : read.error;
    };
    EXPECT_EQ(problem(640, 480, 8, 0), "not a 16-bit single-channel PNG (8-bit, 1 channel)");
    EXPECT_EQ(problem(640, 480, 16, 4), "not a 16-bit single-channel PNG (16-bit, 2 channels)");
    EXPECT_EQ(problem(640, 480, 16, 2), "not a 16-bit single-channel PNG (16-bit, 3 channels)");
    EXPECT_EQ(problem(640, 480, 8, 6), "not a 16-bit single-channel PNG (8-bit, 4 channels)");
    EXPECT_EQ(problem(640, 480, 8, 3), "not a 16-bit single-channel PNG (8-bit, palette colours)");
    EXPECT_EQ(problem(1, 1, 16, 0), "not 640 x 480 (1 x 1)");
    EXPECT_EQ(problem(65535, 65535, 16, 0), "not 640 x 480 (65535 x 65535)");
    EXPECT_EQ(problem(480, 640, 16, 0), "not 640 x 480 (480 x 640)");
    EXPECT_EQ(problem(0, 480, 16, 0), "a damaged PNG file (a size of 0 x 480)");
    EXPECT_EQ(problem(0x80000000u, 480, 16, 0), "a damaged PNG file (a size of 2147483648 x 480)");
    EXPECT_EQ(problem(640, 480, 16, 3),
              "a damaged PNG file (bit depth 16 with colour type 3)");
    EXPECT_EQ(problem(640, 480, 12, 0), "a damaged PNG file (bit depth 12 with colour type 0)");
    EXPECT_EQ(problem(640, 480, 16, 5), "a damaged PNG file (bit depth 16 with colour type 5)");
}

TEST(DepthPng, HeaderBytesThatAreNoPngHeader)
{
    EXPECT_EQ(header_error({}), "an empty file");
    EXPECT_EQ(header_error({'G', 'I', 'F', '8', '9', 'a'}), "not a PNG file");
    EXPECT_EQ(header_error({0x89, 'P', 'N'}), "a damaged PNG file (it ends inside its header)");
    Bytes head = png_head(640, 480, 16, 0);
    EXPECT_EQ(header_error(Bytes(head.begin(), head.end() - 1)),
              "a damaged PNG file (it ends inside its header)");

    Bytes checksum = head;
    checksum[19] ^= 0x01;  // one bit of the width: 640 becomes 641
    EXPECT_EQ(header_error(checksum), "a damaged PNG file (the IHDR checksum is wrong)");
    Bytes renamed = head;
    renamed[12] = 'i';
    EXPECT_EQ(header_error(renamed), "a damaged PNG file (no IHDR chunk first)");

    Bytes interlace(head.begin(), head.begin() + 8);  // an interlace method 2 with its checksum
    Bytes ihdr(head.begin() + 16, head.begin() + 29);
    ihdr[12] = 2;
    const Bytes fixed = chunk("IHDR", ihdr);
    interlace.insert(interlace.end(), fixed.begin(), fixed.end());
    EXPECT_EQ(header_error(interlace),
              "a damaged PNG file (an unknown compression, filter or interlace method)");
}

TEST(DepthPng, FilesAreRefusedWithOneReason)
{
    const fs::path dir = fresh_dir("refused");
    const cv::Mat depth = ramp_depth();
    ASSERT_TRUE(cv::imwrite((dir / "good.png").string(), depth));
    const Bytes good = read_bytes(dir / "good.png");
    write_bytes(dir / "truncated.png", Bytes(good.begin(), good.begin() + good.size() / 2));
    write_bytes(dir / "no_end.png", Bytes(good.begin(), good.end() - 12));  // IEND cut off
    Bytes bad_data = good;
    bad_data[good.size() / 2] ^= 0xFF;  // inside the image data: its checksum fails
    write_bytes(dir / "bad_data.png", bad_data);
    write_bytes(dir / "bomb.png", png_head(65535, 65535, 16, 0));
    write_bytes(dir / "empty.png", {});
    std::ofstream(dir / "text.png") << "not an image at all";
    cv::imwrite((dir / "eight_bit.png").string(), cv::Mat(480, 640, CV_8UC1, cv::Scalar(9)));
    cv::imwrite((dir / "colour.png").string(), cv::Mat(480, 640, CV_16UC3, cv::Scalar(1, 2, 3)));
    cv::imwrite((dir / "small.png").string(), cv::Mat(240, 320, CV_16UC1, cv::Scalar(5)));
    cv::imwrite((dir / "real.tiff").string(), depth);
    fs::create_directory(dir / "folder.png");
    ASSERT_EQ(::mkfifo((dir / "pipe.png").c_str(), 0600), 0);
    fs::create_symlink("nowhere.png", dir / "broken.png");
    fs::create_symlink("loop.png", dir / "loop.png");
    fs::create_symlink("good.png", dir / "link.png");

    const auto error_of = [&](const char* name) {
        return sim::read_depth_png((dir / name).string()).error;
    };
    EXPECT_EQ(error_of("good.png"), "");
    EXPECT_EQ(error_of("link.png"), "") << "a link to a frame is that frame";
    EXPECT_EQ(error_of("missing.png"), "no such file");
    EXPECT_EQ(error_of("truncated.png"), "a damaged PNG file (the file ends early)");
    EXPECT_EQ(error_of("no_end.png"), "a damaged PNG file (the file ends early)");
    EXPECT_EQ(error_of("bad_data.png").rfind("a damaged PNG file (", 0), 0u)
        << error_of("bad_data.png");
    EXPECT_EQ(error_of("bomb.png"), "not 640 x 480 (65535 x 65535)");
    EXPECT_EQ(error_of("empty.png"), "an empty file");
    EXPECT_EQ(error_of("text.png"), "not a PNG file");
    EXPECT_EQ(error_of("real.tiff"), "not a PNG file");
    EXPECT_EQ(error_of("eight_bit.png"), "not a 16-bit single-channel PNG (8-bit, 1 channel)");
    EXPECT_EQ(error_of("colour.png"), "not a 16-bit single-channel PNG (16-bit, 3 channels)");
    EXPECT_EQ(error_of("small.png"), "not 640 x 480 (320 x 240)");
    EXPECT_EQ(error_of("folder.png"), "not a regular file (a folder)");
    EXPECT_EQ(error_of("pipe.png"), "not a regular file (a named pipe)");  // never opened
    EXPECT_EQ(sim::read_depth_png("/dev/null").error, "not a regular file (a character device)");
    EXPECT_EQ(error_of("broken.png"), "a broken symbolic link");
    EXPECT_EQ(error_of("loop.png"), "a symbolic link loop");
    EXPECT_EQ(error_of("good.png/x.png"), "no such file");
    fs::remove_all(dir);
}

TEST(DepthPng, DecodesWhatTheImageLibraryWroteAndSkipsAncillaryChunks)
{
    const fs::path dir = fresh_dir("decode");
    const cv::Mat depth = ramp_depth();
    ASSERT_TRUE(cv::imwrite((dir / "plain.png").string(), depth));
    const sim::DepthPngRead plain = sim::read_depth_png((dir / "plain.png").string());
    ASSERT_EQ(plain.error, "");
    ASSERT_EQ(plain.depth.type(), CV_16UC1);
    EXPECT_EQ(cv::norm(plain.depth, depth, cv::NORM_INF), 0.0);
    EXPECT_EQ(cv::norm(plain.depth, cv::imread((dir / "plain.png").string(), cv::IMREAD_UNCHANGED),
                       cv::NORM_INF), 0.0);

    // A text chunk after the header, one with a wrong checksum, and a private chunk: none of
    // them changes a pixel or fails the read.
    const Bytes bytes = read_bytes(dir / "plain.png");
    Bytes with_chunks(bytes.begin(), bytes.begin() + sim::png_header_size);
    const std::string comment = "Comment";
    Bytes text(comment.begin(), comment.end());
    text.push_back(0);
    text.insert(text.end(), 100000, 'x');
    for (const Bytes& extra : {chunk("tEXt", text), chunk("prVt", Bytes(5000, 7))})
        with_chunks.insert(with_chunks.end(), extra.begin(), extra.end());
    Bytes broken_text = chunk("tEXt", text);
    broken_text.back() ^= 0x55;
    with_chunks.insert(with_chunks.end(), broken_text.begin(), broken_text.end());
    with_chunks.insert(with_chunks.end(), bytes.begin() + sim::png_header_size, bytes.end());
    write_bytes(dir / "chunks.png", with_chunks);
    const sim::DepthPngRead read = sim::read_depth_png((dir / "chunks.png").string());
    ASSERT_EQ(read.error, "");
    EXPECT_EQ(cv::norm(read.depth, depth, cv::NORM_INF), 0.0);
    fs::remove_all(dir);
}

TEST(DepthPng, BothDecodersGiveTheFramesPixels)
{
    const fs::path dir = fresh_dir("decoders");
    const cv::Mat depth = ramp_depth();
    ASSERT_TRUE(cv::imwrite((dir / "plain.png").string(), depth));
    const Bytes bytes = read_bytes(dir / "plain.png");
    Bytes with_text(bytes.begin(), bytes.begin() + sim::png_header_size);
    const Bytes text = chunk("tEXt", {'C', 'o', 'm', 'm', 'e', 'n', 't', 0, 'x', 'y'});
    Bytes broken_text = text;
    broken_text.back() ^= 0x55;
    for (const Bytes& extra : {text, chunk("prVt", Bytes(5000, 7)), broken_text})
        with_text.insert(with_text.end(), extra.begin(), extra.end());
    with_text.insert(with_text.end(), bytes.begin() + sim::png_header_size, bytes.end());
    write_bytes(dir / "chunks.png", with_text);
    write_bytes(dir / "truncated.png", Bytes(bytes.begin(), bytes.begin() + bytes.size() / 2));
    write_bytes(dir / "no_end.png", Bytes(bytes.begin(), bytes.end() - 12));
    Bytes bad_data = bytes;
    bad_data[bytes.size() / 2] ^= 0xFF;
    write_bytes(dir / "bad_data.png", bad_data);
    write_bytes(dir / "bomb.png", png_head(65535, 65535, 16, 0));

    for (const sim::PngDecoder decoder : {sim::PngDecoder::libpng, sim::PngDecoder::libspng}) {
        SCOPED_TRACE(decoder == sim::PngDecoder::libpng ? "libpng" : "libspng");
        const auto read = [&](const char* name) { return sim::read_depth_png((dir / name).string(), decoder); };
        for (const char* name : {"plain.png", "chunks.png"}) {
            const sim::DepthPngRead frame = read(name);
            ASSERT_EQ(frame.error, "") << name;
            EXPECT_EQ(cv::norm(frame.depth, depth, cv::NORM_INF), 0.0) << name;
        }
        EXPECT_EQ(read("truncated.png").error, "a damaged PNG file (the file ends early)");
        EXPECT_EQ(read("no_end.png").error, "a damaged PNG file (the file ends early)");
        EXPECT_EQ(read("bad_data.png").error.rfind("a damaged PNG file (", 0), 0u);
        EXPECT_EQ(read("bomb.png").error, "not 640 x 480 (65535 x 65535)");  // from the header alone
    }
    fs::remove_all(dir);
}

TEST(DepthPng, FolderListingKeepsWhatOnlyTheReaderCanJudge)
{
    const fs::path dir = fresh_dir("listing");
    for (const char* name : {"b.png", "a.png", "B.png", "notes.txt", "up.PNG", "a.png.bak"})
        std::ofstream(dir / name) << "x";
    fs::create_directory(dir / "sub.png");
    ASSERT_EQ(::mkfifo((dir / "pipe.png").c_str(), 0600), 0);
    fs::create_symlink("nowhere", dir / "broken.png");
    fs::create_symlink("loop.png", dir / "loop.png");
    fs::create_symlink("sub.png", dir / "to_sub.png");

    std::error_code error;
    const std::vector<std::string> files = sim::depth_png_files(dir.string(), error);
    EXPECT_FALSE(error);
    std::vector<std::string> names;
    for (const std::string& file : files) {
        EXPECT_EQ(fs::path(file).parent_path(), dir);
        names.push_back(fs::path(file).filename().string());
    }
    // Bytewise name order: upper case before lower case.
    EXPECT_EQ(names, (std::vector<std::string>{"B.png", "a.png", "b.png", "broken.png", "loop.png",
                                               "pipe.png"}));

    EXPECT_TRUE(sim::depth_png_files((dir / "missing").string(), error).empty());
    EXPECT_TRUE(error);
    EXPECT_TRUE(sim::depth_png_files((dir / "a.png").string(), error).empty());
    EXPECT_TRUE(error);
    fs::remove_all(dir);
}
