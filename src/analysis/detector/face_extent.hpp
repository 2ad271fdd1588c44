// Step 5: the face's extent: its ends, seen row by row, its top, its lean and how low it reaches.
#pragma once

#include <cstdint>
#include <vector>

#include <opencv2/core.hpp>

#include "analysis/detector/face_geometry.hpp"
#include "analysis/detector/face_line.hpp"
#include "analysis/detector/floor_frame.hpp"

// The face's inliers row by row, each row left to right (the inliers are row-major): row r holds
// index[start[r]] .. index[start[r + 1] - 1], indices into the fit's inliers.
struct FaceRows {
    std::vector<std::uint32_t> index;
    std::vector<std::uint32_t> start;
    std::size_t count() const { return start.empty() ? 0 : start.size() - 1; }
};

void rows_of(const std::vector<FacePoint>& band, const FaceFit& fit, FaceRows& rows);

// Where the ray through pixel (v, u) meets the face line, along it: a point's place along the face
// free of its depth's noise. NaN for a ray that does not meet the line in front of the camera.
double ray_along(const Line& line, const FloorFrame& f, double v, double u);

// Where the ray through the point's row, half a column outwards (towards larger `along` when
// outward > 0), meets the face line: on average the face ends half a pixel beyond the last pixel
// that sees it.
double half_pixel_beyond(const Line& line, const FacePoint& p, double t, const FloorFrame& f, double outward);

// A pixel at the image's left or right border: a face that reaches it may go on beyond.
bool at_image_border(const FacePoint& p);

// The ends of the face along its line: each the median over the rows that reach it (their
// outermost inlier within a few pixels of the extent's, followed by a pixel off the face plane)
// of that inlier moved half a pixel outwards; NaN for an end at the image border. Also each end's
// row estimates, for its uncertainty (in no order).
struct FaceEnds {
    double left = NAN;
    double right = NAN;
    std::vector<double> left_rows, right_rows;
};
void face_ends(const cv::Mat& depth, const std::vector<FacePoint>& band, const FaceFit& fit, const FaceRows& rows,
               const FloorFrame& f, std::vector<double>& values, FaceEnds& ends);

// An edge of a solid part of the face (an end of the face or a block's side at an opening) moved
// onto the side surface behind it where the camera sees that surface: the rows' edges lie beyond
// the true one by the side's points that the noise lets pass for the face's. `solid` is -1 when the
// part lies at smaller places along the line than the edge, +1 when at larger. Only a side that
// faces the camera is seen. The side's points, 3 scales (20 mm at least) to 200 mm behind the face
// at 30..100 mm (block heights, never a deck's top), all share its place along the line: their
// median within 60 mm of the edge (on the part's side) to 20 mm beyond it, with 10 of them at
// least, and moved by no more than the noise can have pushed the edge out; else the edge as it is.
double side_edge(const std::vector<FacePoint>& band, const FaceFit& fit, double edge, double solid,
                 std::vector<double>& values);

// Lean of the face from the vertical: the slope of the residual against the height over the
// inliers, in degrees; > 0 when the top lies farther away. NaN without spread in height. Its
// standard error (from the residuals' spread about the slope) into standard_error_deg.
double face_lean_deg(const std::vector<FacePoint>& band, const FaceFit& fit, double& standard_error_deg);

// A stretch of places along the face line.
struct Span {
    double lo, hi;
};

// The same from the solid parts alone: inliers whose place lies in none of the spans (the fork
// openings, where the floor and the pallet's inside pass for the face's base when the band is
// wide).
double face_lean_deg(const std::vector<FacePoint>& band, const FaceFit& fit, const std::vector<Span>& openings,
                     double& standard_error_deg);

// The heights of the points at least 100 mm up within 15 mm of the line (at most its inlier band)
// between the ends, in no order: what the face's top is read from (the deck boards' front ends
// included, a load set back 25 mm never).
void top_heights(const std::vector<FacePoint>& band, const std::vector<FacePoint>& upper, const FaceFit& fit,
                 std::vector<double>& heights);

// The top of the face above the floor: the third highest of those heights at most `cap` (the two
// above it may be noise), or the lowest of them; NaN when there is none.
double face_top(const std::vector<double>& heights, double cap);

// Whether more than half the face's width (in 40 mm bins) holds points on its line above `height`:
// a load that stands flush with the face goes on above the deck. `bins` is scratch.
bool face_goes_on_above(const std::vector<FacePoint>& upper, const FaceFit& fit, double height, std::vector<int>& bins);

// How low the face reaches: the height below which a twentieth of its points lie, its base taken
// against its trend (floor multipath reads it long).
double face_bottom(const std::vector<FacePoint>& band, const FaceFit& fit, std::vector<double>& values);
