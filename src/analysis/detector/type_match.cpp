#include "analysis/detector/type_match.hpp"

#include <algorithm>
#include <cmath>

namespace {

// An opening of the type as the camera sees it along the face: from its left end.
FaceRect seen_opening(const PalletType& type, std::size_t i, bool mirrored)
{
    const FaceRect& o = type.openings[i];
    if (!mirrored) return o;
    return {type.width_mm - o.right_mm, type.width_mm - o.left_mm, o.bottom_mm, o.top_mm};
}

bool symmetric(const PalletType& type)
{
    const std::size_t n = type.openings.size();
    for (std::size_t i = 0; i < n; ++i) {
        const FaceRect a = type.openings[i];
        const FaceRect b = seen_opening(type, n - 1 - i, true);
        if (std::abs(a.left_mm - b.left_mm) > 1e-6 || std::abs(a.right_mm - b.right_mm) > 1e-6 ||
            a.top_mm != b.top_mm) {
            return false;
        }
    }
    return true;
}

struct Trial {
    bool fits = false;
    DockReason failure = DockReason::wrong_pockets;
    TypeMatch match;
};

// The type laid with its left end at t0: does it fit what was seen, and how well.
Trial lay(const MeasuredFace& face, const PalletType& type, bool mirrored, double t0, double top)
{
    Trial trial;
    TypeMatch& m = trial.match;
    m.type = &type;
    m.mirrored = mirrored;
    m.face_left = t0;
    m.top = top;
    const std::vector<Opening>& seen = *face.openings;
    if (seen.size() > m.opening_of.size()) return trial;
    const auto seen_end = m.opening_of.begin() + static_cast<std::ptrdiff_t>(seen.size());
    const double tol = type.opening_tolerance_mm;
    std::size_t matched = 0;
    for (std::size_t i = 0; i < type.openings.size(); ++i) {
        const FaceRect o = seen_opening(type, i, mirrored);
        const double lo = t0 + o.left_mm, hi = t0 + o.right_mm;
        const bool whole = lo >= face.seen_left + 10.0 && hi <= face.seen_right - 10.0;
        int found = -1;
        for (std::size_t j = 0; j < seen.size(); ++j) {
            const double middle_miss = std::abs((seen[j].lo + seen[j].hi - lo - hi) / 2.0);
            const double width_miss = std::abs((seen[j].hi - seen[j].lo) - (hi - lo));
            const double top_miss = std::isfinite(seen[j].top) ? std::abs(seen[j].top - o.top_mm) : 0.0;
            if (middle_miss <= tol && width_miss <= tol && top_miss <= tol && m.opening_of[j] < 0) {
                found = static_cast<int>(j);
                m.opening_miss = std::max({m.opening_miss, middle_miss, width_miss});
                m.score += (middle_miss / tol) * (middle_miss / tol) + (width_miss / tol) * (width_miss / tol) +
                           (top_miss / tol) * (top_miss / tol);
                break;
            }
        }
        if (found >= 0) {
            m.opening_of[static_cast<std::size_t>(found)] = static_cast<int>(i);
            ++matched;
        } else if (whole) {
            return trial;  // an opening the face must show where none was seen
        }
    }
    if (matched == 0 || std::count(m.opening_of.begin(), seen_end, -1) > 0) return trial;
    const double height_miss = std::abs(top - type.height_mm);
    if (!(height_miss <= type.height_tolerance_mm)) return trial;
    m.score += (height_miss / type.height_tolerance_mm) * (height_miss / type.height_tolerance_mm);
    trial.fits = true;
    trial.failure = DockReason::none;
    return trial;
}

// The best way to lay one type (and its mirror) along the face.
Trial best_lay(const MeasuredFace& face, const PalletType& type, double top)
{
    Trial best;
    const bool left_seen = std::isfinite(face.left), right_seen = std::isfinite(face.right);
    const auto consider = [&](const Trial& t) {
        if (t.fits && (!best.fits || t.match.score < best.match.score)) best = t;
    };
    for (const bool mirrored : {false, true}) {
        if (mirrored && symmetric(type)) break;
        if (left_seen && right_seen) {
            const double miss = std::abs((face.right - face.left) - type.width_mm);
            if (!(miss <= type.width_tolerance_mm)) {
                best.failure = DockReason::wrong_width;
                return best;
            }
            Trial t = lay(face, type, mirrored, (face.left + face.right - type.width_mm) / 2.0, top);
            t.match.width_miss = miss;
            t.match.score += (miss / type.width_tolerance_mm) * (miss / type.width_tolerance_mm);
            consider(t);
        } else if (left_seen || right_seen) {
            const double t0 = left_seen ? face.left : face.right - type.width_mm;
            const double reach = left_seen ? face.seen_right - t0 : t0 + type.width_mm - face.seen_left;
            if (reach > type.width_mm + type.width_tolerance_mm) continue;  // the points go on beyond it
            consider(lay(face, type, mirrored, t0, top));
        } else {
            // With neither end seen only the openings place the type, and one opening alone fits
            // wherever the type has one: two at least, so that their spacing says which.
            for (const Opening& o : *face.openings) {
                for (std::size_t i = 0; i < type.openings.size(); ++i) {
                    const FaceRect r = seen_opening(type, i, mirrored);
                    const Trial t = lay(face, type, mirrored, (o.lo + o.hi - r.left_mm - r.right_mm) / 2.0, top);
                    if (std::count_if(t.match.opening_of.begin(), t.match.opening_of.end(), [](int k) { return k >= 0; }) >= 2) {
                        consider(t);
                    }
                }
            }
        }
    }
    return best;
}

}  // namespace

TypeMatch match_type(const MeasuredFace& face, const std::vector<double>& heights,
                     const std::vector<PalletType>& types, DockReason& failure)
{
    const bool no_end_pair = !(std::isfinite(face.left) && std::isfinite(face.right));
    if (no_end_pair && face.openings->empty()) {
        failure = DockReason::face_cut_off;
        return {};
    }
    Trial best;
    bool any_width = false;
    for (const PalletType& type : types) {
        const double top = face_top(heights, type.height_mm + type.height_tolerance_mm);
        const Trial t = best_lay(face, type, top);
        any_width = any_width || t.failure != DockReason::wrong_width;
        if (t.fits && (!best.fits || t.match.score < best.match.score)) best = t;
    }
    if (best.fits) {
        failure = DockReason::none;
        return best.match;
    }
    failure = any_width ? DockReason::wrong_pockets : DockReason::wrong_width;
    return {};
}

double matched_centre(const MeasuredFace& face, const TypeMatch& match)
{
    const PalletType& type = *match.type;
    if (std::isfinite(face.left) && std::isfinite(face.right)) return (face.left + face.right) / 2.0;
    double sum = 0.0;
    double count = 0.0;
    if (std::isfinite(face.left)) {
        sum += face.left;
        count += 1.0;
    }
    if (std::isfinite(face.right)) {
        sum += face.right - type.width_mm;
        count += 1.0;
    }
    const std::vector<Opening>& seen = *face.openings;
    for (std::size_t j = 0; j < seen.size(); ++j) {
        if (match.opening_of[j] < 0) continue;
        const FaceRect& o = type.openings[static_cast<std::size_t>(match.opening_of[j])];
        const double middle = match.mirrored ? type.width_mm - (o.left_mm + o.right_mm) / 2.0 : (o.left_mm + o.right_mm) / 2.0;
        sum += (seen[j].lo + seen[j].hi) / 2.0 - middle;
        count += 1.0;
    }
    return sum / count + type.width_mm / 2.0;
}
