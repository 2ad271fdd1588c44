// The pallet detector: every pallet face standing on the floor in view, found from the depth image,
// the pallet types and the parameters alone, each measured and matched against the types.
//
// The recipe, one step per file of this folder: the floor (floor_fit), the candidate faces
// (face_scan), each candidate's points (face_points), its face line (face_line), its extent
// (face_extent), its openings (openings), its type (type_match), the verdict (verdict).
#pragma once

#include <cstddef>
#include <vector>

#include <opencv2/core.hpp>

#include "analysis/detector/detector_params.hpp"
#include "analysis/detector/face_line.hpp"
#include "analysis/detector/face_points.hpp"
#include "analysis/detector/face_scan.hpp"
#include "analysis/detector/openings.hpp"
#include "analysis/detector/verdict.hpp"
#include "analysis/dock_pose.hpp"
#include "common/pallet_types.hpp"

struct Detection {
    DockFloor floor;
    std::vector<DockPose> pallets;   // verdict pallet or unknown_type, nearest first (by the
                                     // centre's distance in the floor plane)
    bool explained = false;          // params.explain: rejected holds every other candidate
    std::vector<DockPose> rejected;  // its reason the first check that failed; without explain
                                     // only the one nearest the optical axis (for dock_of)
    std::size_t candidates = 0;      // measured
    DockReason reason = DockReason::no_floor;  // without pallets: why (see dock_of)
};

// The buffers the detector fills. A caller that keeps one from frame to frame, and its Detection
// too, lets the detector run without allocating once they have grown; what they hold between calls
// means nothing.
struct DetectorWorkspace {
    std::vector<Eigen::Vector3d> floor_points;
    ScanScratch scan;
    std::vector<FaceCandidate> candidates;
    std::vector<FacePoint> band, upper;
    FaceLineScratch line;
    FaceFit fit;
    FaceRows rows;
    FaceEnds ends;
    OpeningScratch opening_scratch;
    std::vector<Opening> openings;
    std::vector<Span> spans;
    std::vector<double> values, heights;
    VerdictScratch verdict;
    std::vector<DockPose> poses;               // the candidates' measurements
    std::vector<std::size_t> found, rejected;  // into poses
    std::vector<char> dropped;
    std::vector<DockPose> spare;               // poses a smaller result gave back, for a larger
};

// Finds the pallet faces in a 480 x 640 CV_16UC1 depth image (any other size or type throws
// cv::Exception): at most params.max_pallets. Two faces of one pallet give the one turned more
// squarely to the camera. Pixels without depth never enter. The result is a function of the depth
// image, the types and the parameters alone (params.seed picks the robust fits' samples), the same
// on every processor. Into `detection`, whose lists it reuses.
void detect_pallets(const cv::Mat& depth, const std::vector<PalletType>& types, const DetectorParams& params,
                    DetectorWorkspace& workspace, Detection& detection);

// The same, as a new result.
Detection detect_pallets(const cv::Mat& depth, const std::vector<PalletType>& types, const DetectorParams& params,
                         DetectorWorkspace& workspace);

// The same with the built-in types, the default parameters and buffers of its own.
Detection detect_pallets(const cv::Mat& depth);

// The pallet nearest the optical axis (the least angle off the forward axis, seen from above), or,
// without one, a no_pallet pose with the floor and the reason: no_floor, no_face (no candidate held
// a face), or the reason of the rejected candidate nearest the axis.
DockPose dock_of(const Detection& detection);

// The same into `dock`, whose lists it reuses.
void dock_of(const Detection& detection, DockPose& dock);
