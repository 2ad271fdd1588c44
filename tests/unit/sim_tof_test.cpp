// The time-of-flight sensor model's effects, one at a time, against their statistics on simple
// scenes: a wall at known distances, a step, a corner, the floor.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <vector>

#include <gtest/gtest.h>

#include "sim/render.hpp"
#include "sim/sensor_presets.hpp"

namespace {

// A wall filling the view distance_mm ahead, square on to the level camera; no floor.
sim::Scene wall_scene(double distance_mm, sim::Material material = sim::Material::automatic)
{
    sim::Scene scene;
    scene.mount = {200.0, 0.0, 0.0};
    scene.floor = false;
    sim::Box wall = sim::back_wall(distance_mm);
    wall.centre.z() = 0.0;
    wall.size.z() = 20000.0;
    wall.material = material;
    scene.boxes.push_back(wall);
    return scene;
}

// The scene through the typical camera with only that effect switched on.
sim::Scene only(sim::Scene scene, sim::TofEffect effect)
{
    scene.tof = sim::with_effect(sim::ideal_tof(), effect, true);
    return scene;
}

sim::Scene ideal(sim::Scene scene)
{
    scene.tof = sim::ideal_tof();
    return scene;
}

std::uint16_t at(const cv::Mat& depth, int v, int u)
{
    return depth.at<std::uint16_t>(v, u);
}

double ray_norm(int v, int u)
{
    return sim::pixel_ray(v, u).norm();
}

// The 8-connected regions of zero pixels: their sizes.
std::vector<int> hole_sizes(const cv::Mat& depth)
{
    cv::Mat seen = cv::Mat::zeros(depth.size(), CV_8UC1);
    std::vector<int> sizes;
    std::vector<cv::Point> stack;
    for (int v = 0; v < depth.rows; ++v) {
        for (int u = 0; u < depth.cols; ++u) {
            if (at(depth, v, u) != 0 || seen.at<std::uint8_t>(v, u)) continue;
            int size = 0;
            stack.push_back({u, v});
            seen.at<std::uint8_t>(v, u) = 1;
            while (!stack.empty()) {
                const cv::Point p = stack.back();
                stack.pop_back();
                ++size;
                for (int dv = -1; dv <= 1; ++dv) {
                    for (int du = -1; du <= 1; ++du) {
                        const cv::Point q(p.x + du, p.y + dv);
                        if (q.x < 0 || q.y < 0 || q.x >= depth.cols || q.y >= depth.rows) continue;
                        if (at(depth, q.y, q.x) != 0 || seen.at<std::uint8_t>(q.y, q.x)) continue;
                        seen.at<std::uint8_t>(q.y, q.x) = 1;
                        stack.push_back(q);
                    }
                }
            }
            sizes.push_back(size);
        }
    }
    return sizes;
}

}  // namespace

TEST(SimTof, IdealSensorIsTheGeometryToWholeMillimetres)
{
    // The legacy sensor without noise, dropouts or cavity loss renders the same geometry.
    for (sim::Scene scene : {sim::pallet_scene(1300.0, 150.0, 12.0), sim::warehouse_scene(), wall_scene(2000.0)}) {
        scene.sensor = sim::exact_sensor();
        const sim::Frame exact = sim::render(scene, 3);
        const sim::Frame frame = sim::render(ideal(scene), 3);
        EXPECT_EQ(cv::countNonZero(exact.depth != frame.depth), 0);
        EXPECT_EQ(cv::countNonZero(exact.labels != frame.labels), 0);
    }
}

TEST(SimTof, NoiseSigmaGrowsWithTheSquareOfTheRangeAndOnDarkSurfaces)
{
    const sim::RangeNoise noise = sim::typical_tof().noise;
    struct Case {
        double distance_mm;
        sim::Material material;
    };
    for (const Case c : {Case{1000.0, sim::Material::painted_wall}, Case{2000.0, sim::Material::painted_wall},
                         Case{3000.0, sim::Material::painted_wall}, Case{2000.0, sim::Material::stretch_film}}) {
        const sim::Scene scene = wall_scene(c.distance_mm, c.material);
        const cv::Mat exact = sim::render(ideal(scene), 5).depth;
        const cv::Mat noisy = sim::render(only(scene, sim::TofEffect::noise), 5).depth;
        const sim::MaterialOptics optics = sim::optics_of(c.material);
        // Over the middle of the image, where the wall is nearly square on: the errors' variance
        // against the model's (sigma of the range, seen along z, and the whole-mm rounding).
        double sum = 0.0;
        double sum_sq = 0.0;
        double expected_sq = 0.0;
        double mean_sigma = 0.0;
        int n = 0;
        for (int v = 140; v < 340; ++v) {
            for (int u = 220; u < 420; ++u) {
                const double z = at(exact, v, u);
                ASSERT_GT(z, 0.0);
                const double norm = ray_norm(v, u);
                const double c_in = 1.0 / norm;  // the wall is square on to the optical axis
                const double reflect = optics.albedo * ((1.0 - optics.gloss) * c_in + optics.gloss * std::pow(c_in, 8));
                const double range_m = z * norm / 1000.0;
                const double sigma = (noise.base_mm + noise.k_mm * range_m * range_m / std::sqrt(reflect)) / norm;
                const double e = at(noisy, v, u) - z;
                sum += e;
                sum_sq += e * e;
                expected_sq += sigma * sigma + 1.0 / 6.0;
                mean_sigma += sigma;
                ++n;
            }
        }
        mean_sigma /= n;
        const double measured = std::sqrt(sum_sq / n);
        const double expected = std::sqrt(expected_sq / n);
        EXPECT_NEAR(measured, expected, 0.04 * expected) << c.distance_mm << " mm, " << sim::material_name(c.material);
        EXPECT_NEAR(sum / n, 0.0, 0.05 * mean_sigma + 0.05) << "unbiased";
    }
}

TEST(SimTof, MixedPixelsLieBetweenTheSurfacesInABandOneOrTwoPixelsWide)
{
    // A carton 1.5 m ahead of a wall at 3 m, both square on; the camera turned 10 degrees about
    // its axis, so that the box's two side edges cross the pixel grid at every phase.
    sim::Scene scene = wall_scene(3000.0);
    scene.mount.roll_deg = 10.0;
    sim::Box box;
    box.centre = {0.0, 1500.0 + 400.0, 0.0};
    box.size = {1000.0, 800.0, 6000.0};
    scene.boxes.push_back(box);
    const cv::Mat exact = sim::render(ideal(scene), 7).depth;
    const cv::Mat mixed = sim::render(only(scene, sim::TofEffect::mixed_pixels), 7).depth;
    const auto between = [](std::uint16_t z) { return z > 1500 + 10 && z < 3000 - 10; };  // the faces' depths
    double band_sum = 0.0;
    int bands = 0;
    for (int v = 180; v < 300; ++v) {
        std::vector<int> steps;  // columns u where the ideal depth jumps between u and u + 1
        for (int u = 0; u + 1 < 640; ++u) {
            EXPECT_FALSE(between(at(exact, v, u))) << "the ideal sensor has no mixed pixels";
            if (std::abs(at(exact, v, u + 1) - at(exact, v, u)) > 1000) steps.push_back(u);
        }
        ASSERT_EQ(steps.size(), 2u) << "row " << v;
        int widths[2] = {0, 0};
        for (int u = 0; u < 640; ++u) {
            if (!between(at(mixed, v, u))) {
                EXPECT_NEAR(at(mixed, v, u), at(exact, v, u), 1.0) << "row " << v << " column " << u;
                continue;
            }
            // On the pixels either side of a step, or one farther.
            const int side = std::abs(u - steps[0]) < std::abs(u - steps[1]) ? 0 : 1;
            EXPECT_TRUE(u >= steps[side] - 1 && u <= steps[side] + 2) << "row " << v << " column " << u;
            ++widths[side];
        }
        for (const int width : widths) {
            EXPECT_GE(width, 1) << "row " << v;
            EXPECT_LE(width, 2) << "row " << v;
            band_sum += width;
            ++bands;
        }
    }
    // A square footprint meets an edge slanted by the roll over footprint * (1 + tan roll) columns.
    const double footprint = sim::typical_tof().mixed.footprint_px;
    EXPECT_NEAR(band_sum / bands, footprint * (1.0 + std::tan(10.0 * M_PI / 180.0)), 0.1);

    // Returns mix by their amplitudes: the same box in black film pulls its mixed pixels less
    // towards itself than in carton.
    scene.boxes.back().material = sim::Material::stretch_film;
    const cv::Mat dark = sim::render(only(scene, sim::TofEffect::mixed_pixels), 7).depth;
    int farther = 0;
    int mixed_pixels = 0;
    for (int v = 180; v < 300; ++v) {
        for (int u = 0; u < 640; ++u) {
            if (!between(at(mixed, v, u))) continue;
            ++mixed_pixels;
            EXPECT_GE(at(dark, v, u), at(mixed, v, u)) << "row " << v << " column " << u;
            farther += at(dark, v, u) > at(mixed, v, u) + 50;
        }
    }
    EXPECT_GT(farther, mixed_pixels * 9 / 10);
}

TEST(SimTof, MultipathAddsRangeNearConcaveCornersThatFadesWithDistance)
{
    // The floor meeting a wall 1.5 m ahead, at the default mount.
    sim::Scene scene = sim::floor_scene();
    scene.boxes.push_back(sim::back_wall(1500.0));
    const sim::Multipath multipath = sim::typical_tof().multipath;
    const sim::Frame exact = sim::render(ideal(scene), 9);
    const sim::Frame frame = sim::render(only(scene, sim::TofEffect::multipath), 9);
    const Eigen::Matrix3d to_floor = sim::camera_to_floor(scene.mount);
    int near_corner = 0;
    int beyond = 0;
    double largest_mm = 0.0;
    for (int v = 0; v < 480; ++v) {
        for (int u = 0; u < 640; ++u) {
            const double z = at(exact.depth, v, u);
            if (z == 0.0) continue;
            const Eigen::Vector3d p = to_floor * (z * sim::pixel_ray(v, u)) + Eigen::Vector3d(0.0, 0.0, 200.0);
            const auto label = static_cast<sim::Label>(exact.labels.at<std::uint8_t>(v, u));
            // Distance from the corner: a wall point's height, a floor point's distance to the wall.
            const double d = label == sim::Label::wall ? p.z() : 1500.0 - p.y();
            const double s = std::max(0.0, 1.0 - d / multipath.reach_mm);
            const double expected = multipath.peak_mm * s * s / ray_norm(v, u);  // range seen as z
            const double got = at(frame.depth, v, u) - z;
            ASSERT_NEAR(got, expected, 1.0) << "row " << v << " column " << u << ", " << d << " mm from the corner";
            EXPECT_GE(got, 0.0);
            if (d < 0.25 * multipath.reach_mm) near_corner += got > 0.0;
            if (d > multipath.reach_mm + 20.0) beyond += got != 0.0;
            largest_mm = std::max(largest_mm, got);
        }
    }
    EXPECT_GT(near_corner, 500);
    EXPECT_EQ(beyond, 0);
    EXPECT_NEAR(largest_mm, multipath.peak_mm, 1.5);
}

TEST(SimTof, MultipathFillsThePalletsForkOpenings)
{
    // The legacy sensor's cavity test with the same depth marks the pixels deep inside the pallet.
    sim::Scene scene = sim::pallet_scene(1400.0, 0.0, 10.0);
    const sim::Multipath multipath = sim::typical_tof().multipath;
    scene.sensor = sim::exact_sensor();
    scene.sensor.cavity_no_return = true;
    scene.sensor.cavity_depth_mm = multipath.cavity_depth_mm;
    const sim::Frame cavities = sim::render(scene, 2);
    const sim::Frame exact = sim::render(ideal(scene), 2);
    const sim::Frame frame = sim::render(only(scene, sim::TofEffect::multipath), 2);
    int inside = 0;
    for (int v = 0; v < 480; ++v) {
        for (int u = 0; u < 640; ++u) {
            if (at(exact.depth, v, u) == 0 || at(cavities.depth, v, u) != 0) continue;
            const double got = at(frame.depth, v, u) - at(exact.depth, v, u);
            EXPECT_NEAR(got, multipath.cavity_mm / ray_norm(v, u), 1.0) << "row " << v << " column " << u;
            ++inside;
        }
    }
    EXPECT_GT(inside, 300);
}

TEST(SimTof, HolesComeAtTheirRateSinglyAndInSmallClusters)
{
    const sim::Scene scene = wall_scene(1500.0);
    const sim::Holes holes = sim::typical_tof().holes;
    const int pixels = 640 * 480;
    const auto lost_share = [&](const cv::Mat& depth) { return 1.0 - cv::countNonZero(depth) / double(pixels); };
    ASSERT_EQ(cv::countNonZero(sim::render(ideal(scene), 1).depth), pixels);

    // Both kinds: a pixel is kept when it is no hole nor seed and no seed beside it takes it.
    const double kept = (1.0 - holes.rate - holes.cluster_rate) * std::pow(1.0 - holes.cluster_rate / 2.0, 8);
    double shares = 0.0;
    for (std::uint64_t seed = 1; seed <= 4; ++seed) {
        const cv::Mat depth = sim::render(only(scene, sim::TofEffect::holes), seed).depth;
        const double share = lost_share(depth);
        EXPECT_NEAR(share, 1.0 - kept, 0.1 * (1.0 - kept)) << "seed " << seed;
        EXPECT_GE(share, 0.01);
        EXPECT_LE(share, 0.03);
        shares += share;
    }
    EXPECT_NEAR(shares / 4.0, 1.0 - kept, 0.03 * (1.0 - kept));

    // Singles alone: isolated pixels (two touch by chance at about 8 times the rate).
    sim::Scene singles = only(scene, sim::TofEffect::holes);
    singles.tof.holes.cluster_rate = 0.0;
    const std::vector<int> single_sizes = hole_sizes(sim::render(singles, 11).depth);
    const auto ones = std::count(single_sizes.begin(), single_sizes.end(), 1);
    const double expected_singles = holes.rate * pixels * (1.0 - 4.0 * holes.rate);  // less touching pairs
    EXPECT_NEAR(single_sizes.size(), expected_singles, 4.0 * std::sqrt(expected_singles));
    EXPECT_GT(ones, 0.9 * single_sizes.size());

    // Clusters alone: 1 to 9 pixels, 5 on average (where two do not touch).
    sim::Scene clusters = singles;
    clusters.tof.holes.rate = 0.0;
    clusters.tof.holes.cluster_rate = holes.cluster_rate;
    const std::vector<int> sizes = hole_sizes(sim::render(clusters, 12).depth);
    ASSERT_GT(sizes.size(), 400u);
    const auto small = std::count_if(sizes.begin(), sizes.end(), [](int s) { return s <= 9; });
    EXPECT_GT(small, 0.97 * sizes.size()) << "clusters that touch merge";
    double mean = 0.0;
    std::map<int, int> by_size;
    for (const int s : sizes) {
        if (s <= 9) mean += s;
        ++by_size[s];
    }
    mean /= small;
    EXPECT_NEAR(mean, 5.0, 0.3);
    EXPECT_GT(by_size[1] + by_size[2], 0);
    EXPECT_GT(by_size[8] + by_size[9], 0);
}

TEST(SimTof, WeakReturnsFadeOutOnTheGrazingFarFloor)
{
    const sim::Scene scene = sim::floor_scene();
    const sim::AmplitudeCutoff cutoff = sim::typical_tof().cutoff;
    const double albedo = sim::optics_of(sim::Material::concrete).albedo;
    const cv::Mat exact = sim::render(ideal(scene), 4).depth;
    const cv::Mat frame = sim::render(only(scene, sim::TofEffect::cutoff), 4).depth;
    // Kept and seen, by the floor's amplitude in steps of a quarter of the threshold.
    std::map<int, std::pair<int, int>> by_amplitude;
    double nearest_lost_mm = 1e9;
    double farthest_kept_mm = 0.0;
    for (int v = 0; v < 480; ++v) {
        for (int u = 0; u < 640; ++u) {
            const double z = at(exact, v, u);
            if (z == 0.0) continue;
            const double range_mm = z * ray_norm(v, u);
            const double range_m = range_mm / 1000.0;
            const double amplitude = albedo * (scene.mount.height_mm / range_mm) / (range_m * range_m);
            const bool kept = at(frame, v, u) != 0;
            if (kept) {
                EXPECT_EQ(at(frame, v, u), z) << "the cut-off only removes returns";
            }
            auto& bin = by_amplitude[static_cast<int>(std::floor(4.0 * amplitude / cutoff.min_amplitude))];
            bin.first += kept;
            ++bin.second;
            if (kept) farthest_kept_mm = std::max(farthest_kept_mm, range_mm);
            if (!kept) nearest_lost_mm = std::min(nearest_lost_mm, range_mm);
        }
    }
    for (const auto& [quarter, counts] : by_amplitude) {
        const double share = counts.first / static_cast<double>(counts.second);
        const double middle = (quarter + 0.5) / 4.0;  // amplitude / threshold in the bin's middle
        if (quarter < 4) {
            EXPECT_EQ(counts.first, 0) << "below the threshold";
        } else if (quarter >= 4 + static_cast<int>(4.0 * cutoff.fade)) {
            EXPECT_EQ(counts.first, counts.second) << "above the fade";
        } else if (counts.second > 400) {
            EXPECT_NEAR(share, (middle - 1.0) / cutoff.fade, 0.08) << "in the fade, bin " << quarter;
        }
    }
    // The floor's amplitude falls with range cubed: lost from about 2 m, gone by 2.5 m.
    const double fade_start_m = std::cbrt(albedo * 0.2 / (cutoff.min_amplitude * (1.0 + cutoff.fade)));
    const double gone_m = std::cbrt(albedo * 0.2 / cutoff.min_amplitude);
    EXPECT_NEAR(nearest_lost_mm / 1000.0, fade_start_m, 0.1);
    EXPECT_NEAR(farthest_kept_mm / 1000.0, gone_m, 0.1);
    EXPECT_GT(fade_start_m, 1.9);
    EXPECT_LT(gone_m, 2.6);
}

TEST(SimTof, PalletsAreWoodenButThePlasticModelAndBoxesTakeTheirLabelsMaterial)
{
    for (const PalletModel& model : builtin_pallet_models()) {
        const bool plastic = model.name == "plastic_9leg_1200x800";
        EXPECT_EQ(sim::material_of_pallet(model), plastic ? sim::Material::plastic : sim::Material::wood) << model.name;
    }
    // A load left automatic renders as carton; told otherwise, as that.
    sim::Scene scene = sim::warehouse_scene();
    scene.tof = sim::with_effect(sim::ideal_tof(), sim::TofEffect::noise, true);
    sim::Scene carton = scene;
    carton.boxes.front().material = sim::Material::carton;
    sim::Scene film = scene;
    film.boxes.front().material = sim::Material::stretch_film;
    EXPECT_EQ(cv::countNonZero(sim::render(scene, 3).depth != sim::render(carton, 3).depth), 0);
    EXPECT_GT(cv::countNonZero(sim::render(scene, 3).depth != sim::render(film, 3).depth), 10000);
}

TEST(SimTof, EveryRandomEffectFollowsFromTheSeed)
{
    sim::Scene scene = sim::warehouse_scene();
    scene.tof = sim::typical_tof();
    const sim::Frame first = sim::render(scene, 42);
    const sim::Frame again = sim::render(scene, 42);
    const sim::Frame other = sim::render(scene, 43);
    EXPECT_EQ(cv::countNonZero(first.depth != again.depth), 0);
    EXPECT_EQ(cv::countNonZero(first.labels != again.labels), 0);
    EXPECT_GT(cv::countNonZero(first.depth != other.depth), 640 * 480 / 4);
    EXPECT_EQ(cv::countNonZero(first.labels != other.labels), 0) << "labels are geometry, not noise";
    // Every effect changes the frame from the ideal one.
    const cv::Mat exact = sim::render(ideal(scene), 42).depth;
    for (const sim::TofEffect effect : sim::tof_effects()) {
        EXPECT_GT(cv::countNonZero(sim::render(only(scene, effect), 42).depth != exact), 500)
            << sim::tof_effect_name(effect);
    }
}

TEST(SimTof, AFrameIsTheSameBytesOnEveryProcessor)
{
    // Pinned: the per-pixel sensor uses +, -, *, /, sqrt and integer hashing only, which every
    // processor rounds alike. A change of the model's levels or draws changes these on purpose.
    sim::Scene scene = sim::warehouse_scene();
    scene.tof = sim::typical_tof();
    const sim::Frame frame = sim::render(scene, 2024);
    std::uint64_t depth_hash = 0xCBF29CE484222325ULL;  // FNV-1a over the bytes, row by row
    for (int v = 0; v < frame.depth.rows; ++v) {
        const auto* row = frame.depth.ptr<std::uint8_t>(v);
        for (int k = 0; k < frame.depth.cols * 2; ++k) depth_hash = (depth_hash ^ row[k]) * 0x100000001B3ULL;
    }
    EXPECT_EQ(depth_hash, 0x832F5944C1A2FCADULL);
}
