#include "analysis/detector/face_points.hpp"

#include <algorithm>
#include <cmath>

#include "analysis/detector/robust_stats.hpp"

FaceWindow window_of(const FaceCandidate& candidate, const FloorFrame& f, const DetectorParams& params)
{
    const double margin = params.window_margin_mm;
    FaceWindow w{candidate.line, candidate.left - margin, candidate.right + margin,
                 -std::max(margin, params.local_floor_reach_mm), margin, cv::Rect()};
    double u_lo = depth_cols, u_hi = -1.0, v_lo = depth_rows, v_hi = -1.0;
    for (int corner = 0; corner < 8; ++corner) {
        const double t = (corner & 1) ? w.t_hi : w.t_lo;
        const double r = (corner & 2) ? w.r_hi : w.r_lo;
        const double h = (corner & 4) ? params.top_high_mm : -params.local_floor_band_mm;
        const Line& line = w.line;
        const Eigen::Vector3d q(line.mx * (line.c + r) + t * line.my, line.my * (line.c + r) - t * line.mx, h);
        const Eigen::Vector3d p = camera_of(f, q);
        if (!(p.z() > 1.0)) {  // behind the camera: its rows and columns are unbounded
            u_lo = v_lo = -1.0;
            u_hi = depth_cols;
            v_hi = depth_rows;
            continue;
        }
        const Eigen::Vector2d pixel = pixel_of(p);
        u_lo = std::min(u_lo, pixel.x());
        u_hi = std::max(u_hi, pixel.x());
        v_lo = std::min(v_lo, pixel.y());
        v_hi = std::max(v_hi, pixel.y());
    }
    const auto clamp_to = [](double value, int limit) {
        return static_cast<int>(std::clamp(value, 0.0, static_cast<double>(limit)));
    };
    const int u0 = clamp_to(std::floor(u_lo) - 2.0, depth_cols);
    const int u1 = clamp_to(std::ceil(u_hi) + 3.0, depth_cols);
    const int v0 = clamp_to(std::floor(v_lo) - 2.0, depth_rows);
    const int v1 = clamp_to(std::ceil(v_hi) + 3.0, depth_rows);
    w.pixels = cv::Rect(u0, v0, std::max(0, u1 - u0), std::max(0, v1 - v0));
    return w;
}

double local_floor_height(const cv::Mat& depth, const FaceWindow& w, const FloorFrame& f,
                          const DetectorParams& params, std::vector<double>& values)
{
    values.clear();
    const double band = params.local_floor_band_mm;
    for (int v = w.pixels.y; v < w.pixels.y + w.pixels.height; v += 4) {
        const RowFloorCoefficients k = row_floor_coefficients(f, v);
        const std::uint16_t* row = depth.ptr<std::uint16_t>(v);
        for (int u = w.pixels.x; u < w.pixels.x + w.pixels.width; u += 4) {
            if (row[u] == 0) continue;
            const double d = row[u];
            const double h = d * (k.hu * u + k.h0) + f.height;
            if (!(std::abs(h) < band)) continue;
            const double x = d * (k.xu * u + k.x0);
            const double y = d * (k.yu * u + k.y0);
            const double r = residual(w.line, x, y);
            const double t = along(w.line, x, y);
            if (r < -params.local_floor_reach_mm || r > -30.0 || t < w.t_lo || t > w.t_hi) continue;
            values.push_back(h);
        }
    }
    return values.size() < 20 ? 0.0 : quantile_of(values, 0.5);
}

void window_points(const cv::Mat& depth, const FaceWindow& w, const FloorFrame& f, double floor_height,
                   const DetectorParams& params, std::vector<FacePoint>& band, std::vector<FacePoint>& upper)
{
    band.clear();
    upper.clear();
    const int u0 = w.pixels.x;
    const int u1 = w.pixels.x + w.pixels.width;
    const double lowest = params.band_low_mm + floor_height;  // above the fitted floor
    const double highest = params.top_high_mm + floor_height;
    const double band_top = params.band_high_mm + floor_height;
    for (int v = w.pixels.y; v < w.pixels.y + w.pixels.height; ++v) {
        const RowFloorCoefficients k = row_floor_coefficients(f, v);
        const std::uint16_t* row = depth.ptr<std::uint16_t>(v);
        int first = -1, last = -1;
        for (int u = u0; u < u1; u += 4) {
            const double h = row[u] * (k.hu * u + k.h0) + f.height;
            if (row[u] != 0 && h >= lowest && h <= highest) {
                if (first < 0) first = u;
                last = u;
            }
        }
        if (first < 0) continue;
        for (int u = std::max(u0, first - 3); u < std::min(u1, last + 4); ++u) {
            if (row[u] == 0) continue;
            const double d = row[u];
            const double h = d * (k.hu * u + k.h0) + f.height;
            if (h < lowest || h > highest) continue;
            const double x = d * (k.xu * u + k.x0);
            const double y = d * (k.yu * u + k.y0);
            const double r = residual(w.line, x, y);
            const double t = along(w.line, x, y);
            if (r < -params.window_margin_mm || r > w.r_hi || t < w.t_lo || t > w.t_hi) continue;
            // Field by field into place: a whole point built aside and copied in would be read
            // back before its parts had been written, which stalls every store.
            FacePoint& p = (h <= band_top ? band : upper).emplace_back();
            p.x = static_cast<float>(x);
            p.y = static_cast<float>(y);
            p.h = static_cast<float>(h - floor_height);
            p.u = static_cast<std::int16_t>(u);
            p.v = static_cast<std::int16_t>(v);
        }
    }
}
