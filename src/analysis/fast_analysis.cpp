#include "analysis/fast_analysis.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include <opencv2/imgproc.hpp>

#include "analysis/depth_intake.hpp"
#include "analysis/plane_fit.hpp"
#include "analysis/result_report.hpp"

namespace {

// p' = M * (p - P0) with the ground patch's M and P0, made exactly as align_to_ground makes them.
struct GroundFrame {
    double x0, y0, z0;
    double m00, m01, m02, m10, m11, m12, m20, m21, m22;
};

GroundFrame ground_frame_of(const cv::Mat& depth)
{
    std::vector<cv::Point3d> ground_points;  // 12,800 points, not image-sized
    ground_points.reserve(80 * 160);
    for (int v = 380; v < 460; ++v) {
        const std::uint16_t* row = depth.ptr<std::uint16_t>(v);
        for (int u = 240; u < 400; ++u) ground_points.push_back(depth_to_point(v, u, row[u]));
    }
    const cv::Point3d P0 = depth_to_point(420, 320, depth.at<std::uint16_t>(420, 320));
    Eigen::Matrix3d R = rotation_onto_z(fit_plane(ground_points));
    cv::Mat M(3, 3, CV_64F);
    M = rotation_view(R).inv(cv::DECOMP_LU);
    const auto m = [&M](int r, int c) { return M.at<double>(r, c); };
    return {P0.x, P0.y, P0.z, m(0, 0), m(0, 1), m(0, 2), m(1, 0), m(1, 1),
            m(1, 2), m(2, 0), m(2, 1), m(2, 2)};
}

// The band tests on the aligned point of one measured pixel, computed in double with the very
// operations of align_to_ground and the three mask functions: the reference for every pixel the
// float pass cannot decide.
bool in_bands_exact(const GroundFrame& g, int v, int u, std::uint16_t d)
{
    const cv::Point3d p = depth_to_point(v, u, d);
    const double dx = p.x - g.x0;
    const double dy = p.y - g.y0;
    const double dz = p.z - g.z0;
    const double x = (g.m00 * dx + g.m01 * dy) + g.m02 * dz;
    const double y = (g.m10 * dx + g.m11 * dy) + g.m12 * dz;
    const double z = (g.m20 * dx + g.m21 * dy) + g.m22 * dz;
    // Height: trunc(|z'|) in 41..240; a height of 65,536 or more or not finite is outside.
    const double height = std::abs(z);
    const bool in_height = height >= 41.0 && height < 241.0;
    const bool in_depth = y >= -2000.0 && y <= -400.0;
    // The lateral image is turned to 8 bits in single precision: |x'| is rounded to float first
    // and then to the nearest integer, halves to even, so 0.5 + 2^-25 still gives 0.
    const bool in_lateral =
        x >= -600.0 && x <= 600.0 && static_cast<float>(std::abs(x)) > 0.5f;
    return in_height && in_depth && in_lateral;
}

// Per-frame constants of the float pass for one aligned coordinate c' = d * (ka[u] + kb(v)) - k0,
// where ka[u] = m_r0 * (u - cx) / fx, kb(v) = m_r1 * (v - cy) / fy + m_r2, k0 = m_r . P0.
struct FloatAxis {
    std::array<float, 640> ka;
    double b_scale;   // m_r1 / fy
    double b_offset;  // m_r2 - m_r1 * cy / fy
    float k0;
    float margin;     // bound on |float c' - exact c'| over every pixel of the frame
};

FloatAxis float_axis(double mr0, double mr1, double mr2, const GroundFrame& g)
{
    FloatAxis axis{};
    double ka_max = 0.0;
    for (int u = 0; u < 640; ++u) {
        const double ka = mr0 * ((u - camera_model.cx) / camera_model.fx);
        axis.ka[static_cast<std::size_t>(u)] = static_cast<float>(ka);
        ka_max = std::max(ka_max, std::abs(ka));
    }
    axis.b_scale = mr1 / camera_model.fy;
    axis.b_offset = mr2 - mr1 * camera_model.cy / camera_model.fy;
    const double k0 = (mr0 * g.x0 + mr1 * g.y0) + mr2 * g.z0;
    axis.k0 = static_cast<float>(k0);
    const double kb_max = std::abs(mr1) * (480.0 / camera_model.fy) + std::abs(mr2);
    // Each float step rounds by at most 2^-24 of the magnitude it handles; the largest
    // magnitudes are 65535 * (|ka| + |kb|) and |k0|, and about six roundings meet in c'. 2^-19 is
    // 32 roundings' worth, which also covers the double rounding of the reference.
    const double scale = 65535.0 * (ka_max + kb_max) + std::abs(k0) + 1.0;
    axis.margin = static_cast<float>(std::ldexp(scale, -19));
    if (!std::isfinite(axis.margin) || !std::isfinite(axis.k0)) {
        axis.margin = std::numeric_limits<float>::infinity();  // every pixel decided in double
    }
    return axis;
}

struct FloatPass {
    FloatAxis x, y, z;
};

// One row of the float pass: mask bytes 255 / 0 for the pixels decided in float, and a flag for
// each pixel that lies within the margin of a band edge. Returns whether any pixel is flagged.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__)
// Eight pixels per step where the processor has AVX2; contraction to fused multiply-adds there
// only makes the float values closer to the exact ones, which the margin already bounds.
__attribute__((target_clones("avx2", "default")))
#endif
bool float_row(const FloatPass& f, int v, const std::uint16_t* depth_row, std::uint8_t* mask_row,
               std::uint8_t* undecided)
{
    const float kbx = static_cast<float>(f.x.b_scale * v + f.x.b_offset);
    const float kby = static_cast<float>(f.y.b_scale * v + f.y.b_offset);
    const float kbz = static_cast<float>(f.z.b_scale * v + f.z.b_offset);
    const float mx = f.x.margin, my = f.y.margin, mz = f.z.margin;
    // Sure inside / sure outside limits of each band; between them a pixel is undecided.
    const float z_in_lo = 41.0f + mz, z_in_hi = 241.0f - mz, z_out_lo = 41.0f - mz,
                z_out_hi = 241.0f + mz;
    const float y_in_lo = -2000.0f + my, y_in_hi = -400.0f - my, y_out_lo = -2000.0f - my,
                y_out_hi = -400.0f + my;
    const float x_in_lo = 0.5f + mx, x_in_hi = 600.0f - mx, x_out_lo = 0.5f - mx,
                x_out_hi = 600.0f + mx;
    const float x0 = f.x.k0, y0 = f.y.k0, z0 = f.z.k0;
    const float* kax = f.x.ka.data();
    const float* kay = f.y.ka.data();
    const float* kaz = f.z.ka.data();
    int any = 0;
    // Bitwise & and | rather than && and ||: no branch, so the loop runs on vector registers.
    for (int u = 0; u < 640; ++u) {
        const int depth_mm = depth_row[u];
        const float d = static_cast<float>(depth_mm);
        const float x = std::abs(d * (kax[u] + kbx) - x0);
        const float y = d * (kay[u] + kby) - y0;
        const float z = std::abs(d * (kaz[u] + kbz) - z0);
        const int in = (z >= z_in_lo) & (z <= z_in_hi) & (y >= y_in_lo) & (y <= y_in_hi) &
                       (x >= x_in_lo) & (x <= x_in_hi);
        const int out = (z < z_out_lo) | (z > z_out_hi) | (y < y_out_lo) | (y > y_out_hi) |
                        (x < x_out_lo) | (x > x_out_hi);
        const int measured = depth_mm != 0;
        const int unsure = measured & ((in | out) ^ 1);
        mask_row[u] = static_cast<std::uint8_t>(-(measured & in));
        undecided[u] = static_cast<std::uint8_t>(unsure);
        any |= unsure;
    }
    return any != 0;
}

void extend_bounds(const std::uint8_t* mask_row, int v, int& u_min, int& u_max, int& v_min,
                   int& v_max)
{
    const std::uint8_t* first = std::find_if(mask_row, mask_row + 640, [](std::uint8_t b) { return b != 0; });
    if (first == mask_row + 640) return;
    int last = 639;
    while (mask_row[last] == 0) --last;
    u_min = std::min(u_min, static_cast<int>(first - mask_row));
    u_max = std::max(u_max, last);
    if (v_min < 0) v_min = v;
    v_max = v;
}

bool row_has_pixel(const std::uint8_t* mask_row)
{
    std::uint64_t any = 0;
    for (int u = 0; u < 640; u += 8) {
        std::uint64_t word;
        std::memcpy(&word, mask_row + u, sizeof word);
        any |= word;
    }
    return any != 0;
}

PalletPose measure_pallet_fast(const std::vector<Contour>& selection, const cv::Rect& bounding_rect,
                               const cv::Mat& combined_band_mask, const cv::Mat& depth)
{
    PalletPose pose;
    pose.bounding_rect = bounding_rect;
    pose.boxes.reserve(selection.size());
    for (const Contour& contour : selection) pose.boxes.push_back(box_corners(contour));
    const cv::Mat face_mask = fill_face_mask(selection, depth.size());
    // The face is filled inside its own bounding rectangle and the inner fills only clear pixels.
    const std::vector<cv::Point3d> face_points =
        fast_face_points(face_mask, bounding_rect, combined_band_mask, depth);
    pose.face_point_count = face_points.size();
    pose.centre_point = rect_centre_point(bounding_rect, depth);
    pose.rotation = rotation_onto_z(fit_plane(face_points));
    pose.angles = rotation_angles(pose.rotation);
    pose.euler_rad = euler_zyx(pose.rotation);
    pose.euler_deg = euler_degrees(pose.euler_rad);
    return pose;
}

}  // namespace

BandMask fast_combined_band_mask(const cv::Mat& depth)
{
    CV_Assert(depth.type() == CV_16UC1 && depth.rows == 480 && depth.cols == 640);
    const GroundFrame g = ground_frame_of(depth);
    const FloatPass f{float_axis(g.m00, g.m01, g.m02, g), float_axis(g.m10, g.m11, g.m12, g),
                      float_axis(g.m20, g.m21, g.m22, g)};

    BandMask band;
    band.mask.create(480, 640, CV_8UC1);
    std::array<std::uint8_t, 640> undecided;
    int u_min = 640, u_max = -1, v_min = -1, v_max = -1;
    for (int v = 0; v < 480; ++v) {
        const std::uint16_t* depth_row = depth.ptr<std::uint16_t>(v);
        std::uint8_t* mask_row = band.mask.ptr<std::uint8_t>(v);
        if (float_row(f, v, depth_row, mask_row, undecided.data())) {
            for (int u = 0; u < 640; ++u) {
                if (undecided[static_cast<std::size_t>(u)] == 0) continue;
                mask_row[u] = in_bands_exact(g, v, u, depth_row[u]) ? 255 : 0;
            }
        }
        if (row_has_pixel(mask_row)) extend_bounds(mask_row, v, u_min, u_max, v_min, v_max);
    }
    if (v_min >= 0) band.bounds = cv::Rect(u_min, v_min, u_max - u_min + 1, v_max - v_min + 1);
    return band;
}

std::vector<Contour> fast_candidate_contours(const BandMask& band)
{
    std::vector<Contour> candidate_contours;
    if (band.bounds.empty()) return candidate_contours;
    // Outside the bounds the mask is 0. The blur reaches 1 pixel further, the opening never
    // beyond the blurred area; a window 4 pixels wider on each side keeps every pixel that the
    // window's own borders could change 0 in both forms, and the library reads the blur's
    // neighbours beyond the window from the whole mask, reflecting only at the image's edges.
    const cv::Rect window =
        cv::Rect(band.bounds.x - 4, band.bounds.y - 4, band.bounds.width + 8,
                 band.bounds.height + 8) &
        cv::Rect(0, 0, band.mask.cols, band.mask.rows);
    cv::Mat blurred;
    cv::GaussianBlur(band.mask(window), blurred, cv::Size(3, 3), 0, 0, cv::BORDER_DEFAULT);
    const cv::Mat element =
        cv::getStructuringElement(cv::MORPH_RECT, cv::Size(5, 5), cv::Point(-1, -1));
    cv::Mat eroded;
    cv::erode(blurred, eroded, element, cv::Point(-1, -1), 1, cv::BORDER_CONSTANT,
              cv::morphologyDefaultBorderValue());
    cv::Mat region;
    cv::dilate(eroded, region, element, cv::Point(-1, -1), 1, cv::BORDER_CONSTANT,
               cv::morphologyDefaultBorderValue());
    // The search pads the image with zeros; every non-zero pixel lies at least 3 pixels inside
    // the window (or at the image's own edge), so the trace and its order are those of the whole
    // image, shifted by the window's corner.
    std::vector<Contour> contours;
    std::vector<cv::Vec4i> hierarchy;
    cv::findContours(region, contours, hierarchy, cv::RETR_TREE, cv::CHAIN_APPROX_SIMPLE,
                     window.tl());
    for (Contour& contour : contours) {
        if (contour.size() >= 50) candidate_contours.push_back(std::move(contour));
    }
    return candidate_contours;
}

std::vector<cv::Point3d> fast_face_points(const cv::Mat& face_mask, const cv::Rect& face_rect,
                                          const cv::Mat& combined_band_mask, const cv::Mat& depth)
{
    const cv::Rect r = face_rect & cv::Rect(0, 0, face_mask.cols, face_mask.rows);
    // Row-major pass over the rectangle into a column-major buffer of the depths that pass both
    // masks, then one column-major walk: the order gather_face_points gives.
    std::vector<std::uint16_t> kept(static_cast<std::size_t>(r.area()), 0);
    std::size_t count = 0;
    for (int v = r.y; v < r.y + r.height; ++v) {
        const std::uint8_t* face_row = face_mask.ptr<std::uint8_t>(v);
        const std::uint8_t* band_row = combined_band_mask.ptr<std::uint8_t>(v);
        const std::uint16_t* depth_row = depth.ptr<std::uint16_t>(v);
        std::uint16_t* column_major = kept.data() + (v - r.y);
        for (int u = r.x; u < r.x + r.width; ++u) {
            const std::uint16_t d = (face_row[u] != 0 && band_row[u] != 0) ? depth_row[u] : 0;
            column_major[static_cast<std::size_t>(u - r.x) * static_cast<std::size_t>(r.height)] = d;
            count += d != 0;
        }
    }
    std::vector<cv::Point3d> face_points;
    face_points.reserve(count);
    std::size_t i = 0;
    for (int u = r.x; u < r.x + r.width; ++u) {
        for (int v = r.y; v < r.y + r.height; ++v, ++i) {
            if (kept[i] != 0) face_points.push_back(depth_to_point(v, u, kept[i]));
        }
    }
    return face_points;
}

FrameAnalysis analyse_depth_fast(const cv::Mat& depth)
{
    CV_Assert(depth.type() == CV_16UC1 && depth.rows == depth_rows && depth.cols == depth_cols);
    const BandMask band = fast_combined_band_mask(depth);
    const std::vector<Contour> candidate_contours = fast_candidate_contours(band);

    return analyse_candidates_fast(candidate_contours, band.mask, depth);
}

FrameAnalysis analyse_candidates_fast(const std::vector<Contour>& candidate_contours,
                                      const cv::Mat& combined_band_mask, const cv::Mat& depth)
{
    FrameAnalysis analysis;
    analysis.probe_depth = probe_depth(depth);
    if (candidate_contours.empty()) {
        analysis.outcome = PalletOutcome::no_contour;
        return analysis;
    }
    const std::vector<Contour> selection = select_pallet_contours(candidate_contours);
    const cv::Rect bounding_rect = cv::boundingRect(selection[0]);
    if (bounding_rect.width < 201) {  // 200 pixels wide or less is no pallet
        analysis.outcome = PalletOutcome::no_pallet;
        analysis.pose.bounding_rect = bounding_rect;
        return analysis;
    }
    analysis.outcome = PalletOutcome::pallet_found;
    analysis.pose = measure_pallet_fast(selection, bounding_rect, combined_band_mask, depth);
    return analysis;
}

cv::Mat fast_depth_view(const cv::Mat& depth)
{
    CV_Assert(depth.type() == CV_16UC1 && depth.isContinuous());
    double lo = 0.0, hi = 0.0;
    cv::minMaxIdx(depth, &lo, &hi);
    const int d_min = static_cast<int>(lo);
    const int d_max = static_cast<int>(hi);
    // Every value of the range once, padded with the largest to a multiple of 64 so that the
    // library's vector loops handle every element as they handle the frame's (640 columns).
    const int range = d_max - d_min + 1;
    cv::Mat values(1, (range + 63) / 64 * 64, CV_16UC1, cv::Scalar(d_max));
    std::uint16_t* value = values.ptr<std::uint16_t>(0);
    for (int i = 0; i < range; ++i) value[i] = static_cast<std::uint16_t>(d_min + i);
    cv::Mat normalized;
    cv::normalize(values, normalized, 0, 255, cv::NORM_MINMAX, -1, cv::noArray());
    cv::Mat table;
    cv::convertScaleAbs(normalized, table, 1, 0);
    const std::uint8_t* lut = table.ptr<std::uint8_t>(0) - d_min;

    cv::Mat view(depth.size(), CV_8UC1);
    const std::uint16_t* src = depth.ptr<std::uint16_t>(0);
    std::uint8_t* dst = view.ptr<std::uint8_t>(0);
    const std::size_t total = depth.total();
    for (std::size_t i = 0; i < total; ++i) dst[i] = lut[src[i]];
    return view;
}

cv::Mat fast_result_view(const cv::Mat& depth_view, const FrameAnalysis& analysis)
{
    CV_Assert(depth_view.type() == CV_8UC1);
    cv::Mat grey_levels(1, 256, CV_8UC1);
    for (int i = 0; i < 256; ++i) grey_levels.at<std::uint8_t>(i) = static_cast<std::uint8_t>(i);
    cv::Mat jet;
    cv::applyColorMap(grey_levels, jet, cv::COLORMAP_JET);
    // Four bytes per entry so that each pixel is one 32-bit store; the fourth byte is overwritten
    // by the next pixel, and the last pixel of the image is written byte by byte.
    std::array<std::array<std::uint8_t, 4>, 256> colour{};
    for (std::size_t i = 0; i < 256; ++i) {
        const cv::Vec3b bgr = jet.at<cv::Vec3b>(static_cast<int>(i));
        colour[i] = {bgr[0], bgr[1], bgr[2], 0};
    }
    cv::Mat result_view(depth_view.size(), CV_8UC3);
    for (int v = 0; v < depth_view.rows; ++v) {
        const std::uint8_t* grey = depth_view.ptr<std::uint8_t>(v);
        std::uint8_t* bgr = result_view.ptr<std::uint8_t>(v);
        const int last = depth_view.cols - 1;
        for (int u = 0; u < last; ++u) {
            std::memcpy(bgr + 3 * u, colour[grey[u]].data(), 4);
        }
        const cv::Vec3b end = jet.at<cv::Vec3b>(grey[last]);
        std::memcpy(bgr + 3 * last, &end[0], 3);
    }

    const cv::Scalar red(0, 0, 255);
    const cv::Scalar white(255, 255, 255);
    const cv::Rect ground_patch(240, 380, 160, 80);  // rows 380..459, columns 240..399
    cv::rectangle(result_view, ground_patch, red, 2, cv::LINE_8, 0);
    cv::circle(result_view, cv::Point(320, 420), 2, red, cv::FILLED, cv::LINE_8, 0);  // reference
    if (analysis.outcome != PalletOutcome::pallet_found) return result_view;

    for (const BoxCorners& box : analysis.pose.boxes) draw_box(result_view, box);
    cv::putText(result_view, position_text(analysis.pose.centre_point), cv::Point(0, 20),
                cv::FONT_HERSHEY_SIMPLEX, 0.6, white, 2, cv::LINE_8, false);
    cv::putText(result_view, angle_text(analysis.pose.angles), cv::Point(0, 40),
                cv::FONT_HERSHEY_SIMPLEX, 0.6, white, 2, cv::LINE_8, false);
    return result_view;
}
