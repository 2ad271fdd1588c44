#include "analysis/detector/type_match.hpp"

#include <cmath>
#include <string>

#include <gtest/gtest.h>

namespace {

// A face as measured: its ends, how far its points reach, its openings and its top's heights.
struct Face {
    double left = NAN, right = NAN, seen_left = NAN, seen_right = NAN;
    std::vector<Opening> openings;
    std::vector<double> heights;
};

// The type's elevation laid along the line with its left end at t0, as the camera sees it (from
// behind when mirrored): both ends seen, every opening measured where the type has it.
Face laid(const PalletType& type, double t0, bool mirrored = false)
{
    Face face;
    face.left = face.seen_left = t0;
    face.right = face.seen_right = t0 + type.width_mm;
    for (std::size_t k = 0; k < type.openings.size(); ++k) {
        const FaceRect& o = type.openings[mirrored ? type.openings.size() - 1 - k : k];
        const double lo = mirrored ? type.width_mm - o.right_mm : o.left_mm;
        const double hi = mirrored ? type.width_mm - o.left_mm : o.right_mm;
        face.openings.push_back({t0 + lo, t0 + hi, 12, o.top_mm});
    }
    face.heights.assign(5, type.height_mm);  // highest first
    return face;
}

MeasuredFace measured(const Face& face)
{
    return {face.left, face.right, face.seen_left, face.seen_right, &face.openings};
}

struct Outcome {
    TypeMatch match;
    DockReason failure = DockReason::none;
    std::string name;  // of the matched type, empty for none
};

Outcome match(const Face& face, const std::vector<PalletType>& types = builtin_pallet_types())
{
    Outcome out;
    out.match = match_type(measured(face), face.heights, types, out.failure);
    if (out.match.type != nullptr) out.name = out.match.type->name;
    return out;
}

// Where the matched type puts the face's centre.
double centre(const Face& face, const Outcome& out)
{
    return matched_centre(measured(face), out.match);
}

// A type whose openings are not where its mirror has them.
PalletType lopsided()
{
    PalletType type{"lopsided_1000", 1000.0, 140.0, {}, {}};
    type.openings = {{100.0, 400.0, 0.0, 100.0}, {520.0, 880.0, 0.0, 100.0}};
    return type;
}

}  // namespace

TEST(DetectorTypeMatch, EveryTypeMatchesItsOwnElevation)
{
    for (const PalletType& type : builtin_pallet_types()) {
        SCOPED_TRACE(type.name);
        const double t0 = -type.width_mm / 2.0 + 37.0;
        const Outcome exact = match(laid(type, t0));
        ASSERT_EQ(exact.name, type.name) << dock_reason_name(exact.failure);
        EXPECT_EQ(exact.failure, DockReason::none);
        EXPECT_NEAR(exact.match.face_left, t0, 1e-9);
        EXPECT_NEAR(exact.match.width_miss, 0.0, 1e-9);
        EXPECT_NEAR(exact.match.opening_miss, 0.0, 1e-9);
        EXPECT_EQ(exact.match.top, type.height_mm);
        ASSERT_LT(type.openings.size(), max_matched_openings);
        for (std::size_t j = 0; j < type.openings.size(); ++j) EXPECT_EQ(exact.match.opening_of[j], static_cast<int>(j));
        EXPECT_EQ(exact.match.opening_of[type.openings.size()], -1);
        EXPECT_NEAR(centre(laid(type, t0), exact), t0 + type.width_mm / 2.0, 1e-9);

        // Misses within the tolerances: 35 mm wider, an opening 25 mm off, the top 15 mm high.
        Face off = laid(type, t0);
        off.left -= 17.5;
        off.right += 17.5;
        off.seen_left = off.left;
        off.seen_right = off.right;
        off.openings[0].lo += 25.0;
        off.openings[0].hi += 25.0;
        off.heights.assign(5, type.height_mm + 15.0);
        const Outcome near_miss = match(off);
        ASSERT_EQ(near_miss.name, type.name) << dock_reason_name(near_miss.failure);
        EXPECT_NEAR(near_miss.match.width_miss, 35.0, 1e-9);
        EXPECT_NEAR(near_miss.match.opening_miss, 25.0, 1e-9);
        EXPECT_GT(near_miss.match.score, exact.match.score);
    }
}

TEST(DetectorTypeMatch, AMissBeyondAToleranceRefusesTheType)
{
    for (const PalletType& type : builtin_pallet_types()) {
        SCOPED_TRACE(type.name);
        const double t0 = -300.0;
        // 50 mm wider or narrower than the type, the openings where it has them.
        for (const double more : {50.0, -50.0}) {
            Face face = laid(type, t0);
            face.right = face.seen_right = face.right + more;
            const Outcome out = match(face);
            EXPECT_NE(out.name, type.name) << more;
            bool other_width = false;
            for (const PalletType& t : builtin_pallet_types()) {
                other_width = other_width || std::abs(t.width_mm - (type.width_mm + more)) <= t.width_tolerance_mm;
            }
            if (!other_width) {
                EXPECT_EQ(out.failure, DockReason::wrong_width) << more;
            }
        }
        // An opening's middle, its width or its top 35 mm off.
        for (int what = 0; what < 3; ++what) {
            Face face = laid(type, t0);
            Opening& o = face.openings.back();
            if (what == 0) {
                o.lo += 35.0;
                o.hi += 35.0;
            } else if (what == 1) {
                o.hi += 35.0;
            } else {
                o.top += 35.0;
            }
            EXPECT_NE(match(face).name, type.name) << what;
        }
        // The top 25 mm above or below the type's.
        for (const double more : {25.0, -25.0}) {
            Face face = laid(type, t0);
            face.heights.assign(5, type.height_mm + more);
            EXPECT_NE(match(face).name, type.name) << more;
        }
    }
}

TEST(DetectorTypeMatch, MirroredTypesAreMatchedFromBehind)
{
    const std::vector<PalletType> types{lopsided()};
    const PalletType& type = types[0];
    for (const bool mirrored : {false, true}) {
        SCOPED_TRACE(mirrored ? "mirrored" : "as drawn");
        const Face face = laid(type, 120.0, mirrored);
        const Outcome out = match(face, types);
        ASSERT_EQ(out.name, type.name) << dock_reason_name(out.failure);
        EXPECT_EQ(out.match.mirrored, mirrored);
        EXPECT_EQ(out.match.opening_of[2], -1);
        EXPECT_EQ(out.match.opening_of[0], mirrored ? 1 : 0);
        EXPECT_EQ(out.match.opening_of[1], mirrored ? 0 : 1);
        EXPECT_NEAR(out.match.opening_miss, 0.0, 1e-9);

        // The left end unseen: the right end and the openings place the centre, the mirror's
        // openings where the mirror has them.
        Face cut = face;
        cut.left = NAN;
        cut.seen_left = face.left + 40.0;
        const Outcome half = match(cut, types);
        ASSERT_EQ(half.name, type.name) << dock_reason_name(half.failure);
        EXPECT_EQ(half.match.mirrored, mirrored);
        EXPECT_NEAR(centre(cut, half), 120.0 + type.width_mm / 2.0, 1e-9);
    }
    // The built-in types are all symmetric: never reported mirrored.
    for (const PalletType& t : builtin_pallet_types()) EXPECT_FALSE(match(laid(t, 0.0, true)).match.mirrored) << t.name;
}

TEST(DetectorTypeMatch, EndsUnseenArePlacedByWhatIsSeen)
{
    for (const PalletType& type : builtin_pallet_types()) {
        SCOPED_TRACE(type.name);
        const double t0 = -450.0;
        const double truth = t0 + type.width_mm / 2.0;
        const FaceRect& first = type.openings.front();
        const FaceRect& last = type.openings.back();

        // One end beyond the image border, which cuts the opening next to it: the other end and
        // the openings wholly seen place the type.
        Face no_left = laid(type, t0);
        no_left.left = NAN;
        no_left.seen_left = t0 + (first.left_mm + first.right_mm) / 2.0;
        no_left.openings.erase(no_left.openings.begin());
        const Outcome from_right = match(no_left);
        ASSERT_EQ(from_right.name, type.name) << dock_reason_name(from_right.failure);
        EXPECT_EQ(from_right.match.width_miss, 0.0);
        EXPECT_NEAR(centre(no_left, from_right), truth, 1e-9);

        Face no_right = laid(type, t0);
        no_right.right = NAN;
        no_right.seen_right = t0 + (last.left_mm + last.right_mm) / 2.0;
        no_right.openings.pop_back();
        const Outcome from_left = match(no_right);
        ASSERT_EQ(from_left.name, type.name) << dock_reason_name(from_left.failure);
        EXPECT_NEAR(centre(no_right, from_left), truth, 1e-9);

        // Both ends beyond the borders, every opening seen whole: the openings alone.
        Face middle = laid(type, t0);
        middle.left = middle.right = NAN;
        middle.seen_left = t0 + first.left_mm - 30.0;
        middle.seen_right = t0 + last.right_mm + 30.0;
        const Outcome from_openings = match(middle);
        ASSERT_EQ(from_openings.name, type.name) << dock_reason_name(from_openings.failure);
        EXPECT_NEAR(centre(middle, from_openings), truth, 1e-9);

        // Both ends unseen and one opening alone: it fits wherever the type has one, so it
        // places nothing.
        Face one_opening = middle;
        one_opening.openings.resize(1);
        one_opening.seen_right = one_opening.openings[0].hi + 30.0;
        EXPECT_EQ(match(one_opening).match.type, nullptr);

        // One end seen, but the points go on well beyond where the type ends.
        Face too_long = no_right;
        too_long.seen_right = t0 + type.width_mm + type.width_tolerance_mm + 60.0;
        EXPECT_NE(match(too_long).name, type.name);
    }
}

TEST(DetectorTypeMatch, OpeningsMustBeTheTypesAll)
{
    for (const PalletType& type : builtin_pallet_types()) {
        SCOPED_TRACE(type.name);
        ASSERT_EQ(type.openings.size(), 2U);
        const double t0 = 100.0;
        // An extra opening across the middle block.
        Face extra = laid(type, t0);
        const double block = t0 + (type.openings[0].right_mm + type.openings[1].left_mm) / 2.0;
        extra.openings.insert(extra.openings.begin() + 1, Opening{block - 60.0, block + 60.0, 12, type.openings[0].top_mm});
        const Outcome with_extra = match(extra);
        EXPECT_EQ(with_extra.match.type, nullptr) << with_extra.name;
        EXPECT_EQ(with_extra.failure, DockReason::wrong_pockets);

        // An opening the type puts wholly in view, not measured.
        for (std::size_t gone = 0; gone < 2; ++gone) {
            Face missing = laid(type, t0);
            missing.openings.erase(missing.openings.begin() + static_cast<std::ptrdiff_t>(gone));
            const Outcome out = match(missing);
            EXPECT_EQ(out.match.type, nullptr) << gone << " " << out.name;
            EXPECT_EQ(out.failure, DockReason::wrong_pockets) << gone;
        }

        // No opening at all and no end pair: nothing places a type.
        Face blank = laid(type, t0);
        blank.openings.clear();
        blank.right = NAN;
        const Outcome cut = match(blank);
        EXPECT_EQ(cut.match.type, nullptr);
        EXPECT_EQ(cut.failure, DockReason::face_cut_off);
        blank.left = NAN;
        EXPECT_EQ(match(blank).failure, DockReason::face_cut_off);
    }
}
