#include "common/pallet_types.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>
#include <sys/stat.h>

namespace {

using Kind = FacePartKind;

FacePart part(double left, double right, double bottom, double top, Kind kind)
{
    return {{left, right, bottom, top}, kind};
}

// The same kind of part at several places along the face, each from..to.
void add_parts(std::vector<FacePart>& parts, std::initializer_list<std::pair<double, double>> spans,
               double bottom, double top, Kind kind)
{
    for (const auto& [left, right] : spans) parts.push_back(part(left, right, bottom, top, kind));
}

void add_openings(PalletType& type, std::initializer_list<std::pair<double, double>> spans,
                  double bottom, double top)
{
    for (const auto& [left, right] : spans) type.openings.push_back({left, right, bottom, top});
}

// The 1200 mm face of the 1200 x 800 block pallet: three 145 mm block columns on bottom boards
// that run front to back, a board across them, five deck boards' ends; openings from the floor.
PalletType block_1200x800_long()
{
    PalletType t{"block_1200x800_long", 1200.0, 144.0, {}, {}};
    const auto columns = {std::pair{0.0, 145.0}, {527.5, 672.5}, {1055.0, 1200.0}};
    add_parts(t.parts, columns, 0.0, 22.0, Kind::board);
    add_parts(t.parts, columns, 22.0, 100.0, Kind::block);
    add_parts(t.parts, {{0.0, 1200.0}}, 100.0, 122.0, Kind::board);
    add_parts(t.parts, {{0.0, 145.0}, {286.25, 386.25}, {527.5, 672.5}, {813.75, 913.75}, {1055.0, 1200.0}},
              122.0, 144.0, Kind::board);
    add_openings(t, {{145.0, 527.5}, {672.5, 1055.0}}, 0.0, 100.0);
    return t;
}

// Its 800 mm face: the side of a bottom board, three blocks, the board ends, a deck board's side;
// open from the bottom board up to the deck, between the board ends too.
PalletType block_1200x800_short()
{
    PalletType t{"block_1200x800_short", 800.0, 144.0, {}, {}};
    const auto blocks = {std::pair{0.0, 145.0}, {327.5, 472.5}, {655.0, 800.0}};
    add_parts(t.parts, {{0.0, 800.0}}, 0.0, 22.0, Kind::board);
    add_parts(t.parts, blocks, 22.0, 100.0, Kind::block);
    add_parts(t.parts, blocks, 100.0, 122.0, Kind::board);
    add_parts(t.parts, {{0.0, 800.0}}, 122.0, 144.0, Kind::board);
    add_openings(t, {{145.0, 327.5}, {472.5, 655.0}}, 22.0, 122.0);
    return t;
}

// The 1200 mm face of the 1200 x 1000 block pallet: 100 mm blocks, 90 mm high, 156 mm in all.
PalletType block_1200x1000_long()
{
    PalletType t{"block_1200x1000_long", 1200.0, 156.0, {}, {}};
    const auto columns = {std::pair{0.0, 100.0}, {550.0, 650.0}, {1100.0, 1200.0}};
    add_parts(t.parts, columns, 0.0, 22.0, Kind::board);
    add_parts(t.parts, columns, 22.0, 112.0, Kind::block);
    add_parts(t.parts, {{0.0, 1200.0}}, 112.0, 134.0, Kind::board);
    add_parts(t.parts, {{0.0, 100.0}, {262.5, 362.5}, {550.0, 650.0}, {837.5, 937.5}, {1100.0, 1200.0}},
              134.0, 156.0, Kind::board);
    add_openings(t, {{100.0, 550.0}, {650.0, 1100.0}}, 0.0, 112.0);
    return t;
}

PalletType block_1200x1000_short()
{
    PalletType t{"block_1200x1000_short", 1000.0, 156.0, {}, {}};
    const auto blocks = {std::pair{0.0, 145.0}, {427.5, 572.5}, {855.0, 1000.0}};
    add_parts(t.parts, {{0.0, 1000.0}}, 0.0, 22.0, Kind::board);
    add_parts(t.parts, blocks, 22.0, 112.0, Kind::block);
    add_parts(t.parts, blocks, 112.0, 134.0, Kind::board);
    add_parts(t.parts, {{0.0, 1000.0}}, 134.0, 156.0, Kind::board);
    add_openings(t, {{145.0, 427.5}, {572.5, 855.0}}, 22.0, 134.0);
    return t;
}

// The square block pallet without bottom boards: blocks standing on the floor, boards across them
// on every side. Its front shows five deck boards' ends; its side (side_1100x1100) the outer deck
// board's side. Both match this type.
PalletType block_1100x1100()
{
    PalletType t{"block_1100x1100", 1100.0, 144.0, {}, {}};
    add_parts(t.parts, {{0.0, 145.0}, {477.5, 622.5}, {955.0, 1100.0}}, 0.0, 100.0, Kind::block);
    add_parts(t.parts, {{0.0, 1100.0}}, 100.0, 122.0, Kind::board);
    add_parts(t.parts, {{0.0, 145.0}, {261.25, 361.25}, {477.5, 622.5}, {738.75, 838.75}, {955.0, 1100.0}},
              122.0, 144.0, Kind::board);
    add_openings(t, {{145.0, 477.5}, {622.5, 955.0}}, 0.0, 100.0);
    return t;
}

PalletType side_1100x1100()
{
    PalletType t = block_1100x1100();
    t.parts.clear();
    add_parts(t.parts, {{0.0, 145.0}, {477.5, 622.5}, {955.0, 1100.0}}, 0.0, 100.0, Kind::block);
    add_parts(t.parts, {{0.0, 1100.0}}, 100.0, 122.0, Kind::board);
    add_parts(t.parts, {{0.0, 1100.0}}, 122.0, 144.0, Kind::board);
    return t;
}

// The 40 in (1016 mm) face of the 48 x 40 in stringer pallet: the three stringers' ends (38 x 89
// mm) between a bottom and a top deck board (19 mm) that run across the whole face.
PalletType stringer_48x40_1016()
{
    PalletType t{"stringer_48x40_1016", 1016.0, 127.0, {}, {}};
    add_parts(t.parts, {{0.0, 1016.0}}, 0.0, 19.0, Kind::board);
    add_parts(t.parts, {{0.0, 38.0}, {489.0, 527.0}, {978.0, 1016.0}}, 19.0, 108.0, Kind::block);
    add_parts(t.parts, {{0.0, 1016.0}}, 108.0, 127.0, Kind::board);
    add_openings(t, {{38.0, 489.0}, {527.0, 978.0}}, 19.0, 108.0);
    return t;
}

// Its 48 in side: a stringer's side, five bottom and seven top boards' ends; no fork opening.
PalletType stringer_48x40_side()
{
    PalletType t{"", 1219.0, 127.0, {}, {}};
    for (int k = 0; k < 5; ++k) {
        const double left = k * (1219.0 - 140.0) / 4.0;
        t.parts.push_back(part(left, left + 140.0, 0.0, 19.0, Kind::board));
    }
    t.parts.push_back(part(0.0, 1219.0, 19.0, 108.0, Kind::block));
    for (int k = 0; k < 7; ++k) {
        const double left = k * (1219.0 - 120.0) / 6.0;
        t.parts.push_back(part(left, left + 120.0, 108.0, 127.0, Kind::board));
    }
    return t;
}

// The 1200 mm face of a nine-leg plastic pallet: a 40 mm deck on legs 110 mm high, the middle
// leg wider.
PalletType plastic_9leg_1200()
{
    PalletType t{"plastic_9leg_1200", 1200.0, 150.0, {}, {}};
    add_parts(t.parts, {{0.0, 175.0}, {475.0, 725.0}, {1025.0, 1200.0}}, 0.0, 110.0, Kind::block);
    add_parts(t.parts, {{0.0, 1200.0}}, 110.0, 150.0, Kind::board);
    add_openings(t, {{175.0, 475.0}, {725.0, 1025.0}}, 0.0, 110.0);
    return t;
}

// Its 800 mm side: openings of 125 mm, too narrow for forks.
PalletType plastic_9leg_side()
{
    PalletType t{"", 800.0, 150.0, {}, {}};
    add_parts(t.parts, {{0.0, 175.0}, {300.0, 500.0}, {625.0, 800.0}}, 0.0, 110.0, Kind::block);
    add_parts(t.parts, {{0.0, 800.0}}, 110.0, 150.0, Kind::board);
    return t;
}

}  // namespace

const std::vector<PalletType>& builtin_pallet_types()
{
    static const std::vector<PalletType> types{block_1200x800_long(),  block_1200x800_short(),
                                               block_1200x1000_long(), block_1200x1000_short(),
                                               block_1100x1100(),      stringer_48x40_1016(),
                                               plastic_9leg_1200()};
    return types;
}

const PalletType* find_pallet_type(const std::vector<PalletType>& types, const std::string& name)
{
    for (const PalletType& type : types) {
        if (type.name == name) return &type;
    }
    return nullptr;
}

const std::vector<PalletModel>& builtin_pallet_models()
{
    static const std::vector<PalletModel> models{
        {"block_1200x800", block_1200x800_long(), block_1200x800_short()},
        {"block_1200x1000", block_1200x1000_long(), block_1200x1000_short()},
        {"block_1100x1100", block_1100x1100(), side_1100x1100()},
        {"stringer_48x40", stringer_48x40_1016(), stringer_48x40_side()},
        {"plastic_9leg_1200x800", plastic_9leg_1200(), plastic_9leg_side()}};
    return models;
}

const PalletModel* find_pallet_model(const std::string& name)
{
    for (const PalletModel& model : builtin_pallet_models()) {
        if (model.name == name) return &model;
    }
    return nullptr;
}

// The type file.
namespace {

using json = nlohmann::json;

// A refusal: the key path where the file went wrong and why.
struct FileError {
    std::string where;
    std::string why;
};

void require_keys(const json& object, const std::string& where, std::initializer_list<const char*> allowed)
{
    if (!object.is_object()) throw FileError{where, "must be an object"};
    for (const auto& item : object.items()) {
        if (std::find_if(allowed.begin(), allowed.end(),
                         [&](const char* key) { return item.key() == key; }) == allowed.end()) {
            throw FileError{where.empty() ? item.key() : where + "." + item.key(), "unknown key"};
        }
    }
}

// The number at object[key], within [lo, hi]; `fallback` when the key is missing and optional.
double number_at(const json& object, const std::string& where, const char* key, double lo, double hi,
                 std::optional<double> fallback = std::nullopt)
{
    const std::string path = where + "." + key;
    if (!object.contains(key)) {
        if (fallback) return *fallback;
        throw FileError{path, "is missing"};
    }
    const json& value = object.at(key);
    if (!value.is_number()) throw FileError{path, "must be a number"};
    const double x = value.get<double>();
    if (!(x >= lo && x <= hi)) {
        std::ostringstream range;
        range << "must lie between " << lo << " and " << hi;
        throw FileError{path, range.str()};
    }
    return x;
}

FaceRect rect_at(const json& object, const std::string& where, const PalletType& type)
{
    FaceRect r;
    r.left_mm = number_at(object, where, "left_mm", 0.0, type.width_mm);
    r.right_mm = number_at(object, where, "right_mm", 0.0, type.width_mm);
    r.bottom_mm = number_at(object, where, "bottom_mm", 0.0, type.height_mm);
    r.top_mm = number_at(object, where, "top_mm", 0.0, type.height_mm);
    if (!(r.right_mm > r.left_mm)) throw FileError{where + ".right_mm", "must be greater than left_mm"};
    if (!(r.top_mm > r.bottom_mm)) throw FileError{where + ".top_mm", "must be greater than bottom_mm"};
    return r;
}

// Without parts the face is solid beside its openings up to their top, and across above them.
std::vector<FacePart> parts_around_openings(const PalletType& type)
{
    std::vector<FacePart> parts;
    double top = 0.0;
    for (const FaceRect& o : type.openings) top = std::max(top, o.top_mm);
    double left = 0.0;
    for (const FaceRect& o : type.openings) {
        if (o.left_mm > left) parts.push_back(part(left, o.left_mm, 0.0, top, Kind::block));
        left = o.right_mm;
    }
    if (type.width_mm > left) parts.push_back(part(left, type.width_mm, 0.0, top, Kind::block));
    if (type.height_mm > top) parts.push_back(part(0.0, type.width_mm, top, type.height_mm, Kind::board));
    return parts;
}

PalletType type_at(const json& object, const std::string& where)
{
    require_keys(object, where, {"name", "width_mm", "height_mm", "parts", "openings", "tolerances"});
    PalletType type;
    if (!object.contains("name")) throw FileError{where + ".name", "is missing"};
    if (!object.at("name").is_string() || object.at("name").get<std::string>().empty()) {
        throw FileError{where + ".name", "must be a name (a non-empty string)"};
    }
    type.name = object.at("name").get<std::string>();
    type.width_mm = number_at(object, where, "width_mm", 100.0, 5000.0);
    type.height_mm = number_at(object, where, "height_mm", 30.0, 1000.0);

    const std::string openings_where = where + ".openings";
    if (!object.contains("openings")) throw FileError{openings_where, "is missing"};
    const json& openings = object.at("openings");
    if (!openings.is_array() || openings.empty()) {
        throw FileError{openings_where, "must be a list of at least one opening"};
    }
    for (std::size_t k = 0; k < openings.size(); ++k) {
        const std::string at = openings_where + "[" + std::to_string(k) + "]";
        require_keys(openings[k], at, {"left_mm", "right_mm", "bottom_mm", "top_mm"});
        type.openings.push_back(rect_at(openings[k], at, type));
        if (k > 0 && type.openings[k].left_mm < type.openings[k - 1].right_mm) {
            throw FileError{at + ".left_mm", "overlaps the opening before it (openings go left to right)"};
        }
    }

    if (object.contains("parts")) {
        const json& parts = object.at("parts");
        if (!parts.is_array()) throw FileError{where + ".parts", "must be a list"};
        for (std::size_t k = 0; k < parts.size(); ++k) {
            const std::string at = where + ".parts[" + std::to_string(k) + "]";
            require_keys(parts[k], at, {"kind", "left_mm", "right_mm", "bottom_mm", "top_mm"});
            FacePart p;
            p.rect = rect_at(parts[k], at, type);
            const json kind = parts[k].value("kind", json("block"));
            if (kind == "block" || kind == "leg" || kind == "stringer") {
                p.kind = Kind::block;
            } else if (kind == "board" || kind == "deck") {
                p.kind = Kind::board;
            } else {
                throw FileError{at + ".kind", "must be \"block\", \"leg\", \"stringer\", \"board\" or \"deck\""};
            }
            type.parts.push_back(p);
        }
    } else {
        type.parts = parts_around_openings(type);
    }

    if (object.contains("tolerances")) {
        const json& t = object.at("tolerances");
        const std::string at = where + ".tolerances";
        require_keys(t, at, {"width_mm", "height_mm", "opening_mm"});
        type.width_tolerance_mm = number_at(t, at, "width_mm", 1.0, 500.0, type.width_tolerance_mm);
        type.height_tolerance_mm = number_at(t, at, "height_mm", 1.0, 500.0, type.height_tolerance_mm);
        type.opening_tolerance_mm = number_at(t, at, "opening_mm", 1.0, 500.0, type.opening_tolerance_mm);
    }
    return type;
}

std::vector<PalletType> types_of(const json& file, const std::vector<PalletType>& base)
{
    require_keys(file, "", {"replace", "types"});
    bool replace = false;
    if (file.contains("replace")) {
        if (!file.at("replace").is_boolean()) throw FileError{"replace", "must be true or false"};
        replace = file.at("replace").get<bool>();
    }
    if (!file.contains("types")) throw FileError{"types", "is missing"};
    const json& list = file.at("types");
    if (!list.is_array() || list.empty()) throw FileError{"types", "must be a list of at least one type"};
    std::vector<PalletType> types = replace ? std::vector<PalletType>{} : base;
    std::set<std::string> names;
    for (const PalletType& type : types) names.insert(type.name);
    for (std::size_t k = 0; k < list.size(); ++k) {
        const std::string where = "types[" + std::to_string(k) + "]";
        PalletType type = type_at(list[k], where);
        if (!names.insert(type.name).second) {
            throw FileError{where + ".name", "\"" + type.name + "\" names a type already"};
        }
        types.push_back(std::move(type));
    }
    return types;
}

}  // namespace

std::optional<std::vector<PalletType>> parse_pallet_types(const std::string& text,
                                                          const std::vector<PalletType>& base,
                                                          std::string& error)
{
    json file;
    try {
        file = json::parse(text);
    } catch (const json::parse_error& e) {
        error = "not JSON (at byte " + std::to_string(e.byte) + ")";
        return std::nullopt;
    }
    try {
        return types_of(file, base);
    } catch (const FileError& e) {
        error = e.where.empty() ? e.why : e.where + ": " + e.why;
        return std::nullopt;
    }
}

std::optional<std::vector<PalletType>> load_pallet_types(const std::string& path,
                                                         const std::vector<PalletType>& base,
                                                         std::string& error)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        error = path + ": cannot be read (" + std::strerror(errno) + ")";
        return std::nullopt;
    }
    if (!S_ISREG(info.st_mode)) {  // a pipe would block the start, a folder reads as nothing
        error = path + ": not a regular file";
        return std::nullopt;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": cannot be read (" + std::strerror(errno) + ")";
        return std::nullopt;
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) {
        error = path + ": cannot be read";
        return std::nullopt;
    }
    std::optional<std::vector<PalletType>> types = parse_pallet_types(text.str(), base, error);
    if (!types) error = path + ": " + error;
    return types;
}
