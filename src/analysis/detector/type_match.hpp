// Step 7: the pallet type of a measured face: the type whose elevation, laid along the face line,
// puts its width, openings and top where they were measured.
#pragma once

#include <array>
#include <cstddef>
#include <vector>

#include "analysis/detector/face_extent.hpp"
#include "analysis/detector/openings.hpp"
#include "analysis/dock_pose.hpp"
#include "common/pallet_types.hpp"

// What was measured of a face, along its line (mm).
struct MeasuredFace {
    double left = NAN, right = NAN;            // its ends; NaN at the image border
    double seen_left = NAN, seen_right = NAN;  // how far its points reach
    const std::vector<Opening>* openings = nullptr;
};

// A face with more openings measured than this matches no type (none has as many).
inline constexpr std::size_t max_matched_openings = 16;

// A type laid along the face: where its left end lies along the line (seen from the camera; a
// mirrored type shows its elevation from behind), which of its openings each measured opening is
// (-1 for none), and how far the measurement misses it.
struct TypeMatch {
    const PalletType* type = nullptr;          // null when no type fits
    bool mirrored = false;
    double face_left = NAN;
    double top = NAN;                          // the face's top, at most the type's height and
                                               // its tolerance above the floor
    std::array<int, max_matched_openings> opening_of = no_openings();  // per measured opening
    double width_miss = 0.0;                   // |measured - type|, 0 with an end unseen
    double opening_miss = 0.0;                 // the largest miss of an opening's middle or width
    double score = 0.0;                        // sum of the squared misses over their tolerances

    static std::array<int, max_matched_openings> no_openings()
    {
        std::array<int, max_matched_openings> none{};
        none.fill(-1);
        return none;
    }
};

// The type among `types` that fits the face best, or none with the reason: wrong_width (both ends
// seen, no type as wide), wrong_pockets (no type's openings where they were seen), face_cut_off
// (no end pair and no opening seen to place a type by). Every opening that a type puts wholly
// within the seen part must have been measured, within its tolerance in middle, width and top,
// and no other; with one end seen, the type must not end short of the points; the face's top
// within the height tolerance, read from `heights` (top_heights).
TypeMatch match_type(const MeasuredFace& face, const std::vector<double>& heights,
                     const std::vector<PalletType>& types, DockReason& failure);

// Where the face's centre lies along the line with the match: the middle of its ends when both
// were seen, else the mean of what each seen end and each matched opening says of the type's left
// end, plus half its width.
double matched_centre(const MeasuredFace& face, const TypeMatch& match);
