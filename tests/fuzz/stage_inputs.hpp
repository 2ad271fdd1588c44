// Fuzz bytes turned into the inputs of single stages of the analysis, cheaply enough for a million
// runs: no scene is rendered per input. Rendered content comes from a few catalogue frames that
// are rendered once, and their combined band masks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include <opencv2/core.hpp>

#include "analysis/range_masks.hpp"

// The floor seen from a camera height_mm above it, pitched up and rolled: the depth along each
// pixel's ray to the plane up . p = -height, whole mm; rays that miss it, or meet it beyond
// 8 m, get `beyond`.
cv::Mat floor_plane(double height_mm, double pitch_deg, double roll_deg, std::uint16_t beyond);

// A depth frame (480 x 640 CV_16UC1) for the band mask stage: one depth everywhere, a floor plane
// seen from a mount that the bytes choose, or a catalogue frame; then the frame generator's edits.
// The same bytes give the same frame; every byte string gives one.
cv::Mat generate_band_frame(const std::uint8_t* data, std::size_t size);

// A combined band mask (480 x 640 CV_8UC1, 0 or 255): empty, a catalogue frame's mask, or runs of
// 0 and 255 read from the bytes; then up to 16 shapes drawn in 255 or 0 (rectangles, turned
// rectangles, polygons, ellipses, staircases, lines, speckles, raw bits).
cv::Mat generate_band_mask(const std::uint8_t* data, std::size_t size);

// What the face stage reads: the band mask, the depth, and a selection whose entry 0 is the face.
struct FaceInput {
    cv::Mat band_mask;               // as generate_band_mask makes it
    cv::Mat depth;                   // the catalogue frame of the mask, or one depth; then edits
    std::vector<Contour> selection;  // select_face of the mask's candidates, or polygons
};

// A face stage input. The selection is either the one the analysis makes of the mask (its
// candidate contours through select_face: possibly empty), or polygons with every vertex in the
// image, the first the face and the others anywhere, as no contour search would give them.
FaceInput generate_face_input(const std::uint8_t* data, std::size_t size);

// Seed corpora: inputs that reach each base and each kind of edit or shape.
std::vector<std::vector<std::uint8_t>> band_frame_seeds();
std::vector<std::vector<std::uint8_t>> band_mask_seeds();
std::vector<std::vector<std::uint8_t>> face_input_seeds();

// Generator bytes that give the mask itself (as runs), e.g. the band mask of a recorded frame.
std::vector<std::uint8_t> band_mask_bytes_of(const cv::Mat& band_mask);
