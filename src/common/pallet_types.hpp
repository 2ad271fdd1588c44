// Pallets as data. A pallet type describes one face: its width and height, the solid parts and
// fork openings of its elevation, and how far a measurement may miss them and still match. The
// detector matches faces against the types; the renderer builds whole pallets from two faces each.
#pragma once

#include <optional>
#include <string>
#include <vector>

// A rectangle of a face's elevation, seen from the front (mm): left_mm..right_mm along the face
// from its left end, bottom_mm..top_mm above the floor.
struct FaceRect {
    double left_mm = 0.0;
    double right_mm = 0.0;
    double bottom_mm = 0.0;
    double top_mm = 0.0;
};

// Blocks, legs and stringers carry the deck down to the floor; boards and decks span between them.
enum class FacePartKind { block, board };

struct FacePart {
    FaceRect rect;
    FacePartKind kind = FacePartKind::block;
};

struct PalletType {
    std::string name;                   // empty for a face that is no type (a renderer's side face)
    double width_mm = 0.0;
    double height_mm = 0.0;             // the deck's top above the floor
    std::vector<FacePart> parts;        // what the face shows solid
    std::vector<FaceRect> openings;     // the fork openings, left to right
    double width_tolerance_mm = 40.0;   // largest miss of the width that still matches
    double height_tolerance_mm = 20.0;  // of the height
    double opening_tolerance_mm = 30.0; // of each opening's middle, width and top
};

// The detector's built-in faces: both faces of the 1200 x 800 and the 1200 x 1000 block pallets,
// the 1100 x 1100 block pallet, the 1016 mm face of the 48 x 40 in stringer pallet and the 1200 mm
// face of a nine-leg plastic pallet.
const std::vector<PalletType>& builtin_pallet_types();

// The type of the given name among the types; null when there is none.
const PalletType* find_pallet_type(const std::vector<PalletType>& types, const std::string& name);

// A whole pallet for the renderer, from two elevations. The front face spans the pallet's width
// (pallet x from -width / 2 to width / 2), the side face its depth (pallet y from 0 to the side's
// width, seen from the right: its left end at the front). The pallet is solid at (x, y, z) when
// (x + width / 2, z) lies in a part of the front face and (y, z) in a part of the side face; the
// back and the left side are the front and the side mirrored.
struct PalletModel {
    std::string name;
    PalletType front;
    PalletType side;
};

// One model for each built-in pallet: "block_1200x800" (the first: the renderer's default),
// "block_1200x1000", "block_1100x1100", "stringer_48x40", "plastic_9leg_1200x800".
const std::vector<PalletModel>& builtin_pallet_models();

// The built-in model of the given name; null when there is none.
const PalletModel* find_pallet_model(const std::string& name);

// The types that a pallet type file gives (JSON; the README describes it), added to `base` or,
// with "replace": true, in place of it. Nothing, with the reason in `error` ("types[1].width_mm:
// ..."), when the text is no valid file.
std::optional<std::vector<PalletType>> parse_pallet_types(const std::string& text,
                                                          const std::vector<PalletType>& base,
                                                          std::string& error);

// The same for a file: its path and the reason in `error` when it cannot be read or is no valid
// file.
std::optional<std::vector<PalletType>> load_pallet_types(const std::string& path,
                                                         const std::vector<PalletType>& base,
                                                         std::string& error);
