#include "analysis/pallet_pose.hpp"

#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include <opencv2/imgproc.hpp>

#include "analysis/depth_intake.hpp"

namespace {

std::size_t largest_contour_index(const std::vector<Contour>& contours)
{
    std::size_t best = 0;
    double best_area = cv::contourArea(contours[0], false);
    for (std::size_t i = 1; i < contours.size(); ++i) {
        const double area = cv::contourArea(contours[i], false);
        if (area > best_area) {  // strictly greater: the earliest of equal areas stays
            best_area = area;
            best = i;
        }
    }
    return best;
}

bool starts_inside(const Contour& face, const Contour& contour)
{
    if (contour.empty()) return false;
    const cv::Point2f first(static_cast<float>(contour[0].x), static_cast<float>(contour[0].y));
    return cv::pointPolygonTest(face, first, false) >= 0;  // +1 inside, 0 on the edge
}

}  // namespace

std::vector<Contour> select_pallet_contours(const std::vector<Contour>& candidate_contours)
{
    std::vector<Contour> selection;
    if (candidate_contours.empty()) return selection;
    const std::size_t face = largest_contour_index(candidate_contours);
    selection.push_back(candidate_contours[face]);
    for (std::size_t i = 0; i < candidate_contours.size(); ++i) {
        if (i != face && starts_inside(candidate_contours[face], candidate_contours[i])) {
            selection.push_back(candidate_contours[i]);
        }
    }
    return selection;
}

BoxCorners box_corners(const Contour& contour)
{
    BoxCorners corners;
    cv::minAreaRect(contour).points(corners.data());
    return corners;
}

cv::Mat fill_face_mask(const std::vector<Contour>& selection, cv::Size size)
{
    cv::Mat face_mask;
    fill_face_mask(selection, size, face_mask);
    return face_mask;
}

const cv::Mat& fill_face_mask(const std::vector<Contour>& selection, cv::Size size,
                              cv::Mat& face_mask)
{
    face_mask.create(size, CV_8UC1);
    face_mask.setTo(0);
    for (std::size_t j = 0; j < selection.size(); ++j) {
        // The face first, then every inner contour cut out again, its boundary included.
        const cv::Scalar colour = j == 0 ? cv::Scalar(255) : cv::Scalar(0);
        cv::drawContours(face_mask, selection, static_cast<int>(j), colour, cv::FILLED,
                         cv::LINE_8, cv::noArray(), INT_MAX, cv::Point(0, 0));
    }
    return face_mask;
}

std::vector<cv::Point3d> gather_face_points(const cv::Mat& face_mask,
                                            const cv::Mat& combined_band_mask,
                                            const cv::Mat& depth)
{
    std::vector<cv::Point3d> face_points;
    gather_face_points(face_mask, combined_band_mask, depth, face_points);
    return face_points;
}

void gather_face_points(const cv::Mat& face_mask, const cv::Mat& combined_band_mask,
                        const cv::Mat& depth, std::vector<cv::Point3d>& face_points)
{
    face_points.clear();
    for (int u = 0; u < face_mask.cols; ++u) {  // column-major: the plane fit sees this order
        for (int v = 0; v < face_mask.rows; ++v) {
            if (face_mask.at<std::uint8_t>(v, u) == 0) continue;
            if (combined_band_mask.at<std::uint8_t>(v, u) == 0) continue;
            const std::uint16_t d = depth.at<std::uint16_t>(v, u);
            if (d != 0) face_points.push_back(depth_to_point(v, u, d));
        }
    }
}

cv::Point3d rect_centre_point(const cv::Rect& bounding_rect, const cv::Mat& depth)
{
    const int u_c = bounding_rect.x + bounding_rect.width / 2;
    const int v_c = bounding_rect.y + bounding_rect.height / 2;
    return depth_to_point(v_c, u_c, depth.at<std::uint16_t>(v_c, u_c));
}

RotationAngles rotation_angles(const Eigen::Matrix3d& R)
{
    const double pi = std::acos(-1.0);
    const double deg_per_rad = 180.0 / pi;  // the quotient first, then the product
    const double yaw = std::atan2(R(1, 0), R(0, 0));
    const double pitch =
        std::atan2(-R(2, 0), std::sqrt(std::pow(R(2, 1), 2) + std::pow(R(2, 2), 2)));
    const double roll = std::atan2(R(2, 1), R(2, 2));
    return {yaw * deg_per_rad, pitch * deg_per_rad, roll * deg_per_rad};
}

Eigen::Vector3d euler_zyx(const Eigen::Matrix3d& R)
{
    const double pi = std::acos(-1.0);
    double e0 = std::atan2(R(1, 0), R(0, 0));
    const double c2 = std::sqrt(R(2, 2) * R(2, 2) + R(2, 1) * R(2, 1));
    double e1 = 0.0;
    if (e0 < 0.0) {  // keep e0 in [0, pi]: take the other solution of the same rotation
        e0 += pi;
        e1 = std::atan2(-R(2, 0), -c2);
    } else {
        e1 = std::atan2(-R(2, 0), c2);
    }
    const double s = std::sin(e0);
    const double c = std::cos(e0);
    const double e2 = std::atan2(s * R(0, 2) - c * R(1, 2), c * R(1, 1) - s * R(0, 1));
    return {e0, e1, e2};
}

Eigen::Vector3d euler_degrees(const Eigen::Vector3d& euler_rad)
{
    const double pi = std::acos(-1.0);
    return {euler_rad(0) * 180.0 / pi, euler_rad(1) * 180.0 / pi, euler_rad(2) * 180.0 / pi};
}
