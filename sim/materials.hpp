// What the surfaces of a scene are made of, and how they return the time-of-flight camera's
// near-infrared light. Only the time-of-flight sensor model (sim/tof.hpp) reads materials; the
// legacy sensor sees geometry alone.
#pragma once

#include <cstdint>
#include <string>

#include "common/pallet_types.hpp"

namespace sim {

enum class Label : std::uint8_t;

enum class Material : std::uint8_t {
    automatic = 0,  // from the surface's label: see material_of_label
    wood,           // pallet timber
    plastic,        // moulded pallet plastic
    carton,         // corrugated board
    stretch_film,   // black stretch film wrapped round a load
    concrete,       // a warehouse floor
    painted_wall,   // light wall paint
    steel_rack,     // painted rack uprights and beams
};

// How a material returns the light, at the camera's wavelength (about 850 nm). The returned
// fraction at incidence angle theta (c = cos theta) is albedo * ((1 - gloss) * c + gloss * c^8):
// a matt surface follows Lambert's cosine, a glossy one loses more of its return off the normal.
struct MaterialOptics {
    double albedo;  // 0..1, diffuse reflectance seen square on
    double gloss;   // 0..1, share of the return in the narrow lobe about the normal
};

// The optics of a material; Material::automatic gives those of concrete (call material_of_label
// first).
MaterialOptics optics_of(Material material);

// The material a surface of the given label is made of when nothing says otherwise: pallets wood,
// loads and clutter boxes carton, walls painted, the floor and raised platforms concrete.
Material material_of_label(Label label);

// The material of a pallet model: the plastic model ("plastic_...") plastic, every other wood.
Material material_of_pallet(const PalletModel& model);

// The material's name as written in this header ("stretch_film"); "automatic" for automatic.
std::string material_name(Material material);

}  // namespace sim
