#include "tools/eval_detect_scenes.hpp"

#include <algorithm>
#include <cmath>

#include "common/random.hpp"
#include "sim/render.hpp"
#include "tools/eval_sweep.hpp"

namespace {

constexpr double pi = 3.14159265358979323846;

// The scene's own stream of parameters.
struct Draw {
    std::uint64_t state;

    double uniform(double lo, double hi)
    {
        const double unit = static_cast<double>(splitmix64(state) >> 11) * 0x1.0p-53;
        return lo + (hi - lo) * unit;
    }
    int below(int count) { return static_cast<int>(random_below(state, static_cast<std::uint64_t>(count))); }
    bool coin() { return below(2) == 1; }
    double sign() { return coin() ? 1.0 : -1.0; }
};

const sim::Sensor legacy_sensor;

// The models whose both faces are pallet types (the block pallets); the others are shown front on.
bool shows_both_faces(const std::string& model)
{
    return model.rfind("block_", 0) == 0;
}

const std::string& any_model(Draw& draw)
{
    const std::vector<PalletModel>& models = builtin_pallet_models();
    return models[static_cast<std::size_t>(draw.below(static_cast<int>(models.size())))].name;
}

const PalletType& face_of(const std::string& model, bool side)
{
    const PalletModel& m = *find_pallet_model(model);
    return side ? m.side : m.front;
}

// The camera height_mm up, tilted so that the face's middle distance_mm ahead lies a little
// below to a little above the optical axis; the floor stays in the lower image.
sim::Mount aimed_mount(Draw& draw, double height_mm, double distance_mm, double face_height_mm)
{
    sim::Mount mount;
    mount.height_mm = height_mm;
    const double down_deg = std::atan2(height_mm - face_height_mm / 2.0, distance_mm) * 180.0 / pi;
    mount.pitch_deg = std::clamp(-down_deg + draw.uniform(-4.0, 8.0), -25.0, 12.0);
    return mount;
}

void set_noise(DetectScene& s, double level)
{
    s.noise_level = level;
    s.scene.sensor.noise_k_per_mm = legacy_sensor.noise_k_per_mm * level;
    s.scene.sensor.dropout_rate = legacy_sensor.dropout_rate * level;
}

// One pallet of any model and face, distance_lo..distance_hi ahead, yaw within yaw_max_deg.
void add_any_pallet(DetectScene& s, Draw& draw, double distance_lo, double distance_hi, double yaw_max_deg)
{
    const std::string& model = any_model(draw);
    const bool side = shows_both_faces(model) && draw.coin();
    const double distance = draw.uniform(distance_lo, distance_hi);
    const double lateral = draw.uniform(-0.35, 0.35) * distance;
    const double yaw = draw.uniform(-yaw_max_deg, yaw_max_deg);
    s.scene.mount = aimed_mount(draw, draw.uniform(60.0, 400.0), distance, face_of(model, side).height_mm);
    s.scene.pallets.push_back(place_face(model, side, distance, lateral, yaw));
    s.counted.push_back(true);
    s.variant = model + (side ? "_side" : "_front");
}

// Two racks' uprights to either side, a low beam at pallet height and one above, depth_mm ahead.
void add_rack(sim::Scene& scene, double depth_mm, double lateral_mm)
{
    for (const double x : {-1400.0, 1400.0}) {
        sim::Box upright;
        upright.centre = {lateral_mm + x, depth_mm + 50.0, 1250.0};
        upright.size = {100.0, 100.0, 2500.0};
        upright.label = sim::Label::clutter;
        upright.material = sim::Material::steel_rack;
        scene.boxes.push_back(upright);
    }
    for (const double z : {120.0, 1500.0}) {
        sim::Box beam;
        beam.centre = {lateral_mm, depth_mm, z};
        beam.size = {2700.0, 60.0, 100.0};
        beam.label = sim::Label::clutter;
        beam.material = sim::Material::steel_rack;
        scene.boxes.push_back(beam);
    }
}

sim::Box carton(Draw& draw, double distance_lo, double distance_hi)
{
    sim::Box box;
    const double distance = draw.uniform(distance_lo, distance_hi);
    box.size = {draw.uniform(200.0, 1000.0), draw.uniform(200.0, 800.0), draw.uniform(150.0, 1000.0)};
    box.centre = {draw.uniform(-0.5, 0.5) * distance, distance, box.size.z() / 2.0};
    box.yaw_deg = draw.uniform(-40.0, 40.0);
    box.label = sim::Label::clutter;
    return box;
}

void make_lone(DetectScene& s, Draw& draw)
{
    add_any_pallet(s, draw, 600.0, 4000.0, 44.0);
}

void make_loaded(DetectScene& s, Draw& draw)
{
    add_any_pallet(s, draw, 1000.0, 3500.0, 30.0);
    const sim::PalletPlacement& pallet = s.scene.pallets.front();
    const PalletModel& model = *find_pallet_model(pallet.model);
    const double w = model.front.width_mm;
    const double d = model.side.width_mm;
    const int kind = draw.below(3);
    sim::Box load;
    if (kind == 0) {
        load = sim::load_on_pallet(pallet, {w, d, draw.uniform(300.0, 1000.0)});
        s.variant += "+flush_carton";
    } else if (kind == 1) {
        load = sim::load_on_pallet(pallet, {w, d, draw.uniform(1400.0, 1800.0)});
        s.variant += "+tall_load";
    } else {
        load = sim::load_on_pallet(pallet, {w - 20.0, d - 20.0, draw.uniform(600.0, 1400.0)});
        load.material = sim::Material::stretch_film;
        s.variant += "+stretch_film";
    }
    s.scene.boxes.push_back(load);
}

void make_backdrop(DetectScene& s, Draw& draw)
{
    add_any_pallet(s, draw, 1000.0, 3000.0, 30.0);
    const sim::PalletPlacement pallet = s.scene.pallets.front();
    const double behind = pallet.distance_mm + find_pallet_model(pallet.model)->side.width_mm + draw.uniform(100.0, 1200.0);
    switch (draw.below(4)) {
    case 0:
        s.scene.boxes.push_back(sim::back_wall(behind));
        s.variant += "+wall";
        break;
    case 1:
        add_rack(s.scene, behind, pallet.lateral_mm + draw.uniform(-300.0, 300.0));
        s.variant += "+rack";
        break;
    case 2:
        for (int k = 0, n = 2 + draw.below(3); k < n; ++k) s.scene.boxes.push_back(carton(draw, behind, behind + 1500.0));
        s.variant += "+boxes";
        break;
    default:
        s.scene.pallets.push_back(place_face(any_model(draw), false, behind, pallet.lateral_mm + draw.uniform(-900.0, 900.0),
                                             draw.uniform(-20.0, 20.0)));
        s.counted.push_back(false);
        s.variant += "+pallet_behind";
        break;
    }
}

void make_row(DetectScene& s, Draw& draw)
{
    const std::string& model = any_model(draw);
    const bool side = shows_both_faces(model) && draw.coin();
    const int n = 2 + draw.below(2);
    const double gap = draw.coin() ? 100.0 : draw.uniform(100.0, 600.0);
    const double distance = draw.uniform(1500.0, 4000.0);
    const double yaw = draw.uniform(-15.0, 15.0);
    const double lateral = draw.uniform(-300.0, 300.0);
    const double pitch = face_of(model, side).width_mm + gap;
    const double c = std::cos(yaw * pi / 180.0);
    const double sn = std::sin(yaw * pi / 180.0);
    s.scene.mount = aimed_mount(draw, draw.uniform(60.0, 400.0), distance, face_of(model, side).height_mm);
    for (int k = 0; k < n; ++k) {
        const double along = (k - (n - 1) / 2.0) * pitch;  // along the faces' common line
        s.scene.pallets.push_back(place_face(model, side, distance + sn * along, lateral + c * along, yaw));
        s.counted.push_back(true);
    }
    s.variant = std::to_string(n) + "x" + model + (side ? "_side" : "_front") + "_gap" +
                std::to_string(static_cast<int>(std::lround(gap)));
}

void make_cut_off(DetectScene& s, Draw& draw)
{
    const std::string& model = any_model(draw);
    const bool side = shows_both_faces(model) && draw.coin();
    const PalletType& face = face_of(model, side);
    const double distance = draw.uniform(800.0, 3000.0);
    const double edge = distance * sim::depth_camera.cx / sim::depth_camera.fx;  // the image edge's x there
    const double out = draw.uniform(80.0, face.width_mm / 2.0 - 80.0);           // of the face beyond it
    const double lateral = draw.sign() * (edge + out - face.width_mm / 2.0);      // its middle in view
    s.scene.mount = aimed_mount(draw, draw.uniform(60.0, 400.0), distance, face.height_mm);
    s.scene.pallets.push_back(place_face(model, side, distance, lateral, draw.uniform(-15.0, 15.0)));
    s.counted.push_back(true);
    s.variant = model + (side ? "_side" : "_front");
}

void make_pallet_free(DetectScene& s, Draw& draw)
{
    s.scene.mount = aimed_mount(draw, draw.uniform(60.0, 400.0), draw.uniform(1000.0, 3000.0), 144.0);
    switch (draw.below(5)) {
    case 0:
        s.variant = "floor";
        break;
    case 1:
        for (int k = 0, n = 1 + draw.below(4); k < n; ++k) s.scene.boxes.push_back(carton(draw, 800.0, 4000.0));
        s.variant = "boxes";
        break;
    case 2:
        s.scene.boxes.push_back(sim::back_wall(draw.uniform(1000.0, 4000.0)));
        s.variant = "wall";
        break;
    case 3:
        add_rack(s.scene, draw.uniform(1200.0, 4000.0), draw.uniform(-500.0, 500.0));
        s.variant = "rack";
        break;
    default: {
        const PalletModel& model = *find_pallet_model(any_model(draw));
        sim::Box crate;  // a pallet's outline and height, solid: no fork openings
        const double distance = draw.uniform(800.0, 3500.0);
        crate.size = {model.front.width_mm, model.side.width_mm, model.front.height_mm};
        crate.centre = {draw.uniform(-0.3, 0.3) * distance, distance + crate.size.y() / 2.0, crate.size.z() / 2.0};
        crate.yaw_deg = draw.uniform(-30.0, 30.0);
        crate.label = sim::Label::clutter;
        crate.material = sim::Material::wood;
        s.scene.boxes.push_back(crate);
        s.variant = "crate_" + model.name;
        break;
    }
    }
}

void make_working_mount(DetectScene& s, Draw& draw)
{
    s.scene.mount = sim::default_mount();
    s.scene.pallets.push_back(
        place_face("block_1200x800", false, draw.uniform(1000.0, 2000.0), draw.uniform(-250.0, 250.0), draw.uniform(-20.0, 20.0)));
    s.counted.push_back(true);
    s.variant = "block_1200x800_front";
}

}  // namespace

const char* detect_group_name(DetectGroup group)
{
    switch (group) {
    case DetectGroup::lone: return "lone";
    case DetectGroup::loaded: return "loaded";
    case DetectGroup::backdrop: return "backdrop";
    case DetectGroup::row: return "row";
    case DetectGroup::cut_off: return "cut_off";
    case DetectGroup::pallet_free: return "pallet_free";
    case DetectGroup::working_mount: return "working_mount";
    }
    return "";
}

std::uint64_t detect_scene_seed(std::uint64_t base_seed, DetectGroup group, int index)
{
    const std::uint64_t hash = fold_seed(splitmix64_of(base_seed), 1000.0 + static_cast<double>(group));
    return fold_seed(hash, static_cast<double>(index));
}

sim::PalletPlacement place_face(const std::string& model, bool side, double distance_mm, double lateral_mm,
                                double face_yaw_deg)
{
    sim::PalletPlacement placement;
    placement.model = model;
    placement.yaw_deg = side ? face_yaw_deg + 90.0 : face_yaw_deg;
    if (!side) {
        placement.distance_mm = distance_mm;
        placement.lateral_mm = lateral_mm;
        return placement;
    }
    const PalletModel& m = *find_pallet_model(model);
    placement.distance_mm = 0.0;
    placement.lateral_mm = 0.0;
    const Eigen::Vector3d middle =  // of the left side face, placed at the origin
        sim::pallet_to_floor(placement, {-m.front.width_mm / 2.0, m.side.width_mm / 2.0, 0.0});
    placement.distance_mm = distance_mm - middle.y();
    placement.lateral_mm = lateral_mm - middle.x();
    return placement;
}

DetectScene make_detect_scene(std::uint64_t base_seed, DetectGroup group, int index)
{
    DetectScene s;
    s.group = group;
    s.index = index;
    s.seed = detect_scene_seed(base_seed, group, index);
    Draw draw{s.seed};
    s.scene = sim::floor_scene();
    switch (group) {
    case DetectGroup::lone: make_lone(s, draw); break;
    case DetectGroup::loaded: make_loaded(s, draw); break;
    case DetectGroup::backdrop: make_backdrop(s, draw); break;
    case DetectGroup::row: make_row(s, draw); break;
    case DetectGroup::cut_off: make_cut_off(s, draw); break;
    case DetectGroup::pallet_free: make_pallet_free(s, draw); break;
    case DetectGroup::working_mount: make_working_mount(s, draw); break;
    }
    set_noise(s, group == DetectGroup::working_mount ? 1.0 : draw.below(2));
    return s;
}

std::vector<DetectScene> detector_scene_set(std::uint64_t base_seed, int count)
{
    const std::pair<DetectGroup, double> shares[] = {{DetectGroup::loaded, 0.12}, {DetectGroup::backdrop, 0.12},
                                                     {DetectGroup::row, 0.12}, {DetectGroup::cut_off, 0.08},
                                                     {DetectGroup::pallet_free, 0.16}};
    int others = 0;
    for (const auto& [group, share] : shares) others += static_cast<int>(std::lround(share * count));
    std::vector<DetectScene> scenes;
    for (int k = 0; k < count - others; ++k) scenes.push_back(make_detect_scene(base_seed, DetectGroup::lone, k));
    for (const auto& [group, share] : shares) {
        for (int k = 0, n = static_cast<int>(std::lround(share * count)); k < n; ++k)
            scenes.push_back(make_detect_scene(base_seed, group, k));
    }
    return scenes;
}

std::vector<DetectScene> working_mount_scenes(std::uint64_t base_seed, int count)
{
    std::vector<DetectScene> scenes;
    for (int k = 0; k < count; ++k) scenes.push_back(make_detect_scene(base_seed, DetectGroup::working_mount, k));
    return scenes;
}
