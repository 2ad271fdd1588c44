#include "analysis/ground_alignment.hpp"

#include <cstdint>
#include <utility>

#include "analysis/depth_intake.hpp"
#include "analysis/plane_fit.hpp"

namespace {

// One point per pixel of rows 380..459, columns 240..399, row-major; zero depths stay in the list
// as (0, 0, 0) and take part in the fit.
void ground_patch_points(const cv::Mat& depth, std::vector<cv::Point3d>& ground_points)
{
    ground_points.resize(80 * 160);
    cv::Point3d* out = ground_points.data();
    for (int v = 380; v < 460; ++v) {
        const std::uint16_t* row = depth.ptr<std::uint16_t>(v);
        for (int u = 240; u < 400; ++u) *out++ = depth_to_point(v, u, row[u]);
    }
}

// Every pixel's camera point, row-major, into camera_points (its storage reused); a pixel
// without depth gives (0, 0, 0).
void camera_points_of(const cv::Mat& depth, std::vector<cv::Point3d>& camera_points)
{
    camera_points.resize(480 * 640);
    cv::Point3d* out = camera_points.data();
    for (int v = 0; v < 480; ++v) {
        const std::uint16_t* row = depth.ptr<std::uint16_t>(v);
        for (int u = 0; u < 640; ++u) {
            const double d = row[u];
            cv::Point3d p = depth_to_point(v, u, row[u]);
            if (d == 0.0) {
                p = cv::Point3d(0.0, 0.0, 0.0);
            }
            *out++ = p;
        }
    }
}

}  // namespace

GroundFrame ground_frame_of(const cv::Mat& depth, std::vector<cv::Point3d>& ground_points)
{
    CV_Assert(depth.type() == CV_16UC1 && depth.rows == 480 && depth.cols == 640);
    ground_patch_points(depth, ground_points);

    const std::uint16_t d0 = depth.at<std::uint16_t>(420, 320);  // row 420, column 320
    const cv::Point3d reference = depth_to_point(420, 320, d0);
    const cv::Mat_<double> P0 = (cv::Mat_<double>(3, 1) << reference.x, reference.y, reference.z);

    const Eigen::Vector3d ground_plane = fit_plane(ground_points);
    Eigen::Matrix3d R = rotation_onto_z(ground_plane);  // not const: the view needs a writable pointer
    const cv::Mat V = rotation_view(R);                  // reads R transposed
    cv::Mat M(3, 3, CV_64F);
    M = V.inv(cv::DECOMP_LU);  // the inverse of R transposed: R up to rounding
    return {cv::Point3d(P0(0, 0), P0(1, 0), P0(2, 0)), cv::Matx33d(M)};
}

std::vector<cv::Point3d> align_to_ground(const cv::Mat& depth)
{
    AlignmentScratch scratch;
    align_to_ground(depth, scratch);
    return std::move(scratch.aligned);
}

const std::vector<cv::Point3d>& align_to_ground(const cv::Mat& depth, AlignmentScratch& scratch)
{
    const GroundFrame ground = ground_frame_of(depth, scratch.ground_points);
    camera_points_of(depth, scratch.camera_points);
    const std::vector<cv::Point3d>& camera_points = scratch.camera_points;

    const double x0 = ground.P0.x, y0 = ground.P0.y, z0 = ground.P0.z;
    const cv::Matx33d& M = ground.M;
    const double m00 = M(0, 0), m01 = M(0, 1), m02 = M(0, 2);
    const double m10 = M(1, 0), m11 = M(1, 1), m12 = M(1, 2);
    const double m20 = M(2, 0), m21 = M(2, 1), m22 = M(2, 2);

    std::vector<cv::Point3d>& aligned = scratch.aligned;
    aligned.resize(480 * 640);
    for (std::size_t i = 0; i < aligned.size(); ++i) {
        const cv::Point3d& p = camera_points[i];
        if (p.z == 0.0) {
            aligned[i] = cv::Point3d(0.0, 0.0, 0.0);  // no measurement: not -M * P0
            continue;
        }
        const double dx = p.x - x0;
        const double dy = p.y - y0;
        const double dz = p.z - z0;
        aligned[i] = cv::Point3d((m00 * dx + m01 * dy) + m02 * dz, (m10 * dx + m11 * dy) + m12 * dz,
                                 (m20 * dx + m21 * dy) + m22 * dz);
    }
    return aligned;
}
