// Every threshold of the pallet detector, with its default and what it means (mm and degrees).
#pragma once

#include <cstddef>
#include <cstdint>

struct DetectorParams {
    // Floor: RANSAC over measured pixels of every floor_row_step-th row and floor_column_step-th
    // column, each sample three pixels near each other (on one surface far more often than three
    // anywhere), scored by the points within floor_band_mm; then least squares over those.
    int floor_row_step = 6;
    int floor_column_step = 8;
    int floor_trials = 64;
    double floor_band_mm = 10.0;           // a floor point at 4 m has a few mm of height noise
    std::size_t floor_min_inliers = 150;
    double floor_max_tilt_deg = 30.0;      // the normal within this of the camera's up
    double floor_min_height_mm = 30.0;     // the camera above the floor
    double floor_max_height_mm = 1500.0;
    // A parallel plane lower than the best one by this much, with this share of its support, is
    // the floor (the best may be a deck or a load's top close to the camera).
    double floor_lower_plane_mm = 30.0;
    double floor_lower_plane_share = 0.25;

    // Candidates: the nearest point of each image column at scan_low_mm..scan_high_mm above the
    // floor (every scan_row_step-th row), seen from above; chains of neighbouring columns whose
    // points lie within scan_jump_mm + scan_jump_per_mm * range of each other (no more than
    // scan_max_skip columns without a point between them), split where they bend by more than
    // scan_bend_mm + scan_bend_per_mm * range (or four times the chain's jitter), straight runs of
    // scan_min_columns columns and scan_min_length_mm at least; neighbouring runs whose points lie
    // on one line (within twice that) with no gap over scan_merge_gap_mm are one candidate.
    int scan_row_step = 2;
    double scan_low_mm = 30.0;
    double scan_high_mm = 170.0;
    double scan_jump_mm = 30.0;
    double scan_jump_per_mm = 0.025;
    int scan_max_skip = 6;
    double scan_bend_mm = 15.0;
    double scan_bend_per_mm = 0.008;
    int scan_min_columns = 6;
    double scan_min_length_mm = 250.0;
    double scan_max_length_mm = 2700.0;    // longer: a wall, a rack's beam, a row of boxes
    double scan_merge_gap_mm = 600.0;
    std::size_t max_candidates = 16;       // the nearest ones are measured

    // A candidate's face: the measured points within window_margin_mm of its line and beyond its
    // ends, band_low_mm..band_high_mm above the local floor for the face line (blocks and boards,
    // never the floor nor a load on the deck), up to top_high_mm for the face's top. The local
    // floor is the median height of the floor points within local_floor_reach_mm in front of the
    // face.
    double window_margin_mm = 250.0;
    double band_low_mm = 25.0;
    double band_high_mm = 125.0;
    double top_high_mm = 200.0;
    double local_floor_reach_mm = 400.0;
    double local_floor_band_mm = 40.0;     // floor points lie within this of the fitted floor
    // Points on the face line that make a face: face_min_inliers at face_min_inliers_range_mm and
    // nearer, falling with the square of the range beyond (a face's pixels do), to 40 at least.
    std::size_t face_min_inliers = 150;
    double face_min_inliers_range_mm = 2000.0;
    double face_min_facing_cos = 0.34;     // the face's normal within 70 degrees of the line of sight
    double run_gap_mm = 60.0;              // a gap this wide along the line ends a face

    // Openings: in each height slice of opening_slice_mm, gaps over opening_min_gap_mm between
    // block fronts at opening_low_mm..opening_high_mm; gaps of slices whose middles lie within
    // opening_merge_mm of each other are one opening, seen in opening_min_rows slices at least.
    double opening_min_gap_mm = 100.0;
    double opening_low_mm = 30.0;
    double opening_high_mm = 90.0;
    double opening_slice_mm = 5.0;
    double opening_merge_mm = 40.0;
    std::size_t opening_min_rows = 3;

    // Verdict.
    double max_lean_deg = 5.0;             // a face leaning more is no pallet face
    double floor_contact_mm = 50.0;        // the face's lowest points reach this close to the floor
    // A face that matches no type but stands on the floor with fork openings is an unknown type
    // when it shows at least unknown_min_openings of them, each unknown_min_opening_width_mm to
    // unknown_max_opening_width_mm wide and unknown_min_opening_height_mm high, and is
    // unknown_min_width_mm to unknown_max_width_mm wide.
    std::size_t unknown_min_openings = 2;
    double unknown_min_opening_width_mm = 200.0;
    double unknown_max_opening_width_mm = 800.0;
    double unknown_min_opening_height_mm = 70.0;
    double unknown_min_width_mm = 500.0;
    double unknown_max_width_mm = 2000.0;
    // Two faces of one pallet (square to each other, an end of one within corner_mm of an end of
    // the other): only the one turned more squarely to the camera is reported.
    double corner_angle_deg = 10.0;
    double corner_mm = 120.0;

    std::size_t max_pallets = 10;          // reported, nearest first
    bool explain = false;                  // keep the rejected candidates and why
    std::uint64_t seed = 1;                // of the robust fits' random samples
};
