#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "common/pallet_types.hpp"

namespace {

bool covered(const PalletType& type, double along, double height)
{
    for (const FacePart& p : type.parts) {
        if (p.rect.left_mm < along && along < p.rect.right_mm && p.rect.bottom_mm < height &&
            height < p.rect.top_mm) {
            return true;
        }
    }
    return false;
}

// An elevation that the renderer and the detector can both rely on: parts and openings inside the
// face, openings left to right and open, every part's edge within the face.
void expect_sound_face(const PalletType& type)
{
    SCOPED_TRACE(type.name.empty() ? "a side face" : type.name);
    ASSERT_FALSE(type.parts.empty());
    double top = 0.0;
    for (const FacePart& p : type.parts) {
        EXPECT_GE(p.rect.left_mm, 0.0);
        EXPECT_LE(p.rect.right_mm, type.width_mm);
        EXPECT_LT(p.rect.left_mm, p.rect.right_mm);
        EXPECT_GE(p.rect.bottom_mm, 0.0);
        EXPECT_LT(p.rect.bottom_mm, p.rect.top_mm);
        top = std::max(top, p.rect.top_mm);
    }
    EXPECT_EQ(top, type.height_mm) << "the parts reach the deck's top";
    for (std::size_t k = 0; k < type.openings.size(); ++k) {
        const FaceRect& o = type.openings[k];
        EXPECT_FALSE(covered(type, (o.left_mm + o.right_mm) / 2.0, (o.bottom_mm + o.top_mm) / 2.0));
        EXPECT_TRUE(covered(type, o.left_mm - 1.0, (o.bottom_mm + o.top_mm) / 2.0)) << "a block beside it";
        EXPECT_TRUE(covered(type, o.right_mm + 1.0, (o.bottom_mm + o.top_mm) / 2.0)) << "a block beside it";
        EXPECT_TRUE(covered(type, (o.left_mm + o.right_mm) / 2.0, o.top_mm + 1.0)) << "a board above it";
        if (k > 0) {
            EXPECT_GE(o.left_mm, type.openings[k - 1].right_mm);
        }
    }
}

std::string write_file(const std::string& name, const std::string& text)
{
    const std::string path = ::testing::TempDir() + name;
    std::ofstream(path) << text;
    return path;
}

std::string refusal(const std::string& text)
{
    std::string error;
    EXPECT_FALSE(parse_pallet_types(text, builtin_pallet_types(), error).has_value()) << text;
    return error;
}

const char* one_type = R"({"types": [{"name": "half_800x600", "width_mm": 600, "height_mm": 144,
    "openings": [{"left_mm": 100, "right_mm": 500, "bottom_mm": 0, "top_mm": 100}]}]})";

}  // namespace

TEST(PalletTypes, BuiltinFacesAreSoundAndDistinct)
{
    const std::vector<PalletType>& types = builtin_pallet_types();
    ASSERT_EQ(types.size(), 7u);
    const double widths[] = {1200.0, 800.0, 1200.0, 1000.0, 1100.0, 1016.0, 1200.0};
    for (std::size_t k = 0; k < types.size(); ++k) {
        EXPECT_EQ(types[k].width_mm, widths[k]) << types[k].name;
        EXPECT_EQ(types[k].openings.size(), 2u) << types[k].name;
        expect_sound_face(types[k]);
        EXPECT_EQ(find_pallet_type(types, types[k].name), &types[k]);
    }
    // Faces that their widths cannot tell apart must differ in their openings by more than both
    // tolerances.
    for (std::size_t a = 0; a < types.size(); ++a) {
        for (std::size_t b = a + 1; b < types.size(); ++b) {
            const double width_miss = types[a].width_tolerance_mm + types[b].width_tolerance_mm;
            if (std::abs(types[a].width_mm - types[b].width_mm) > width_miss) continue;
            const double wa = types[a].openings[0].right_mm - types[a].openings[0].left_mm;
            const double wb = types[b].openings[0].right_mm - types[b].openings[0].left_mm;
            EXPECT_GT(std::abs(wa - wb), 2.0 * types[a].opening_tolerance_mm) << types[a].name << " " << types[b].name;
        }
    }
    EXPECT_EQ(find_pallet_type(types, "no_such_type"), nullptr);
}

TEST(PalletTypes, ModelsJoinTwoFacesOfOneHeight)
{
    ASSERT_EQ(builtin_pallet_models().size(), 5u);
    EXPECT_EQ(builtin_pallet_models().front().name, "block_1200x800");
    for (const PalletModel& model : builtin_pallet_models()) {
        SCOPED_TRACE(model.name);
        EXPECT_EQ(find_pallet_model(model.name), &model);
        EXPECT_EQ(model.front.height_mm, model.side.height_mm);
        expect_sound_face(model.front);
        expect_sound_face(model.side);
        EXPECT_NE(find_pallet_type(builtin_pallet_types(), model.front.name), nullptr)
            << "every model's front is a built-in type";
    }
    EXPECT_EQ(find_pallet_model("block_1200x800")->side.name, "block_1200x800_short");
    EXPECT_EQ(find_pallet_model("stringer_48x40")->side.openings.size(), 0u) << "a two-way pallet";
    EXPECT_EQ(find_pallet_model("nothing"), nullptr);
}

TEST(PalletTypes, FileAddsOrReplacesTypes)
{
    std::string error;
    const auto added = parse_pallet_types(one_type, builtin_pallet_types(), error);
    ASSERT_TRUE(added.has_value()) << error;
    ASSERT_EQ(added->size(), builtin_pallet_types().size() + 1);
    const PalletType& half = added->back();
    EXPECT_EQ(half.name, "half_800x600");
    EXPECT_EQ(half.width_tolerance_mm, 40.0) << "the default tolerances";
    // Without parts: solid beside the opening up to its top, a deck across above it.
    ASSERT_EQ(half.parts.size(), 3u);
    expect_sound_face(half);

    std::string replacing = one_type;
    replacing.insert(1, R"("replace": true, )");
    const auto replaced = parse_pallet_types(replacing, builtin_pallet_types(), error);
    ASSERT_TRUE(replaced.has_value()) << error;
    ASSERT_EQ(replaced->size(), 1u);

    const auto tolerant = parse_pallet_types(R"({"types": [{"name": "t", "width_mm": 1000, "height_mm": 140,
        "openings": [{"left_mm": 100, "right_mm": 450, "bottom_mm": 0, "top_mm": 100},
                     {"left_mm": 550, "right_mm": 900, "bottom_mm": 0, "top_mm": 100}],
        "parts": [{"kind": "leg", "left_mm": 0, "right_mm": 100, "bottom_mm": 0, "top_mm": 100},
                  {"kind": "deck", "left_mm": 0, "right_mm": 1000, "bottom_mm": 100, "top_mm": 140}],
        "tolerances": {"width_mm": 25, "opening_mm": 12}}]})",
                                             {}, error);
    ASSERT_TRUE(tolerant.has_value()) << error;
    EXPECT_EQ(tolerant->at(0).width_tolerance_mm, 25.0);
    EXPECT_EQ(tolerant->at(0).opening_tolerance_mm, 12.0);
    EXPECT_EQ(tolerant->at(0).height_tolerance_mm, 20.0);
    EXPECT_EQ(tolerant->at(0).parts[0].kind, FacePartKind::block);
    EXPECT_EQ(tolerant->at(0).parts[1].kind, FacePartKind::board);
}

TEST(PalletTypes, BadFileNamesTheKeyAndTheReason)
{
    EXPECT_EQ(refusal("{\"types\": [1, 2"), "not JSON (at byte 16)");
    EXPECT_EQ(refusal("[]"), "must be an object");
    EXPECT_EQ(refusal("{}"), "types: is missing");
    EXPECT_EQ(refusal(R"({"types": []})"), "types: must be a list of at least one type");
    EXPECT_EQ(refusal(R"({"replace": 1, "types": []})"), "replace: must be true or false");
    EXPECT_EQ(refusal(R"({"typos": []})"), "typos: unknown key");

    const auto with = [](const std::string& from, const std::string& to) {
        std::string text = one_type;
        const std::size_t at = text.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return text.replace(at, from.size(), to);
    };
    EXPECT_EQ(refusal(with("\"width_mm\": 600", "\"width_mm\": \"600\"")), "types[0].width_mm: must be a number");
    EXPECT_EQ(refusal(with("\"width_mm\": 600", "\"width_mm\": 60")),
              "types[0].width_mm: must lie between 100 and 5000");
    EXPECT_EQ(refusal(with("\"width_mm\": 600, ", "")), "types[0].width_mm: is missing");
    EXPECT_EQ(refusal(with("\"name\": \"half_800x600\"", "\"name\": \"\"")),
              "types[0].name: must be a name (a non-empty string)");
    EXPECT_EQ(refusal(with("half_800x600", "block_1200x800_long")),
              "types[0].name: \"block_1200x800_long\" names a type already");
    EXPECT_EQ(refusal(with("\"right_mm\": 500", "\"right_mm\": 50")),
              "types[0].openings[0].right_mm: must be greater than left_mm");
    EXPECT_EQ(refusal(with("\"top_mm\": 100", "\"top_mm\": 150")),
              "types[0].openings[0].top_mm: must lie between 0 and 144");
    EXPECT_EQ(refusal(with("\"bottom_mm\": 0", "\"botom_mm\": 0")), "types[0].openings[0].botom_mm: unknown key");
    EXPECT_EQ(refusal(with("\"openings\": [", "\"openings\": [{\"left_mm\": 0, \"right_mm\": 200, "
                                               "\"bottom_mm\": 0, \"top_mm\": 90}, ")),
              "types[0].openings[1].left_mm: overlaps the opening before it (openings go left to right)");
    EXPECT_EQ(refusal(with("\"height_mm\": 144,", "\"height_mm\": 144, \"tolerances\": {\"width_mm\": 0},")),
              "types[0].tolerances.width_mm: must lie between 1 and 500");
    EXPECT_EQ(refusal(with("\"height_mm\": 144,",
                           "\"height_mm\": 144, \"parts\": [{\"kind\": \"brick\", \"left_mm\": 0, "
                           "\"right_mm\": 100, \"bottom_mm\": 0, \"top_mm\": 100}],")),
              "types[0].parts[0].kind: must be \"block\", \"leg\", \"stringer\", \"board\" or \"deck\"");
}

TEST(PalletTypes, LoadReadsRegularFilesOnly)
{
    std::string error;
    const std::string good = write_file("pallet_types_good.json", one_type);
    const auto types = load_pallet_types(good, builtin_pallet_types(), error);
    ASSERT_TRUE(types.has_value()) << error;
    EXPECT_EQ(types->back().name, "half_800x600");

    const std::string bad = write_file("pallet_types_bad.json", R"({"types": [{"name": "x"}]})");
    EXPECT_FALSE(load_pallet_types(bad, {}, error).has_value());
    EXPECT_EQ(error, bad + ": types[0].width_mm: is missing");

    EXPECT_FALSE(load_pallet_types(::testing::TempDir() + "no_such_types.json", {}, error).has_value());
    EXPECT_NE(error.find("cannot be read (No such file or directory)"), std::string::npos) << error;

    EXPECT_FALSE(load_pallet_types(::testing::TempDir(), {}, error).has_value());
    EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;

    const std::string fifo = ::testing::TempDir() + "pallet_types_fifo.json";
    std::remove(fifo.c_str());
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(load_pallet_types(fifo, {}, error).has_value()) << "returns without waiting for a writer";
    EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
    std::remove(fifo.c_str());
}
