#include "analysis/detector/openings.hpp"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>

#include "analysis/detector/robust_stats.hpp"

namespace {

// The top of an opening (the underside of the board across it): in each 20 mm bin of its middle
// part, the lowest point on the face line 60 mm up or more (the top's points included: a thin
// board seen from afar has hardly a pixel below the band's top); the median over the bins that
// hold one (a stray point in one bin moves it not at all), three bins at least. NaN else.
double opening_top(const std::vector<FacePoint>& band, const std::vector<FacePoint>& upper, const FaceFit& fit,
                   const FloorFrame& f, const Opening& gap, std::vector<double>& lowest)
{
    const double lo = gap.lo + 20.0, hi = gap.hi - 20.0;
    if (!(hi > lo)) return NAN;
    const auto bins = static_cast<std::size_t>((hi - lo) / 20.0) + 1;
    lowest.assign(bins, INFINITY);
    for (std::size_t k = 0; k < fit.inliers.size(); ++k) {
        const double t = fit.along[k];
        const double h = band[fit.inliers[k]].h;
        if (!(t > lo && t < hi && h >= 60.0)) continue;
        double& low = lowest[static_cast<std::size_t>((t - lo) / 20.0)];
        low = std::min(low, h);
    }
    for (const FacePoint& p : upper) {
        if (!(std::abs(residual(fit.line, p)) < fit.inlier_band)) continue;
        const double t = ray_along(fit.line, f, p.v, p.u);
        if (!(t > lo && t < hi)) continue;
        double& low = lowest[static_cast<std::size_t>((t - lo) / 20.0)];
        low = std::min(low, static_cast<double>(p.h));
    }
    lowest.erase(std::remove(lowest.begin(), lowest.end(), INFINITY), lowest.end());
    return lowest.size() < 3 ? NAN : quantile_of(lowest, 0.5);
}

}  // namespace

namespace {

// Every slice's gaps between block fronts, slice after slice.
void slice_gaps(const std::vector<FacePoint>& band, const FaceFit& fit, const FloorFrame& f,
                const DetectorParams& params, OpeningScratch& scratch)
{
    const double bin_mm = 20.0;
    // A slice at least as thick as a row's pixels are tall at the face's far end: any place along
    // the face then has a pixel in every slice.
    const double far = std::sqrt(fit.line.c * fit.line.c + std::max(fit.left * fit.left, fit.right * fit.right));
    const double thickness = std::max(params.opening_slice_mm, 1.2 * far / camera_model.fy);
    const auto slices = static_cast<std::size_t>(std::ceil((params.opening_high_mm - params.opening_low_mm) / thickness));
    const auto bins = static_cast<std::size_t>((fit.right - fit.left) / bin_mm) + 1;
    scratch.bins.assign(slices * bins, SliceBin{});
    // Block fronts only: a point that reads behind the face by more than one and a half scales is a
    // block's side or a pixel that mixes a block with the inside of the opening.
    const double mixed = 1.5 * fit.scale;
    for (std::size_t k = 0; k < fit.inliers.size(); ++k) {
        const double h = band[fit.inliers[k]].h;
        if (!(h >= params.opening_low_mm && h < params.opening_high_mm)) continue;
        if (behind_face(fit, band[fit.inliers[k]]) > mixed) continue;
        const auto s = static_cast<std::size_t>((h - params.opening_low_mm) / thickness);
        const auto b = static_cast<std::size_t>((fit.along[k] - fit.left) / bin_mm);
        SliceBin& bin = scratch.bins[std::min(s, slices - 1) * bins + std::min(b, bins - 1)];
        const int i = static_cast<int>(k);
        if (bin.first < 0 || fit.along[k] < fit.along[static_cast<std::size_t>(bin.first)]) bin.first = i;
        if (bin.last < 0 || fit.along[k] > fit.along[static_cast<std::size_t>(bin.last)]) bin.last = i;
    }
    scratch.gaps.clear();
    for (std::size_t s = 0; s < slices; ++s) {
        int previous = -1;  // the last inlier of the slice so far, left to right
        for (std::size_t b = 0; b < bins; ++b) {
            const SliceBin& bin = scratch.bins[s * bins + b];
            if (bin.first < 0) continue;
            const auto p = static_cast<std::size_t>(previous), q = static_cast<std::size_t>(bin.first);
            if (previous >= 0 && fit.along[q] - fit.along[p] > params.opening_min_gap_mm) {
                scratch.gaps.push_back({half_pixel_beyond(fit.line, band[fit.inliers[p]], fit.along[p], f, 1.0),
                                        half_pixel_beyond(fit.line, band[fit.inliers[q]], fit.along[q], f, -1.0), 1,
                                        NAN});
            }
            previous = bin.last;
        }
    }
}

}  // namespace

void find_openings(const std::vector<FacePoint>& band, const std::vector<FacePoint>& upper, const FaceFit& fit,
                   const FloorFrame& f, const DetectorParams& params, OpeningScratch& scratch,
                   std::vector<Opening>& openings)
{
    slice_gaps(band, fit, f, params, scratch);
    std::vector<Opening>& gaps = scratch.gaps;
    // By middle, then by left end: gaps equal in both are equal in all (no stable sort, which
    // allocates, is needed for an order that is a function of the gaps alone).
    std::sort(gaps.begin(), gaps.end(), [](const Opening& a, const Opening& b) {
        return a.lo + a.hi < b.lo + b.hi || (a.lo + a.hi == b.lo + b.hi && a.lo < b.lo);
    });
    // Groups of gaps whose neighbouring middles lie within the merge distance: first their sizes.
    std::size_t most = 0;
    for (std::size_t start = 0; start < gaps.size();) {
        std::size_t end = start + 1;
        while (end < gaps.size() &&
               (gaps[end].lo + gaps[end].hi) - (gaps[end - 1].lo + gaps[end - 1].hi) < 2.0 * params.opening_merge_mm) {
            ++end;
        }
        most = std::max(most, end - start);
        start = end;
    }
    openings.clear();
    for (std::size_t start = 0; start < gaps.size();) {
        std::size_t end = start + 1;
        while (end < gaps.size() &&
               (gaps[end].lo + gaps[end].hi) - (gaps[end - 1].lo + gaps[end - 1].hi) < 2.0 * params.opening_merge_mm) {
            ++end;
        }
        if (end - start >= params.opening_min_rows && 5 * (end - start) >= most) {
            scratch.los.clear();
            scratch.his.clear();
            for (std::size_t k = start; k < end; ++k) {
                scratch.los.push_back(gaps[k].lo);
                scratch.his.push_back(gaps[k].hi);
            }
            Opening o{side_edge(band, fit, quantile_of(scratch.los, 0.5), -1.0, scratch.values),
                      side_edge(band, fit, quantile_of(scratch.his, 0.5), 1.0, scratch.values), end - start, NAN};
            o.top = opening_top(band, upper, fit, f, o, scratch.values);
            openings.push_back(o);
        }
        start = end;
    }
}

bool opening_occluded(const cv::Mat& depth, const FaceFit& fit, const FloorFrame& f, const Opening& opening)
{
    const Line& line = fit.line;
    const double margin = 100.0 + 3.0 * fit.scale;
    int rays = 0, in_front = 0;
    for (const double share : {0.25, 0.5, 0.75}) {
        const double t = opening.lo + share * (opening.hi - opening.lo);
        for (const double h : {40.0, 60.0, 80.0}) {
            const Eigen::Vector3d q(line.c * line.mx + t * line.my, line.c * line.my - t * line.mx, h);
            const Eigen::Vector3d p = camera_of(f, q);
            if (!(p.z() > 0.0)) continue;
            const Eigen::Vector2d pixel = pixel_of(p);
            const long u = std::lround(pixel.x());
            const long v = std::lround(pixel.y());
            if (u < 0 || u >= depth.cols || v < 0 || v >= depth.rows) continue;
            ++rays;
            const std::uint16_t d = depth.at<std::uint16_t>(static_cast<int>(v), static_cast<int>(u));
            if (d != 0 && static_cast<double>(d) < p.z() - margin) ++in_front;
        }
    }
    return 2 * in_front > rays;
}
