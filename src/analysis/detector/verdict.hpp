// Step 8: the verdict on a measured face, and for a pallet its centre, ends, pockets, type and
// confidence.
#pragma once

#include <vector>

#include "analysis/detector/detector_params.hpp"
#include "analysis/detector/face_extent.hpp"
#include "analysis/detector/floor_frame.hpp"
#include "analysis/detector/openings.hpp"
#include "analysis/dock_pose.hpp"
#include "common/pallet_types.hpp"

// Everything measured of one face, heights above its local floor (floor_height above the fitted
// floor).
struct MeasuredFaceParts {
    const std::vector<FacePoint>& band;
    const std::vector<FacePoint>& upper;
    const FaceFit& fit;
    const FaceEnds& ends;
    const std::vector<Opening>& openings;
    const std::vector<double>& top_heights;  // top_heights
    double lean_deg;
    double lean_error_deg;  // its standard error
    double bottom_mm;      // how low the face reaches
    double floor_height;
};

// The checks in order: the lean (more than max_lean_deg beyond three standard errors), the contact with the floor (floor_contact_mm),
// then a type (match_type); a face that fits none but shows fork openings on the floor is an
// unknown type (the unknown_* parameters). Fills the pose's verdict, reason, type, ends, width,
// height, centre, pockets and confidence (see DockPose).
struct VerdictScratch {
    std::vector<int> bins;        // of the top test
    std::vector<double> values;   // of the centre's uncertainty
};
void judge_face(const MeasuredFaceParts& face, const std::vector<PalletType>& types, const DetectorParams& params,
                const FloorFrame& f, VerdictScratch& scratch, DockPose& pose);
