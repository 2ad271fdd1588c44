#include "stage_checks.hpp"

#include <cstring>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "analysis/fast_analysis.hpp"
#include "analysis/frame_analysis.hpp"
#include "analysis/ground_alignment.hpp"
#include "analysis/pallet_pose.hpp"
#include "analysis/range_masks.hpp"

namespace {

bool same_image(const cv::Mat& a, const cv::Mat& b)
{
    return a.size() == b.size() && a.type() == b.type() &&
           (a.empty() || cv::norm(a, b, cv::NORM_INF) == 0.0);
}

std::string rect_text(const cv::Rect& r)
{
    return std::to_string(r.x) + "," + std::to_string(r.y) + " " + std::to_string(r.width) + "x" +
           std::to_string(r.height);
}

}  // namespace

std::string compare_band_mask_forms(const cv::Mat& depth)
{
    // Both forms keep their scratch from input to input, as the analysis keeps its workspaces.
    static BandMask band;
    static std::vector<cv::Point3d> ground_points;
    static LiteralWorkspace literal;
    make_combined_band_mask_fast(depth, ground_frame_of(depth, ground_points), band);
    const cv::Mat& mask =
        make_combined_band_mask(align_to_ground(depth, literal.alignment), literal.bands);
    if (!same_image(band.mask, mask)) {
        cv::Mat differ;
        cv::compare(band.mask, mask, differ, cv::CMP_NE);
        return "combined band masks differ in " + std::to_string(cv::countNonZero(differ)) +
               " pixels, within " + rect_text(cv::boundingRect(differ));
    }
    const cv::Rect bounds = cv::boundingRect(mask);
    if (band.bounds != bounds)
        return "band mask bounds differ: fast " + rect_text(band.bounds) + ", literal " + rect_text(bounds);
    return {};
}

std::string compare_contour_forms(const cv::Mat& band_mask)
{
    static ContourScratch scratch;
    const BandMask band{band_mask, cv::boundingRect(band_mask)};
    const std::vector<Contour> fast = find_candidate_contours_fast(band);
    const std::vector<Contour> literal = find_candidate_contours(band_mask, scratch);
    if (fast.size() != literal.size())
        return "candidate contours differ: fast " + std::to_string(fast.size()) + ", literal " +
               std::to_string(literal.size());
    for (std::size_t k = 0; k < fast.size(); ++k)
        if (fast[k] != literal[k]) return "candidate contour " + std::to_string(k) + " differs";
    return {};
}

std::string compare_face_forms(const FaceInput& input)
{
    if (input.selection.empty()) return {};
    static cv::Mat fast_mask, literal_mask;
    static std::vector<cv::Point3d> fast_points, literal_points;
    const cv::Rect face_rect = cv::boundingRect(input.selection[0]);
    const cv::Mat window = fill_face_mask_fast(input.selection, face_rect, fast_mask);
    gather_face_points_fast(window, face_rect, input.band_mask, input.depth, fast_points);
    fill_face_mask(input.selection, input.depth.size(), literal_mask);
    gather_face_points(literal_mask, input.band_mask, input.depth, literal_points);

    if (!same_image(window, literal_mask(face_rect))) return "face masks differ in the face rectangle";
    if (cv::countNonZero(window) != cv::countNonZero(literal_mask))
        return "the literal face mask is set outside the face rectangle " + rect_text(face_rect);
    if (fast_points.size() != literal_points.size())
        return "face point counts differ: fast " + std::to_string(fast_points.size()) +
               ", literal " + std::to_string(literal_points.size());
    if (!fast_points.empty() &&
        std::memcmp(fast_points.data(), literal_points.data(),
                    fast_points.size() * sizeof(cv::Point3d)) != 0)
        return "face points differ";
    return {};
}
