#include "tools/calibrate_output.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// "z_mm        199.96  spread 0.12, standard error 0.022 (30 frames)"
void write_value(std::ostringstream& out, const char* key, const Estimate& e, std::size_t frames, int decimals)
{
    char line[160];
    std::snprintf(line, sizeof line, "  %-10s %10.*f  spread %.*f, standard error %.*f (%zu frames)\n", key,
                  decimals, e.mean + 0.0, decimals + 1, e.spread, decimals + 1, e.standard_error, frames);
    out << line;
}

void write_given(std::ostringstream& out, const char* key, double value, int decimals)
{
    char line[120];
    std::snprintf(line, sizeof line, "  %-10s %10.*f  given, not measured\n", key, decimals, value + 0.0);
    out << line;
}

std::string errno_text()
{
    return std::strerror(errno);
}

}  // namespace

std::string calibration_report(const CalibrationFrames& frames, const MountCalibration& c, bool with_target)
{
    std::ostringstream out;
    out << "frames: " << frames.frames << " read";
    if (frames.unreadable > 0) out << " (" << frames.unreadable << " unreadable, skipped)";
    out << "; floor found in " << frames.floors.size() << ", not in " << c.frames_without_floor << "; "
        << c.floor.outliers << " left out as outliers, " << c.floor.kept << " used\n";
    if (c.floor.kept > 0) {
        write_value(out, "z_mm", c.floor.values[0], c.floor.kept, 2);
        write_value(out, "pitch_deg", c.floor.values[1], c.floor.kept, 3);
        write_value(out, "roll_deg", c.floor.values[2], c.floor.kept, 3);
    }
    if (with_target) {
        out << "pallet: found in " << frames.pallets.size() << " frames with the floor, not in "
            << c.frames_without_pallet << "; " << c.pallet.outliers << " left out as outliers, " << c.pallet.kept
            << " used\n";
        if (c.pallet.kept > 0) {
            write_value(out, "x_mm", c.pallet.values[0], c.pallet.kept, 2);
            write_value(out, "y_mm", c.pallet.values[1], c.pallet.kept, 2);
            write_value(out, "yaw_deg", c.pallet.values[2], c.pallet.kept, 3);
        }
    } else {
        write_given(out, "x_mm", c.mount.x_mm, 2);
        write_given(out, "y_mm", c.mount.y_mm, 2);
        write_given(out, "yaw_deg", c.mount.yaw_deg, 3);
    }
    return out.str();
}

std::string calibration_failure(const CalibrationFrames& frames, const MountCalibration& c)
{
    std::ostringstream out;
    switch (c.status) {
    case CalibrationStatus::calibrated: return {};
    case CalibrationStatus::no_floor:
        out << "no mount written: " << c.floor.kept << " of " << frames.frames
            << " frames show a floor that fits (at least " << calibration_min_frames
            << " are needed: frames of open floor ahead of the camera)";
        break;
    case CalibrationStatus::no_pallet:
        out << "no mount written: " << c.pallet.kept << " of " << frames.frames
            << " frames show the placed pallet (at least " << calibration_min_frames
            << " are needed: a pallet square ahead, its face in view)";
        break;
    }
    return out.str();
}

std::string write_file_atomically(const std::string& path, const std::string& text)
{
    const std::filesystem::path target(path);
    const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
    std::string temporary = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
    std::vector<char> name(temporary.begin(), temporary.end());
    name.push_back('\0');
    const int fd = ::mkstemp(name.data());
    if (fd < 0) return path + ": cannot write a file beside it: " + errno_text();
    temporary = name.data();
    std::string error;
    std::size_t done = 0;
    while (done < text.size() && error.empty()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n == 0) {
            error = "nothing could be written";
        } else if (errno != EINTR) {
            error = errno_text();
        }
    }
    if (error.empty() && ::fchmod(fd, 0644) != 0) error = errno_text();
    if (error.empty() && ::fsync(fd) != 0) error = errno_text();
    if (::close(fd) != 0 && error.empty()) error = errno_text();
    if (error.empty() && std::rename(temporary.c_str(), path.c_str()) != 0) error = errno_text();
    if (!error.empty()) {
        ::unlink(temporary.c_str());
        return path + ": cannot write the mount file: " + error;
    }
    return {};
}
