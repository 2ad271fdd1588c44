#include "sim/sequences.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "common/random.hpp"

namespace sim {

namespace {

constexpr double pi = 3.14159265358979323846;

double radians(double deg)
{
    return deg * (pi / 180.0);
}

double wrapped_deg(double deg)
{
    return deg - 360.0 * std::ceil((deg - 180.0) / 360.0);
}

Eigen::Vector2d turned(const Eigen::Vector2d& v, double deg)
{
    const double c = std::cos(radians(deg));
    const double s = std::sin(radians(deg));
    return {c * v.x() - s * v.y(), s * v.x() + c * v.y()};
}

// The camera's place in the world: its position on the floor and its heading.
struct CameraOnFloor {
    Eigen::Vector2d position;
    double heading_deg;
};

CameraOnFloor camera_on_floor(const CameraMount& mount, const VehiclePose& vehicle)
{
    const Eigen::Vector2d offset = turned({mount.x_mm, mount.y_mm}, vehicle.heading_deg);
    return {Eigen::Vector2d(vehicle.x_mm, vehicle.y_mm) + offset, vehicle.heading_deg + mount.yaw_deg};
}

// A world point on the floor in the renderer's floor frame of that camera: X right, Y forward.
Eigen::Vector2d floor_frame_of(const CameraOnFloor& camera, const Eigen::Vector2d& world)
{
    const Eigen::Vector2d ahead = turned(world - camera.position, -camera.heading_deg);  // forward, left
    return {-ahead.y(), ahead.x()};
}

bool in_image(const Eigen::Vector3d& camera_point)
{
    if (!(camera_point.z() > 0.0)) return false;
    const cv::Point2d pixel = project(camera_point);
    return pixel.x >= 0.0 && pixel.x <= depth_camera.width - 1.0 && pixel.y >= 0.0 &&
           pixel.y <= depth_camera.height - 1.0;
}

// The timeline of an approach: driving until the swing's stop, the swing, driving on. The vehicle
// slows evenly to the stop and speeds up evenly after it, over ramp_s each.
struct Timeline {
    double drive_before_s;  // until the stop (the whole approach without a swing)
    double swing_s;
    double total_s;
    double ramp_s;
};

Timeline timeline_of(const ApproachSequence& approach)
{
    const double travel = approach.start_distance_mm - approach.end_distance_mm;
    if (approach.swing_deg == 0.0) return {travel / approach.speed_mm_s, 0.0, travel / approach.speed_mm_s, 0.0};
    const double stop_deceleration_mm_s2 = 1000.0;
    const double ramp = approach.speed_mm_s / stop_deceleration_mm_s2;  // each ramp covers half its time's way
    const double before = (approach.start_distance_mm - approach.swing_at_mm) / approach.speed_mm_s + ramp / 2.0;
    const double peak_rate_deg_s = 25.0;  // A sin^2(pi t / T) turns at most A pi / T
    const double swing = std::abs(approach.swing_deg) * pi / peak_rate_deg_s;
    const double after = (approach.swing_at_mm - approach.end_distance_mm) / approach.speed_mm_s + ramp / 2.0;
    return {before, swing, before + swing + after, ramp};
}

// The time the way driven by t would take at full speed: the ramps into and out of the swing's
// stop cover half the way their time would.
double full_speed_time(const Timeline& timeline, double t)
{
    const double r = timeline.ramp_s;
    const double before = std::min(t, timeline.drive_before_s);
    const double slowing = std::max(0.0, before - (timeline.drive_before_s - r));
    const double after = std::max(0.0, t - timeline.drive_before_s - timeline.swing_s);
    const double starting = std::min(after, r);
    if (r <= 0.0) return before + after;
    return before - slowing * slowing / (2.0 * r) + after - starting + starting * starting / (2.0 * r);
}

// 3u^2 - 2u^3 and its slope: from 0 to 1 with level ends.
double smooth_step(double u)
{
    return u * u * (3.0 - 2.0 * u);
}

double smooth_step_slope(double u)
{
    return 6.0 * u * (1.0 - u);
}

}  // namespace

const std::vector<ApproachSequence>& approach_sequences()
{
    static const std::vector<ApproachSequence> sequences = [] {
        std::vector<ApproachSequence> list;
        ApproachSequence straight;
        straight.name = "straight";
        straight.speed_mm_s = 300.0;
        list.push_back(straight);

        ApproachSequence curve;
        curve.name = "curve";
        curve.speed_mm_s = 1000.0;
        curve.start_lateral_mm = 800.0;
        curve.pallets.front().yaw_deg = 8.0;
        curve.seed = 2;
        list.push_back(curve);

        ApproachSequence two;
        two.name = "two_pallets";
        two.speed_mm_s = 1500.0;
        two.start_lateral_mm = -600.0;
        two.mount = {-300.0, 150.0, 200.0, 0.0, -6.0, -2.0};
        two.pallets.push_back({0.0, -1400.0, 0.0, "plastic_9leg_1200x800"});
        two.vibration_deg = 0.2;
        two.seed = 3;
        list.push_back(two);

        ApproachSequence swing;
        swing.name = "swing";
        swing.speed_mm_s = 600.0;
        swing.swing_deg = 70.0;
        swing.swing_at_mm = 2200.0;
        swing.seed = 4;
        list.push_back(swing);
        return list;
    }();
    return sequences;
}

const ApproachSequence& approach_sequence(const std::string& name)
{
    for (const ApproachSequence& approach : approach_sequences()) {
        if (approach.name == name) return approach;
    }
    throw std::invalid_argument("unknown approach sequence: " + name);
}

std::uint64_t sequence_frame_count(const ApproachSequence& approach)
{
    const double frames = std::floor(timeline_of(approach).total_s * approach.frame_rate + 1e-9);
    return static_cast<std::uint64_t>(std::max(frames, 0.0)) + 1;
}

Mount renderer_mount(const CameraMount& mount, double extra_pitch_deg)
{
    return Mount{mount.z_mm, -(mount.pitch_deg + extra_pitch_deg), mount.roll_deg};
}

PalletPlacement placement_for(const CameraMount& mount, const VehiclePose& vehicle, const WorldPallet& pallet)
{
    const CameraOnFloor camera = camera_on_floor(mount, vehicle);
    const Eigen::Vector2d at = floor_frame_of(camera, {pallet.x_mm, pallet.y_mm});
    return PalletPlacement{at.y(), at.x(), wrapped_deg(pallet.yaw_deg - camera.heading_deg), pallet.model};
}

PalletInView pallet_in_view(const CameraMount& mount, const VehiclePose& vehicle, double extra_pitch_deg,
                            const WorldPallet& pallet)
{
    const PalletPlacement placement = placement_for(mount, vehicle, pallet);
    const PalletType& face = pallet_model_of(placement).front;
    const double half_height = face.height_mm / 2.0;
    PalletInView view;
    const Eigen::Vector2d in_vehicle =
        turned(Eigen::Vector2d(pallet.x_mm - vehicle.x_mm, pallet.y_mm - vehicle.y_mm), -vehicle.heading_deg);
    view.centre_vehicle = {in_vehicle.x(), in_vehicle.y(), half_height};
    view.yaw_vehicle_deg = wrapped_deg(pallet.yaw_deg - vehicle.heading_deg);
    view.centre_floor = pallet_to_floor(placement, {0.0, 0.0, half_height});
    view.yaw_floor_deg = placement.yaw_deg;

    const Mount camera = renderer_mount(mount, extra_pitch_deg);
    view.centre_in_view = in_image(floor_to_camera(camera, view.centre_floor));
    view.face_in_view = view.centre_in_view;
    for (const double along : {-face.width_mm / 2.0, face.width_mm / 2.0}) {
        for (const double up : {0.0, face.height_mm}) {
            view.face_in_view = view.face_in_view &&
                                in_image(floor_to_camera(camera, pallet_to_floor(placement, {along, 0.0, up})));
        }
    }
    return view;
}

SequenceFrame sequence_frame(const ApproachSequence& approach, std::uint64_t index)
{
    const Timeline timeline = timeline_of(approach);
    SequenceFrame frame;
    frame.index = index;
    frame.time_s = static_cast<double>(index) / approach.frame_rate;
    const double t = std::min(frame.time_s, timeline.total_s);

    const double travel = approach.start_distance_mm - approach.end_distance_mm;
    const double driving_s = full_speed_time(timeline, t);
    const double driven = std::min(travel, approach.speed_mm_s * driving_s);
    const double u = travel > 0.0 ? driven / travel : 1.0;
    const double distance = approach.start_distance_mm - driven;

    // Along the S-curve, heading along the path; the swing turns on the spot.
    const double lateral = approach.start_lateral_mm * (1.0 - smooth_step(u));
    const double slope = travel > 0.0 ? -approach.start_lateral_mm * smooth_step_slope(u) / travel : 0.0;
    double heading = std::atan(slope) * (180.0 / pi);
    const double in_swing = t - timeline.drive_before_s;
    if (timeline.swing_s > 0.0 && in_swing > 0.0 && in_swing < timeline.swing_s) {
        const double s = std::sin(pi * in_swing / timeline.swing_s);
        heading += approach.swing_deg * s * s;
    }
    // The target's face is at world x = 0: at heading 0 the camera stands `distance` before it.
    // The vehicle turns about its own origin.
    frame.vehicle = {-(distance + approach.mount.x_mm), lateral, heading};

    frame.vibration_deg =
        approach.vibration_deg * (0.7 * std::sin(2.0 * pi * 2.3 * frame.time_s) +
                              0.3 * std::sin(2.0 * pi * 5.1 * frame.time_s + 1.0));
    frame.scene.mount = renderer_mount(approach.mount, frame.vibration_deg);
    frame.scene.sensor = approach.sensor;
    for (const WorldPallet& pallet : approach.pallets) {
        frame.scene.pallets.push_back(placement_for(approach.mount, frame.vehicle, pallet));
        frame.pallets.push_back(pallet_in_view(approach.mount, frame.vehicle, frame.vibration_deg, pallet));
    }
    frame.seed = splitmix64_of(splitmix64_of(approach.seed) + index);
    return frame;
}

Scene calibration_floor_scene(const CameraMount& mount)
{
    return floor_scene(renderer_mount(mount));
}

Scene calibration_pallet_scene(const CameraMount& mount, double pallet_x_mm, double pallet_y_mm,
                               const std::string& model)
{
    Scene scene = floor_scene(renderer_mount(mount));
    scene.pallets.push_back(placement_for(mount, VehiclePose{}, WorldPallet{pallet_x_mm, pallet_y_mm, 0.0, model}));
    return scene;
}

}  // namespace sim
