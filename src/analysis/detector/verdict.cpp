#include "analysis/detector/verdict.hpp"

#include <algorithm>
#include <cmath>

#include "analysis/detector/robust_stats.hpp"
#include "analysis/detector/type_match.hpp"

namespace {

// 1 / (1 + (x / scale)^2): rational, no library exponential, the same bits on every processor.
double factor(double x, double scale)
{
    return 1.0 / (1.0 + (x / scale) * (x / scale));
}

// One standard error (mm) of the centre along the face: from the spread of the rows' estimates of
// the ends when both were seen, else from the openings' rows; a pixel's footprint divided by the
// square root of 12 at least.
double centre_uncertainty(const FaceEnds& ends, const std::vector<Opening>& openings, double pixel_mm,
                          std::vector<double>& scratch)
{
    const double quantisation = pixel_mm / std::sqrt(12.0);
    const auto standard_error = [&](const std::vector<double>& values) {
        const double spread =
            values.size() > 1 ? std::max(robust_spread(values, scratch), quantisation) : quantisation;
        return spread / std::sqrt(static_cast<double>(std::max<std::size_t>(values.size(), 1)));
    };
    if (std::isfinite(ends.left) && std::isfinite(ends.right)) {
        const double left = standard_error(ends.left_rows);
        const double right = standard_error(ends.right_rows);
        return 0.5 * std::sqrt(left * left + right * right);
    }
    double sum = 0.0;  // the mean of the openings' ends (and a seen end's)
    double count = 0.0;
    for (const Opening& o : openings) {
        sum += 2.0 * quantisation * quantisation / static_cast<double>(o.rows);
        count += 2.0;
    }
    for (const std::vector<double>* rows : {&ends.left_rows, &ends.right_rows}) {
        if (rows->empty()) continue;
        const double e = standard_error(*rows);
        sum += e * e;
        count += 1.0;
    }
    return count > 0.0 ? std::sqrt(sum) / count : quantisation;
}

// A face that matches no type, but stands on the floor with fork openings.
bool unknown_type(const MeasuredFaceParts& face, const DetectorParams& params)
{
    if (!(std::isfinite(face.ends.left) && std::isfinite(face.ends.right))) return false;
    const double width = face.ends.right - face.ends.left;
    if (!(width >= params.unknown_min_width_mm && width <= params.unknown_max_width_mm)) return false;
    std::size_t forks = 0;
    for (const Opening& o : face.openings) {
        const double w = o.hi - o.lo;
        forks += w >= params.unknown_min_opening_width_mm && w <= params.unknown_max_opening_width_mm &&
                 o.top >= params.unknown_min_opening_height_mm;
    }
    return forks >= params.unknown_min_openings;
}

void place(const MeasuredFaceParts& face, const FloorFrame& f, double middle, double centre_height, DockPose& pose)
{
    const Line& line = face.fit.line;
    const double z = centre_height + face.floor_height;
    pose.width_mm = face.ends.right - face.ends.left;
    pose.left_edge_floor = std::isfinite(face.ends.left) ? point_on_line(line, face.ends.left, z)
                                                         : Eigen::Vector3d::Constant(NAN);
    pose.right_edge_floor = std::isfinite(face.ends.right) ? point_on_line(line, face.ends.right, z)
                                                           : Eigen::Vector3d::Constant(NAN);
    pose.centre_floor = point_on_line(line, middle, z);
    pose.left_edge_camera = camera_of(f, pose.left_edge_floor);
    pose.right_edge_camera = camera_of(f, pose.right_edge_floor);
    pose.centre_camera = camera_of(f, pose.centre_floor);
}

// The pockets: every opening seen, its middle half way between its bottom (the type's, else the
// floor) and its measured top (else the type's); an opening of an unknown type without a top is
// left out.
void pockets(const MeasuredFaceParts& face, const FloorFrame& f, double middle, const TypeMatch* match, DockPose& pose)
{
    pose.pockets.clear();
    for (std::size_t j = 0; j < face.openings.size(); ++j) {
        const Opening& o = face.openings[j];
        double bottom = 0.0;
        double top = o.top;
        if (match != nullptr && match->opening_of[j] >= 0) {
            const FaceRect& r = match->type->openings[static_cast<std::size_t>(match->opening_of[j])];
            bottom = r.bottom_mm;
            if (!std::isfinite(top)) top = r.top_mm;
        }
        if (!std::isfinite(top)) continue;
        DockPocket pocket;
        pocket.offset_mm = (o.lo + o.hi) / 2.0 - middle;
        pocket.width_mm = o.hi - o.lo;
        pocket.centre_floor = point_on_line(face.fit.line, (o.lo + o.hi) / 2.0, (bottom + top) / 2.0 + face.floor_height);
        pocket.centre_camera = camera_of(f, pocket.centre_floor);
        pose.pockets.push_back(pocket);
    }
}

}  // namespace

void judge_face(const MeasuredFaceParts& face, const std::vector<PalletType>& types, const DetectorParams& params,
                const FloorFrame& f, VerdictScratch& scratch, DockPose& pose)
{
    pose.verdict = DockVerdict::no_pallet;
    if (!(std::abs(face.lean_deg) - 3.0 * face.lean_error_deg <= params.max_lean_deg)) {
        pose.reason = DockReason::face_tilted;
        return;
    }
    if (!(face.bottom_mm <= params.floor_contact_mm)) {
        pose.reason = DockReason::not_on_floor;
        return;
    }
    const MeasuredFace measured{face.ends.left, face.ends.right, face.fit.left, face.fit.right, &face.openings};
    DockReason failure = DockReason::none;
    const TypeMatch match = match_type(measured, face.top_heights, types, failure);
    const double pixel_mm = face.fit.line.c / camera_model.fx;  // a pixel's footprint at the face
    const double uncertainty = centre_uncertainty(face.ends, face.openings, pixel_mm, scratch.values);
    const double lean = factor(face.lean_deg, 2.0);
    if (match.type != nullptr) {
        const PalletType& type = *match.type;
        const double middle = matched_centre(measured, match);
        place(face, f, middle, type.height_mm / 2.0, pose);
        // A load flush with the face goes on above the deck: its top is then the type's.
        const bool load_flush = face_goes_on_above(face.upper, face.fit, type.height_mm + type.height_tolerance_mm, scratch.bins);
        pose.face_height_mm = load_flush ? type.height_mm : match.top;
        pockets(face, f, middle, &match, pose);
        pose.type = type.name;
        pose.verdict = DockVerdict::pallet;
        pose.reason = DockReason::none;
        pose.confidence = factor(match.width_miss, type.width_tolerance_mm) *
                          factor(match.opening_miss, type.opening_tolerance_mm) * lean / (1.0 + uncertainty / 5.0);
        return;
    }
    if (failure != DockReason::face_cut_off && unknown_type(face, params)) {
        const double top = face_top(face.top_heights, params.top_high_mm);
        const double middle = (face.ends.left + face.ends.right) / 2.0;
        place(face, f, middle, top / 2.0, pose);
        pose.face_height_mm = top;
        pockets(face, f, middle, nullptr, pose);
        pose.verdict = DockVerdict::unknown_type;
        pose.reason = DockReason::none;
        pose.confidence = 0.25 * lean / (1.0 + uncertainty / 5.0);
        if (pose.centre_camera.allFinite()) return;
        pose.verdict = DockVerdict::no_pallet;  // no top to centre on
        pose.confidence = 0.0;
    }
    pose.reason = failure;
    pose.width_mm = face.ends.right - face.ends.left;  // what a user tuning a type needs to see
}
