// Recorded depth frames as PNG files: 640 x 480, 16-bit grey, millimetres. The stand-in camera's
// replay and pallet_scan list and read them through these functions, so both take and refuse the
// same files with the same words.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <system_error>
#include <vector>

#include <opencv2/core.hpp>

namespace sim {

// What the IHDR chunk, the first chunk of every PNG, says about the image.
struct PngHeader {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    int bit_depth = 0;    // bits per channel: 1, 2, 4, 8 or 16
    int colour_type = 0;  // 0 grey, 2 RGB, 3 palette, 4 grey + alpha, 6 RGB + alpha
};

struct PngHeaderRead {
    PngHeader header;
    std::string error;  // empty when the bytes start with a well-formed IHDR chunk
};

// Bytes a PNG needs for its header: the 8-byte signature and the 25-byte IHDR chunk.
inline constexpr std::size_t png_header_size = 33;

// The header of the PNG whose first bytes are given (at least png_header_size of them for a
// header, fewer say why not). Errors: "an empty file", "not a PNG file", "a damaged PNG file
// (...)"; the IHDR checksum and the allowed depth and colour combinations are checked.
PngHeaderRead parse_png_header(const unsigned char* bytes, std::size_t size);

// Channels per pixel of a PNG colour type: grey 1, grey + alpha 2, RGB 3, RGB + alpha 4; a
// palette image has 1 (an index), 0 for an unknown type.
int png_channels(int colour_type);

// Why a header is not that of a depth frame (640 x 480, 16-bit, grey), e.g. "not a 16-bit
// single-channel PNG (16-bit, 2 channels)" or "not 640 x 480 (20000 x 20000)"; empty when it is.
std::string depth_png_header_problem(const PngHeader& header);

struct DepthPngRead {
    cv::Mat depth;      // 480 x 640 CV_16UC1 when error is empty
    std::string error;  // e.g. "no such file", "not a regular file (a named pipe)"
};

// Reads a depth frame from a file. Only a regular file is opened, and without waiting (a named
// pipe, a device or a socket is refused without a read that could block); its header is checked
// before anything is decoded, so a file that claims another size costs one 33-byte read. A
// frame that passes is decoded straight into its 614,400 bytes; ancillary chunks are skipped
// unread, so the decoder needs a fixed few tens of kB more, whatever the file holds. Writes
// nothing to standard error.
DepthPngRead read_depth_png(const std::string& path);

// The PNG decoders a depth frame can be decoded with, after the same checks of the file and its
// header. Both give a good frame's pixels. read_depth_png uses libpng, the faster of the two on
// recorded frames (pallet_bench times both); libspng words other damage in its own terms (a file
// that ends early is said the same way), and keeps text chunks of up to 1 MB in memory where
// libpng skips them.
enum class PngDecoder { libpng, libspng };

// read_depth_png with the given decoder.
DepthPngRead read_depth_png(const std::string& path, PngDecoder decoder);

// The entries of folder whose names end in ".png" (lower case) and that are not folders (a pipe
// or a broken link stays in, for its reader to report), sorted bytewise by name, as
// folder + "/" + name. error is set when the folder cannot be listed.
std::vector<std::string> depth_png_files(const std::string& folder, std::error_code& error);

}  // namespace sim
