// A second measurement of the pallet, for docking: the floor fitted robustly, the front face as a
// line in the floor plane, its yaw, edges, centre and fork pockets, a verdict and a confidence.
// It reads the depth image and the fixed analysis's face contour and never changes the report.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include <Eigen/Core>
#include <opencv2/core.hpp>

#include "analysis/frame_analysis.hpp"

// Frames (mm). Camera frame: x right, y down, z along the optical axis (depth_to_point). Floor
// frame, from the fitted floor: origin on the floor straight below the camera, Z up along the
// floor normal, Y forward (the optical axis laid onto the floor), X = Y x Z to the right.
// A point that is not measured holds NaN in every component.

// The floor plane: a camera point p lies at height normal . p + camera_height_mm above it.
struct DockFloor {
    bool found = false;                    // a plane with enough support and a plausible mount
    Eigen::Vector3d normal = Eigen::Vector3d::Constant(NAN);  // unit, camera frame, pointing up
    double camera_height_mm = NAN;         // the camera's centre above the floor
    double camera_tilt_deg = NAN;          // optical axis above the floor plane, > 0 looks up
    double camera_roll_deg = NAN;          // > 0: the camera turned clockwise, seen from behind
    double residual_mm = NAN;              // RMS distance of the inliers from the plane
    std::size_t inliers = 0;               // floor candidates within 10 mm of it (measured pixels of
                                           // rows 300..479, every 8th row and 10th column)
};

// One fork opening between two blocks of the face.
struct DockPocket {
    double offset_mm = NAN;                // its middle along the face from the face centre, > 0 right
    double width_mm = NAN;                 // along the face
    Eigen::Vector3d centre_camera = Eigen::Vector3d::Constant(NAN);  // half the opening's height up
    Eigen::Vector3d centre_floor = Eigen::Vector3d::Constant(NAN);
};

enum class DockVerdict { no_pallet, pallet };

// Why the verdict is no_pallet: the first check that failed, in this order.
enum class DockReason {
    none,             // the verdict is pallet
    no_floor,         // no floor plane holds
    no_seed,          // no face contour, or too few of its pixels stand at pallet heights
    no_face,          // no vertical plane with enough support near the seed
    face_tilted,      // the face leans more than 5 degrees from the vertical
    face_cut_off,     // both ends at the image border, or one and no pair of pockets to centre on
    wrong_width,      // neither 1200 nor 800 mm within 80 mm (with one end seen: twice its
                      // distance from the centre)
    wrong_pockets,    // not exactly two openings between blocks
};

struct DockPose {
    DockFloor floor;

    // The face: a vertical plane, fitted as the line where it meets the floor.
    bool face_found = false;
    std::size_t face_points = 0;           // points of the search region at 25..130 mm height
    std::size_t face_inliers = 0;          // of those, on the face line
    double face_residual_mm = NAN;         // robust spread of the inliers about the line
    double face_tilt_deg = NAN;            // lean from the vertical, > 0 the top farther away
    double yaw_deg = NAN;                  // about the floor normal; 0 square on, > 0 the right
                                           // end farther away (counter-clockwise from above)
    double face_distance_mm = NAN;         // from the floor point below the camera to the face
                                           // line, perpendicular, in the floor plane
    Eigen::Vector3d face_normal_camera = Eigen::Vector3d::Constant(NAN);  // unit, towards the camera

    // Extent along the face line, at the face centre's height. An end at the image border is not
    // measured (NaN, and so is the width); the centre is then the middle between the two pockets.
    Eigen::Vector3d left_edge_camera = Eigen::Vector3d::Constant(NAN);
    Eigen::Vector3d left_edge_floor = Eigen::Vector3d::Constant(NAN);
    Eigen::Vector3d right_edge_camera = Eigen::Vector3d::Constant(NAN);
    Eigen::Vector3d right_edge_floor = Eigen::Vector3d::Constant(NAN);
    double width_mm = NAN;
    double face_height_mm = NAN;           // top of the face above the floor
    // Middle of the width, half the face height above the floor.
    Eigen::Vector3d centre_camera = Eigen::Vector3d::Constant(NAN);
    Eigen::Vector3d centre_floor = Eigen::Vector3d::Constant(NAN);  // X lateral, Y forward, Z height

    std::vector<DockPocket> pockets;       // left to right; empty without a face

    DockVerdict verdict = DockVerdict::no_pallet;
    DockReason reason = DockReason::no_floor;
    // 0 for no_pallet; for a pallet in (0, 1]: 1 / (1 + u / 5 mm), u the standard error of the
    // centre along the face from the spread of its rows' estimates, times 1 / (1 + (e / s)^2) for
    // the width's miss of 1200 or 800 mm (s = 30 mm), the pockets' largest miss of their place and
    // width (30 mm) and the face's lean (2 degrees). A higher confidence means smaller errors.
    double confidence = 0.0;
};

// A measured pixel at pallet heights in the floor frame (mm): what the face is fitted to.
struct DockPoint {
    float x;  // lateral
    float y;  // forward
    float h;  // above the floor
    std::int16_t u;
    std::int16_t v;
};

// The buffers that measure_dock_pose fills. A caller that keeps one from frame to frame lets the
// measurement run without allocating once the buffers have grown; what they hold between calls
// means nothing, and the result never depends on it.
struct DockScratch {
    std::vector<Eigen::Vector3d> floor_points;  // floor candidates, camera frame
    std::vector<std::uint8_t> contour_mask;     // the filled face contour
    std::vector<double> seed_x, seed_y;         // the seed, floor frame
    std::vector<DockPoint> band;                // the search window's points at 25..130 mm
    std::vector<DockPoint> upper;               // and at 130..170 mm
    std::vector<DockPoint> near;                // band points along the sampled face line
    std::vector<std::uint32_t> inliers;         // into band, in its order
    std::vector<double> along;                  // each inlier's place along the face line
    std::vector<std::uint32_t> row_index;       // the inliers within the extent, row by row,
    std::vector<std::uint32_t> row_start;       // and where each row starts among them
    std::vector<double> values;                 // for medians and quantiles
};

// Measures the pallet in a 480 x 640 CV_16UC1 depth image (any other size or type throws
// cv::Exception). Assumes a camera less than 2 m above a flat floor, looking roughly level (the
// floor normal within 30 degrees of the camera's up), and a pallet standing on that floor. The
// search starts from analysis.pose.face_contour (set for no_pallet and pallet_found frames) and
// reaches beyond it: a no_contour frame gives the floor only. Pixels without depth never enter.
// The result is a function of the depth image, the contour and the seed alone, the same on every
// processor; the seed picks the random samples of the robust fits.
DockPose measure_dock_pose(const cv::Mat& depth, const FrameAnalysis& analysis,
                           DockScratch& scratch, std::uint64_t seed = 1);

// The same with scratch buffers of its own.
DockPose measure_dock_pose(const cv::Mat& depth, const FrameAnalysis& analysis,
                           std::uint64_t seed = 1);

// "pallet" or "no_pallet".
const char* dock_verdict_name(DockVerdict verdict);

// "none", "no_floor", "no_seed", ... as the enumerators are named.
const char* dock_reason_name(DockReason reason);
