#include "sim/depth_png.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include <fcntl.h>
#include <png.h>
#include <spng.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include "sim/intrinsics.hpp"

namespace sim {

namespace {

constexpr std::array<unsigned char, 8> png_signature{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

std::uint32_t big_endian_32(const unsigned char* bytes)
{
    return static_cast<std::uint32_t>(bytes[0]) << 24 | static_cast<std::uint32_t>(bytes[1]) << 16 |
           static_cast<std::uint32_t>(bytes[2]) << 8 | static_cast<std::uint32_t>(bytes[3]);
}

bool allowed_depth(int colour_type, int bit_depth)
{
    switch (colour_type) {
    case 0:
        return bit_depth == 1 || bit_depth == 2 || bit_depth == 4 || bit_depth == 8 ||
               bit_depth == 16;
    case 3:
        return bit_depth == 1 || bit_depth == 2 || bit_depth == 4 || bit_depth == 8;
    case 2:
    case 4:
    case 6:
        return bit_depth == 8 || bit_depth == 16;
    default:
        return false;
    }
}

std::string damaged(const std::string& why)
{
    return "a damaged PNG file (" + why + ")";
}

std::string system_text(int error_number)
{
    return std::error_code(error_number, std::generic_category()).message();
}

// Why stat() found no file at path: a link may point nowhere or round in a circle.
std::string missing_file_text(const std::string& path, int error_number)
{
    struct stat link {};
    if (error_number == ELOOP) return "a symbolic link loop";
    if (error_number == ENOENT && ::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode))
        return "a broken symbolic link";
    if (error_number == ENOENT || error_number == ENOTDIR) return "no such file";
    return "cannot be read (" + system_text(error_number) + ")";
}

std::string file_kind(mode_t mode)
{
    if (S_ISDIR(mode)) return "a folder";
    if (S_ISFIFO(mode)) return "a named pipe";
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISBLK(mode)) return "a block device";
    if (S_ISSOCK(mode)) return "a socket";
    return "neither file nor folder";
}

// Reads up to size bytes; returns how many came (fewer at the end of the file), -1 on an error.
long read_up_to(int fd, unsigned char* data, std::size_t size)
{
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd, data + done, size - done);
        if (n > 0) done += static_cast<std::size_t>(n);
        else if (n == 0) break;
        else if (errno != EINTR) return -1;
    }
    return static_cast<long>(done);
}

struct FileCloser {
    int fd;
    ~FileCloser() { ::close(fd); }
};

// The decoder's view of the file and the text of its first error. libpng leaves a failing call
// by longjmp, so nothing here may need a destructor.
struct DecodeState {
    int fd;
    char message[128];
};

extern "C" void decoder_error(png_structp png, png_const_charp message)
{
    auto* state = static_cast<DecodeState*>(png_get_error_ptr(png));
    std::snprintf(state->message, sizeof state->message, "%s", message);
    png_longjmp(png, 1);
}

// libpng's warnings (an ancillary chunk's checksum, extra data after the image) change nothing
// that is read; they are not printed, so that one bad file gives one line, the caller's.
extern "C" void decoder_warning(png_structp, png_const_charp) {}

extern "C" void read_from_file(png_structp png, png_bytep data, png_size_t length)
{
    const auto* state = static_cast<const DecodeState*>(png_get_io_ptr(png));
    const long got = read_up_to(state->fd, data, length);
    if (got < 0) png_error(png, "a read failed");
    if (static_cast<png_size_t>(got) < length) png_error(png, "the file ends early");
}

// Decodes a 640 x 480 16-bit grey PNG from the state's file, at its start, into rows of the
// given stride. Returns false with state.message set when libpng gives up. Only plain values
// live in this frame: an error jumps back to the setjmp below.
bool decode_depth_rows(DecodeState& state, unsigned char* pixels, std::size_t stride)
{
    png_structp png =
        png_create_read_struct(PNG_LIBPNG_VER_STRING, &state, decoder_error, decoder_warning);
    if (png == nullptr) {
        std::snprintf(state.message, sizeof state.message, "out of memory");
        return false;
    }
    png_infop info = png_create_info_struct(png);
    std::array<png_bytep, 480> rows{};
    for (std::size_t v = 0; v < rows.size(); ++v) rows[v] = pixels + v * stride;
    if (info == nullptr || setjmp(png_jmpbuf(png)) != 0) {
        if (info == nullptr) std::snprintf(state.message, sizeof state.message, "out of memory");
        png_destroy_read_struct(&png, info != nullptr ? &info : nullptr, nullptr);
        return false;
    }
    png_set_read_fn(png, &state, read_from_file);
    // Text, profiles and private chunks are skipped as they are read, never held in memory.
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
    png_set_user_limits(png, 640, 480);
    png_read_info(png, info);
    if (png_get_image_width(png, info) != 640 || png_get_image_height(png, info) != 480 ||
        png_get_bit_depth(png, info) != 16 || png_get_color_type(png, info) != PNG_COLOR_TYPE_GRAY)
        png_error(png, "the header changed while it was read");
#if !defined(__BYTE_ORDER__) || __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    png_set_swap(png);  // PNG samples are big-endian
#endif
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != 640 * sizeof(std::uint16_t))
        png_error(png, "unexpected row size");
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);  // a file cut off after its image data is damaged too
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

// libspng's view of the file: its reads come through read_for_spng.
struct SpngSource {
    int fd;
};

extern "C" int read_for_spng(spng_ctx*, void* user, void* data, std::size_t length)
{
    const auto* source = static_cast<const SpngSource*>(user);
    const long got = read_up_to(source->fd, static_cast<unsigned char*>(data), length);
    if (got < 0) return SPNG_IO_ERROR;
    return static_cast<std::size_t>(got) < length ? SPNG_IO_EOF : 0;
}

// The words of a libspng error, in the terms libpng's reader gives for the same failures.
std::string spng_error_text(int error)
{
    if (error == SPNG_IO_EOF) return "the file ends early";
    if (error == SPNG_IO_ERROR) return "a read failed";
    return spng_strerror(error);
}

// The same decoding with libspng: an error code, or 0 with the pixels in place.
int decode_depth_rows_spng(int fd, unsigned char* pixels, std::size_t stride)
{
    spng_ctx* ctx = spng_ctx_new(0);
    if (ctx == nullptr) return SPNG_EMEM;
    SpngSource source{fd};
    // Checksums as libpng's reader takes them: a critical chunk's is an error, an ancillary
    // chunk with a wrong one is dropped; text and other ancillary chunks are not kept.
    int error = spng_set_png_stream(ctx, read_for_spng, &source);
    if (error == 0) error = spng_set_image_limits(ctx, 640, 480);
    if (error == 0) error = spng_set_crc_action(ctx, SPNG_CRC_ERROR, SPNG_CRC_DISCARD);
    if (error == 0) error = spng_set_chunk_limits(ctx, 1u << 20, 1u << 20);
    spng_ihdr ihdr{};
    if (error == 0) error = spng_get_ihdr(ctx, &ihdr);
    if (error == 0 && (ihdr.width != 640 || ihdr.height != 480 || ihdr.bit_depth != 16 ||
                       ihdr.color_type != SPNG_COLOR_TYPE_GRAYSCALE))
        error = SPNG_EINTERNAL;
    // Straight into the image (its rows are contiguous), in host byte order.
    if (error == 0 && stride != 640 * sizeof(std::uint16_t)) error = SPNG_EBUFSIZ;
    if (error == 0) error = spng_decode_image(ctx, pixels, 480 * stride, SPNG_FMT_PNG, 0);
    if (error == 0) error = spng_decode_chunks(ctx);  // up to IEND: a file cut off after its image is damaged too
    spng_ctx_free(ctx);
    return error;
}

}  // namespace

PngHeaderRead parse_png_header(const unsigned char* bytes, std::size_t size)
{
    PngHeaderRead read;
    if (size == 0) {
        read.error = "an empty file";
        return read;
    }
    if (!std::equal(bytes, bytes + std::min(size, png_signature.size()), png_signature.begin())) {
        read.error = "not a PNG file";
        return read;
    }
    if (size < png_header_size) {
        read.error = damaged("it ends inside its header");
        return read;
    }
    const unsigned char* chunk = bytes + 8;
    if (big_endian_32(chunk) != 13 || std::memcmp(chunk + 4, "IHDR", 4) != 0) {
        read.error = damaged("no IHDR chunk first");
        return read;
    }
    const auto crc = static_cast<std::uint32_t>(crc32(crc32(0L, Z_NULL, 0), chunk + 4, 17));
    if (crc != big_endian_32(chunk + 21)) {
        read.error = damaged("the IHDR checksum is wrong");
        return read;
    }
    PngHeader& header = read.header;
    header.width = big_endian_32(chunk + 8);
    header.height = big_endian_32(chunk + 12);
    header.bit_depth = chunk[16];
    header.colour_type = chunk[17];
    const std::uint32_t largest = 0x7FFFFFFF;  // PNG sizes are positive 31-bit numbers
    if (header.width == 0 || header.height == 0 || header.width > largest ||
        header.height > largest)
        read.error = damaged("a size of " + std::to_string(header.width) + " x " +
                             std::to_string(header.height));
    else if (!allowed_depth(header.colour_type, header.bit_depth))
        read.error = damaged("bit depth " + std::to_string(header.bit_depth) +
                             " with colour type " + std::to_string(header.colour_type));
    else if (chunk[18] != 0 || chunk[19] != 0 || chunk[20] > 1)
        read.error = damaged("an unknown compression, filter or interlace method");
    return read;
}

int png_channels(int colour_type)
{
    switch (colour_type) {
    case 0: return 1;
    case 2: return 3;
    case 3: return 1;
    case 4: return 2;
    case 6: return 4;
    default: return 0;
    }
}

std::string depth_png_header_problem(const PngHeader& header)
{
    if (header.bit_depth != 16 || header.colour_type != 0) {
        const int channels = png_channels(header.colour_type);
        const std::string what = header.colour_type == 3 ? std::string("palette colours")
                                 : channels == 1         ? std::string("1 channel")
                                                         : std::to_string(channels) + " channels";
        return "not a 16-bit single-channel PNG (" + std::to_string(header.bit_depth) + "-bit, " +
               what + ")";
    }
    if (header.width != static_cast<std::uint32_t>(depth_camera.width) ||
        header.height != static_cast<std::uint32_t>(depth_camera.height))
        return "not 640 x 480 (" + std::to_string(header.width) + " x " +
               std::to_string(header.height) + ")";
    return {};
}

DepthPngRead read_depth_png(const std::string& path)
{
    return read_depth_png(path, PngDecoder::libpng);
}

DepthPngRead read_depth_png(const std::string& path, PngDecoder decoder)
{
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) return {{}, missing_file_text(path, errno)};
    if (!S_ISREG(status.st_mode)) return {{}, "not a regular file (" + file_kind(status.st_mode) + ")"};
    // O_NONBLOCK: should the path have become a pipe since the stat, opening it must not wait
    // for a writer. It changes nothing for a regular file.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return {{}, "cannot be read (" + system_text(errno) + ")"};
    const FileCloser closer{fd};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode))
        return {{}, "not a regular file (" + file_kind(status.st_mode) + ")"};

    std::array<unsigned char, png_header_size> head{};
    const long got = read_up_to(fd, head.data(), head.size());
    if (got < 0) return {{}, "cannot be read (" + system_text(errno) + ")"};
    const PngHeaderRead header = parse_png_header(head.data(), static_cast<std::size_t>(got));
    if (!header.error.empty()) return {{}, header.error};
    const std::string problem = depth_png_header_problem(header.header);
    if (!problem.empty()) return {{}, problem};
    if (::lseek(fd, 0, SEEK_SET) != 0) return {{}, "cannot be read (" + system_text(errno) + ")"};

    cv::Mat depth(depth_camera.height, depth_camera.width, CV_16UC1);
    if (decoder == PngDecoder::libspng) {
        const int error = decode_depth_rows_spng(fd, depth.data, depth.step[0]);
        if (error != 0) return {{}, damaged(spng_error_text(error))};
        return {depth, {}};
    }
    DecodeState state{fd, {}};
    if (!decode_depth_rows(state, depth.data, depth.step[0])) return {{}, damaged(state.message)};
    return {depth, {}};
}

std::vector<std::string> depth_png_files(const std::string& folder, std::error_code& error)
{
    namespace fs = std::filesystem;
    error.clear();
    std::vector<std::string> names;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        std::error_code type_error;  // a broken or looping link is no folder: it stays listed
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".png") == 0 &&
            !it->is_directory(type_error))
            names.push_back(name);
    }
    if (error) return {};
    std::sort(names.begin(), names.end());
    std::vector<std::string> paths;
    paths.reserve(names.size());
    for (const std::string& name : names) paths.push_back((fs::path(folder) / name).string());
    return paths;
}

}  // namespace sim
