#include "sim/materials.hpp"

#include "sim/scene.hpp"

namespace sim {

MaterialOptics optics_of(Material material)
{
    // Typical near-infrared reflectances: fresh timber and board are bright, black film and
    // plastic dark; a rack's enamel and the film are glossy.
    switch (material) {
    case Material::wood: return {0.45, 0.0};
    case Material::plastic: return {0.25, 0.2};
    case Material::carton: return {0.60, 0.0};
    case Material::stretch_film: return {0.06, 0.5};
    case Material::painted_wall: return {0.75, 0.0};
    case Material::steel_rack: return {0.35, 0.4};
    case Material::concrete:
    case Material::automatic: break;
    }
    return {0.30, 0.0};
}

Material material_of_label(Label label)
{
    switch (label) {
    case Label::pallet_block:
    case Label::pallet_board: return Material::wood;
    case Label::load:
    case Label::clutter: return Material::carton;
    case Label::wall: return Material::painted_wall;
    case Label::none:
    case Label::floor:
    case Label::platform: break;
    }
    return Material::concrete;
}

Material material_of_pallet(const PalletModel& model)
{
    return model.name.compare(0, 8, "plastic_") == 0 ? Material::plastic : Material::wood;
}

std::string material_name(Material material)
{
    switch (material) {
    case Material::automatic: return "automatic";
    case Material::wood: return "wood";
    case Material::plastic: return "plastic";
    case Material::carton: return "carton";
    case Material::stretch_film: return "stretch_film";
    case Material::concrete: return "concrete";
    case Material::painted_wall: return "painted_wall";
    case Material::steel_rack: return "steel_rack";
    }
    return "automatic";
}

}  // namespace sim
