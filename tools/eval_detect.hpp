// The pallet detector against the truth: each detected pallet matched to a true face, the pairs of
// every frame of a scene set, and their statistics per bin.
//
// Matching: a detection and a pallet match when the detection's centre lies within
// MatchRule::centre_mm of the centre of a face of that pallet the camera sees and its yaw within
// MatchRule::yaw_deg of that face's; pairs are taken nearest first (by the centre distance), each
// detection and each pallet at most once.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "analysis/detector/detect_pallets.hpp"
#include "sim/render.hpp"
#include "sim/sensor_presets.hpp"
#include "tools/eval_detect_scenes.hpp"

struct MatchRule {
    double centre_mm = 100.0;
    double yaw_deg = 10.0;
};

// One pair of the matching: the detection, the pallet (its index in the truth) and which of the
// pallet's seen faces it matched.
struct FaceMatch {
    std::size_t detection = 0;
    std::size_t pallet = 0;
    std::size_t face = 0;
    double centre_distance_mm = NAN;
    double yaw_error_deg = NAN;  // detection minus face, wrapped to (-180, 180]
};

// The matches of the detections to the pallets' seen faces (pallets[k] holds pallet k's faces),
// nearest first, one to one. Ties keep the lower detection, then pallet, then face.
std::vector<FaceMatch> match_detections(const std::vector<DockPose>& detections,
                                        const std::vector<std::vector<sim::FaceTruth>>& pallets,
                                        const MatchRule& rule = {});

// How much of a face the image holds: all of it, its middle but not all four corners, or not
// even its middle.
enum class FaceView { in_view, cut_off, out_of_view };
const char* face_view_name(FaceView view);
FaceView face_view(const sim::FaceTruth& face, const Eigen::Vector3d& floor_normal);

// One row of the results: a matched pair, a pallet no detection matched (detection -1) or a
// detection that matched no pallet (pallet -1: a false pallet).
struct DetectPair {
    int pallet = -1;
    int face = -1;                 // of the pallet's seen faces
    int detection = -1;
    bool counted = true;           // a pallet that counts for recall (see DetectScene::counted)
    FaceView view = FaceView::in_view;  // of the pallet's most squarely seen face
    std::string model;             // the pallet's model; empty for a false pallet
    std::string true_type;         // the face's type; empty for a false pallet or a face of no type
    std::string reported_type;     // the type, "unknown_type", or empty when missed
    double distance_mm = NAN;      // the face's middle ahead of the camera (floor frame; of the
                                   // detection for a false pallet)
    double yaw_deg = NAN;          // the face's yaw (the detection's for a false pallet)
    Eigen::Vector3d true_centre = Eigen::Vector3d::Constant(NAN);
    Eigen::Vector3d centre = Eigen::Vector3d::Constant(NAN);        // detected
    Eigen::Vector3d centre_error = Eigen::Vector3d::Constant(NAN);  // detected minus true, camera frame
    double detected_yaw_deg = NAN;
    double yaw_error_deg = NAN;
    double true_height_mm = NAN;
    double height_error_mm = NAN;  // detected face height minus the true one
    std::size_t true_openings = 0;
    std::size_t pockets = 0;
    double opening_error_mm = NAN; // median over the pockets of the distance to the nearest opening
    double confidence = NAN;
};

// What one frame gave: its scene, the sensor and every pair.
struct DetectFrame {
    std::size_t scene = 0;         // its number in the set
    DetectGroup group = DetectGroup::lone;
    std::string variant;
    std::uint64_t seed = 0;
    double noise_level = 0.0;
    sim::Mount mount;
    std::size_t detections = 0;
    std::vector<DetectPair> pairs;  // pallets in scene order, then the false pallets
};

// Renders the scene filmed with the preset, detects with the types and pairs the result.
DetectFrame evaluate_detect_scene(const DetectScene& scene, std::size_t number, const sim::SensorPreset& preset,
                                  const std::vector<PalletType>& types, DetectorWorkspace& workspace);

// The pairs of a frame from its truth and detection (no rendering).
std::vector<DetectPair> pair_frame(const sim::Truth& truth, const std::vector<bool>& counted,
                                   const Detection& detection, const MatchRule& rule = {});

// Every scene on `threads` workers; frames in scene order, whatever the thread count.
std::vector<DetectFrame> run_detect_set(const std::vector<DetectScene>& scenes, const sim::SensorPreset& preset,
                                        const std::vector<PalletType>& types, int threads,
                                        const std::function<void(std::size_t, std::size_t)>& progress);

// The figures of a bin. Recall counts counted pallets; errors cover the matched counted pallets.
// Frames (and so the false pallets per 1,000 frames) are known only for bins of whole frames.
struct DetectBin {
    std::string key;
    std::size_t frames = 0;
    std::size_t pallet_free_frames = 0;  // frames without a pallet in the scene
    std::size_t faces_in_view = 0;
    std::size_t found_in_view = 0;
    std::size_t faces_cut_off = 0;
    std::size_t found_cut_off = 0;
    std::size_t found = 0;               // matched counted pallets, in view or cut off
    std::size_t type_right = 0;          // of those, reported with the face's type
    std::size_t false_pallets = 0;
    std::size_t false_in_pallet_free = 0;
    double centre_p50[3] = {NAN, NAN, NAN};  // |error| per camera axis x, y, z
    double centre_p95[3] = {NAN, NAN, NAN};
    double yaw_p50 = NAN;
    double yaw_p95 = NAN;
    double opening_p50 = NAN;
    double height_p50 = NAN;             // |face height error|
    double height_p95 = NAN;
};

// The bin of these pairs; `frames` the frames of a bin of whole frames (null: a bin of pairs).
DetectBin summarise_pairs(const std::string& key, const std::vector<const DetectPair*>& pairs,
                          const std::vector<const DetectFrame*>* frames);

// The whole run as one bin.
DetectBin summarise_frames(const std::string& key, const std::vector<DetectFrame>& frames);

// Bins by a key of the pair (type, distance, yaw) or of the frame (group, camera height), in key
// order; a pair key that is empty leaves the pair out.
std::vector<DetectBin> bins_of_pairs(const std::vector<DetectFrame>& frames,
                                     const std::function<std::string(const DetectPair&)>& key);
std::vector<DetectBin> bins_of_frames(const std::vector<DetectFrame>& frames,
                                      const std::function<std::string(const DetectFrame&)>& key);

// The bins' keys: "0.6-1 m", "1-2 m", ... of the distance; "0-15", "15-30", "30-45" of |yaw|;
// "60-100 mm", "100-200 mm", ... of the camera height.
std::string distance_bin(double distance_mm);
std::string yaw_bin(double yaw_deg);
std::string height_bin(double height_mm);

// Reported type by true type over the matched counted pallets, plus "missed".
std::map<std::string, std::map<std::string, std::size_t>> type_confusion(const std::vector<DetectFrame>& frames);
