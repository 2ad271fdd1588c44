#include "common/camera_mount.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>
#include <sys/stat.h>

#include "common/portable_math.hpp"

namespace {

using json = nlohmann::json;

// A refusal: the key where the file went wrong and why.
struct MountError {
    std::string where;
    std::string why;
};

double number_at(const json& object, const char* key, double lo, double hi)
{
    if (!object.contains(key)) throw MountError{key, "is missing"};
    const json& value = object.at(key);
    if (!value.is_number()) throw MountError{key, "must be a number"};
    const double x = value.get<double>();
    if (!(x >= lo && x <= hi)) {
        std::ostringstream range;
        range << "must lie between " << lo << " and " << hi;
        throw MountError{key, range.str()};
    }
    return x;
}

CameraMount mount_of(const json& file)
{
    static const char* const keys[] = {"x_mm", "y_mm", "z_mm", "roll_deg", "pitch_deg", "yaw_deg"};
    if (!file.is_object()) throw MountError{"", "must be an object"};
    for (const auto& item : file.items()) {
        if (std::find_if(std::begin(keys), std::end(keys),
                         [&](const char* key) { return item.key() == key; }) == std::end(keys)) {
            throw MountError{item.key(), "unknown key"};
        }
    }
    const double reach_mm = 20000.0;  // a camera anywhere on a vehicle
    CameraMount mount;
    mount.x_mm = number_at(file, "x_mm", -reach_mm, reach_mm);
    mount.y_mm = number_at(file, "y_mm", -reach_mm, reach_mm);
    mount.z_mm = number_at(file, "z_mm", -reach_mm, reach_mm);
    mount.roll_deg = number_at(file, "roll_deg", -180.0, 180.0);
    mount.pitch_deg = number_at(file, "pitch_deg", -90.0, 90.0);
    mount.yaw_deg = number_at(file, "yaw_deg", -180.0, 180.0);
    return mount;
}

// Rounded to a multiple of 1 / per_unit, +0 for zero.
double rounded(double value, double per_unit)
{
    return std::round(value * per_unit) / per_unit + 0.0;
}

}  // namespace

std::string camera_mount_problem(const CameraMount& mount, const CameraView& view)
{
    if (!(mount.z_mm > 0.0)) {
        std::ostringstream why;
        why << "z_mm: " << mount.z_mm
            << " puts the camera at or below the floor (the vehicle frame's z = 0 is the floor)";
        return why.str();
    }
    // A ray (a, b, 1) of the optical frame is (1, -a, -b) in the camera's body axes; its upward
    // component in the vehicle frame is row z of Ry(pitch) Rx(roll) times that, and a linear
    // function of (a, b) is lowest at a corner of the view.
    const SinCos p = portable_sincos_deg(mount.pitch_deg);
    const SinCos r = portable_sincos_deg(mount.roll_deg);
    double lowest = INFINITY;
    double lowest_length = 1.0;
    for (const double a : {view.x_min, view.x_max}) {
        for (const double b : {view.y_min, view.y_max}) {
            const double up = -p.sin - a * (p.cos * r.sin) - b * (p.cos * r.cos);
            if (up < lowest) {
                lowest = up;
                lowest_length = std::sqrt(1.0 + a * a + b * b);
            }
        }
    }
    if (lowest < 0.0) return {};
    const double above = lowest / lowest_length;  // sine of the lowest ray's elevation
    std::ostringstream why;
    why.precision(3);
    why << "pitch_deg: with pitch " << mount.pitch_deg << " and roll " << mount.roll_deg
        << " degrees no pixel sees the floor (the lowest ray points "
        << degrees(portable_atan2(above, std::sqrt(std::max(0.0, 1.0 - above * above))))
        << " degrees above the horizon; a camera looking up has pitch < 0)";
    return why.str();
}

std::optional<CameraMount> parse_camera_mount(const std::string& text, const CameraView& view,
                                              std::string& error)
{
    json file;
    try {
        file = json::parse(text);
    } catch (const json::parse_error& e) {
        error = "not JSON (at byte " + std::to_string(e.byte) + ")";
        return std::nullopt;
    }
    CameraMount mount;
    try {
        mount = mount_of(file);
    } catch (const MountError& e) {
        error = e.where.empty() ? e.why : e.where + ": " + e.why;
        return std::nullopt;
    }
    error = camera_mount_problem(mount, view);
    if (!error.empty()) return std::nullopt;
    return mount;
}

std::optional<CameraMount> load_camera_mount(const std::string& path, const CameraView& view,
                                             std::string& error)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        error = path + ": cannot be read (" + std::strerror(errno) + ")";
        return std::nullopt;
    }
    if (!S_ISREG(info.st_mode)) {  // a pipe would block the start, a folder reads as nothing
        error = path + ": not a regular file";
        return std::nullopt;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": cannot be read (" + std::strerror(errno) + ")";
        return std::nullopt;
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) {
        error = path + ": cannot be read";
        return std::nullopt;
    }
    std::optional<CameraMount> mount = parse_camera_mount(text.str(), view, error);
    if (!mount) error = path + ": " + error;
    return mount;
}

std::string camera_mount_text(const CameraMount& mount)
{
    // An ordered object keeps the keys in the documented order.
    nlohmann::ordered_json file;
    file["x_mm"] = rounded(mount.x_mm, 100.0);
    file["y_mm"] = rounded(mount.y_mm, 100.0);
    file["z_mm"] = rounded(mount.z_mm, 100.0);
    file["roll_deg"] = rounded(mount.roll_deg, 1000.0);
    file["pitch_deg"] = rounded(mount.pitch_deg, 1000.0);
    file["yaw_deg"] = rounded(mount.yaw_deg, 1000.0);
    return file.dump() + "\n";
}
