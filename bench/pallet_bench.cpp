// pallet_bench: each stage and the whole headless frame, in the literal and the fast form, on
// rendered frames of every outcome; prints the literal-to-fast ratios of the run at the end.
// Before anything is timed, the fast form is checked against the literal one on every frame.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <benchmark/benchmark.h>
#include <time.h>
#include <unistd.h>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "allocation_count.hpp"
#include "analysis/depth_intake.hpp"
#include "analysis/detector/detect_pallets.hpp"
#include "analysis/detector/face_scan.hpp"
#include "analysis/detector/floor_fit.hpp"
#include "analysis/fast_analysis.hpp"
#include "analysis/fast_views.hpp"
#include "analysis/frame_analysis.hpp"
#include "analysis/ground_alignment.hpp"
#include "analysis/plane_fit.hpp"
#include "analysis/range_masks.hpp"
#include "analysis/result_report.hpp"
#include "sim/depth_png.hpp"
#include "sim/render.hpp"
#include "sim/scene.hpp"
#include "sim/scenes.hpp"
#include "sim/sensor_presets.hpp"
#include "detector_checks.hpp"

#ifdef PALLET_BENCH_PCL
#include <pcl/ModelCoefficients.h>
#include <Eigen/Eigenvalues>
#include <pcl/common/centroid.h>
#include <pcl/point_cloud.h>
#include <pcl/point_types.h>
#include <pcl/sample_consensus/method_types.h>
#include <pcl/sample_consensus/model_types.h>
#include <pcl/search/kdtree.h>
#include <pcl/segmentation/extract_clusters.h>
#include <pcl/segmentation/sac_segmentation.h>
#endif

namespace {

struct FrameKind {
    std::string name;
    cv::Mat depth;
    PalletOutcome expected;
    sim::Truth truth;
};

// Dropouts in the ground patch enter the floor fit as points at the camera's centre and tilt the
// fitted floor, so the frames meant to show one outcome are rendered without them.
std::vector<FrameKind> frame_kinds()
{
    sim::Scene floor = sim::floor_scene();
    floor.sensor = sim::exact_sensor();
    sim::Scene far = sim::pallet_scene(2300.0);
    far.sensor.dropout_rate = 0.0;
    sim::Scene pallet = sim::pallet_scene(1250.0);
    pallet.sensor.dropout_rate = 0.0;
    sim::Scene noisy = sim::pallet_scene(1300.0, 120.0, 12.0);
    noisy.sensor.noise_k_per_mm = 4.0e-6;
    noisy.sensor.dropout_rate = 0.02;
    const auto kind = [](const char* name, const sim::Scene& scene, std::uint64_t seed,
                         PalletOutcome expected) {
        sim::Frame frame = sim::render(scene, seed);
        return FrameKind{name, frame.depth, expected, frame.truth};
    };
    return {
        kind("floor", floor, 101, PalletOutcome::no_contour),
        kind("far", far, 102, PalletOutcome::no_pallet),
        kind("pallet", pallet, 103, PalletOutcome::pallet_found),
        kind("noisy", noisy, 104, PalletOutcome::pallet_found),
        kind("cluttered", sim::warehouse_scene(), 105, PalletOutcome::pallet_found),
    };
}

std::string report_of(const FrameAnalysis& analysis)
{
    std::ostringstream out;
    write_report(out, analysis, TextEncoding::utf8);
    return out.str();
}

bool same_image(const cv::Mat& a, const cv::Mat& b)
{
    return a.size() == b.size() && a.type() == b.type() &&
           cv::norm(a.reshape(1), b.reshape(1), cv::NORM_INF) == 0.0;
}

[[noreturn]] void refuse(const FrameKind& frame, const char* what)
{
    std::fprintf(stderr, "pallet_bench: frame '%s': %s; nothing timed\n", frame.name.c_str(), what);
    std::exit(1);
}

// The fast form must give what the literal form gives, down to the bytes, before it is timed.
void check_fast_equals_literal(const FrameKind& frame)
{
    const cv::Mat literal_mask = make_combined_band_mask(align_to_ground(frame.depth));
    AnalysisWorkspace workspace;
    std::vector<cv::Point3d> ground_points;
    make_combined_band_mask_fast(frame.depth, ground_frame_of(frame.depth, ground_points),
                                 workspace.band);
    if (!same_image(literal_mask, workspace.band.mask)) refuse(frame, "combined band masks differ");
    if (find_candidate_contours(literal_mask) != find_candidate_contours_fast(workspace.band)) {
        refuse(frame, "candidate contours differ");
    }
    const FrameAnalysis literal = analyse_depth_literal(frame.depth);
    const FrameAnalysis fast = analyse_depth(frame.depth, workspace);
    if (literal.outcome != frame.expected) refuse(frame, "the literal form gives another outcome");
    if (fast.outcome != literal.outcome) refuse(frame, "outcomes differ");
    if (fast.pose.face_point_count != literal.pose.face_point_count) {
        refuse(frame, "face point counts differ");
    }
    if (report_of(fast) != report_of(literal)) refuse(frame, "report texts differ");
    const cv::Mat literal_view = make_depth_view(frame.depth);
    DepthViews& views = make_depth_views_fast(frame.depth, workspace.views);
    if (!same_image(literal_view, views.depth_view)) refuse(frame, "depth views differ");
    if (!same_image(draw_result_view(literal_view, literal),
                    draw_result_overlay(views.colour_view, fast))) {
        refuse(frame, "result views differ");
    }
}

// The dock measurement must find what the renderer put there before it is timed: no pallet on the
// floor alone, and wherever it says "pallet" the face centre within 10 mm of the truth.
void check_dock(const FrameKind& frame)
{
    const DockPose dock = dock_of(detect_pallets(frame.depth));
    if (frame.truth.pallets.empty()) {
        if (dock.verdict != DockVerdict::no_pallet) refuse(frame, "the dock measurement finds a pallet");
        return;
    }
    if (frame.expected == PalletOutcome::pallet_found && dock.verdict != DockVerdict::pallet) {
        refuse(frame, "the dock measurement finds no pallet");
    }
    if (dock.verdict == DockVerdict::pallet &&
        !((dock.centre_camera - frame.truth.pallets.front().faces.front().centre).norm() <= 10.0)) {
        refuse(frame, "the dock measurement's centre is more than 10 mm off");
    }
}

// Three pallets side by side at 2.6 m, 150 mm apart.
cv::Mat three_pallet_frame()
{
    sim::Scene scene = sim::pallet_scene(2600.0);
    scene.sensor.dropout_rate = 0.0;
    scene.pallets = {sim::PalletPlacement{2600.0, -1350.0, 0.0}, sim::PalletPlacement{2600.0, 0.0, 0.0},
                     sim::PalletPlacement{2600.0, 1350.0, 0.0}};
    return sim::render(scene, 106).depth;
}

// What a frame loop keeps from frame to frame for the detector: its workspace, its result and the
// pose it docks to.
struct DetectorLoop {
    DetectorWorkspace workspace;
    Detection detection;
    DockPose dock;
};

// The detector as a frame loop runs it: the number of pallets plus the nearest's verdict.
std::size_t detect_and_dock(const cv::Mat& depth, const std::vector<PalletType>& types, DetectorLoop& loop)
{
    detect_pallets(depth, types, DetectorParams{}, loop.workspace, loop.detection);
    dock_of(loop.detection, loop.dock);
    return loop.detection.pallets.size() + static_cast<std::size_t>(loop.dock.verdict);
}

// Allocations per detect_pallets + dock_of call on the same frame, once the loop's buffers have
// grown; and those of copying its result (the pallets' vectors and names), which a caller that
// keeps no result makes.
struct AllocationCount {
    double per_call = 0;
    double result_copy = 0;
};

AllocationCount count_allocations(const cv::Mat& depth)
{
    const std::vector<PalletType> types = builtin_pallet_types();
    DetectorLoop loop;
    for (int k = 0; k < 3; ++k) detect_and_dock(depth, types, loop);
    constexpr int calls = 20;
    const std::uint64_t before = allocation_count();
    for (int k = 0; k < calls; ++k) benchmark::DoNotOptimize(detect_and_dock(depth, types, loop));
    const std::uint64_t after = allocation_count();
    const std::uint64_t copy_before = allocation_count();
    {
        const Detection copy = loop.detection;
        const DockPose dock = dock_of(copy);
        benchmark::DoNotOptimize(dock.confidence);
    }
    return {static_cast<double>(after - before) / calls, static_cast<double>(allocation_count() - copy_before)};
}

double process_cpu_us()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_nsec) / 1e3;
}

// The least CPU time of three calls of body, in microseconds.
template <typename Body>
double best_of_three_us(Body body)
{
    double best = 1e300;
    for (int k = 0; k < 3; ++k) {
        const double begin = process_cpu_us();
        body();
        best = std::min(best, process_cpu_us() - begin);
    }
    return best;
}

struct HardFrame {
    std::string name;
    cv::Mat depth;
};

// Frames that are hard on the analysis and the detector: the fuzz targets' generated seeds
// (scenes with edits, constant regions, holes, extreme values, floors at steep tilts), the
// recorded test frames, every catalogue scene through its loop with each sensor, and rendered
// scenes with many pallets, racks and walls, near and far, with the legacy and the tof sensor.
std::vector<HardFrame> hard_frames()
{
    std::vector<HardFrame> frames;
    int n = 0;
    for (const std::vector<std::uint8_t>& seed : detector_frame_seeds())
        frames.push_back({"detector_seed_" + std::to_string(++n), generate_detector_frame(seed.data(), seed.size())});
    for (const auto& entry : std::filesystem::directory_iterator(PALLET_BENCH_DATA "/scan_frames")) {
        if (entry.path().extension() != ".png") continue;
        const sim::DepthPngRead read = sim::read_depth_png(entry.path().string());
        if (read.error.empty()) frames.push_back({"scan_frames/" + entry.path().filename().string(), read.depth});
    }
    for (const std::string& scene : sim::scene_names())
        for (const char* sensor : {"legacy", "tof"})
            for (const std::uint64_t frame : {1u, 150u, 300u, 450u})
                frames.push_back({scene + "/" + sensor + "/" + std::to_string(frame),
                                  sim::render_scene_frame(scene, frame, sim::sensor_preset(sensor)).depth});

    const auto rack = [](double x, double y) {
        std::vector<sim::Box> parts;
        for (const double side : {-1300.0, 1300.0}) {  // two uprights and two beams across
            sim::Box upright;
            upright.centre = Eigen::Vector3d(x + side, y, 1500.0);
            upright.size = Eigen::Vector3d(90.0, 90.0, 3000.0);
            upright.material = sim::Material::steel_rack;
            parts.push_back(upright);
        }
        for (const double z : {120.0, 1400.0}) {
            sim::Box beam;
            beam.centre = Eigen::Vector3d(x, y, z);
            beam.size = Eigen::Vector3d(2700.0, 50.0, 110.0);
            beam.material = sim::Material::steel_rack;
            parts.push_back(beam);
        }
        return parts;
    };
    std::vector<std::pair<std::string, sim::Scene>> scenes;
    sim::Scene many = sim::pallet_scene(1500.0);
    many.pallets = {{900.0, -700.0, 10.0}, {1500.0, 600.0, -20.0}, {2200.0, -1300.0, 35.0},
                    {2900.0, 1200.0, 0.0}, {3600.0, 0.0, 60.0}, {4500.0, -2000.0, -45.0}};
    scenes.emplace_back("many_pallets", many);
    sim::Scene racks = sim::pallet_scene(1800.0);
    for (const sim::Box& part : rack(0.0, 2300.0)) racks.boxes.push_back(part);
    for (const sim::Box& part : rack(0.0, 3600.0)) racks.boxes.push_back(part);
    racks.boxes.push_back(sim::back_wall(4500.0));
    scenes.emplace_back("racks_and_wall", racks);
    sim::Scene near = sim::pallet_scene(450.0, 0.0, 15.0);
    near.boxes.push_back(sim::back_wall(1200.0));
    scenes.emplace_back("near_pallet_wall", near);
    sim::Scene far = sim::pallet_scene(5500.0, 300.0, -10.0);
    far.pallets.push_back({6500.0, -1500.0, 0.0});
    scenes.emplace_back("far_pallets", far);
    sim::Scene wall = sim::floor_scene();
    wall.boxes.push_back(sim::back_wall(700.0));
    scenes.emplace_back("wall_near", wall);
    sim::Scene crowded = sim::warehouse_scene();
    for (const sim::Box& part : rack(800.0, 3000.0)) crowded.boxes.push_back(part);
    crowded.pallets.push_back({2400.0, 1100.0, -30.0});
    crowded.pallets.push_back({1100.0, -900.0, 45.0});
    scenes.emplace_back("warehouse_crowded", crowded);
    scenes.emplace_back("three_pallets", sim::Scene{});
    for (const auto& [name, scene] : scenes) {
        if (name == "three_pallets") {
            frames.push_back({name, three_pallet_frame()});
            continue;
        }
        frames.push_back({name + "/legacy", sim::render(scene, 107).depth});
        frames.push_back({name + "/tof", sim::render(sim::with_sensor(scene, sim::sensor_preset("tof")), 107).depth});
    }
    return frames;
}

void print_spread(const char* what, std::vector<std::pair<double, std::string>> times)
{
    std::sort(times.begin(), times.end());
    const auto rank = [&times](double fraction) {  // nearest rank
        const auto k = static_cast<std::size_t>(std::ceil(fraction * static_cast<double>(times.size())));
        return times[std::max<std::size_t>(k, 1) - 1].first;
    };
    std::printf("%-22s | %8.1f %8.1f %8.1f %6.1f | %s\n", what, rank(0.5), rank(0.99), times.back().first,
                times.back().first / rank(0.5), times.back().second.c_str());
}

// pallet_bench --worst-case: the analysis and the detector on every hard frame; the median, 99th
// percentile and maximum over the frames, and the slowest frame.
int run_worst_case()
{
    const std::vector<HardFrame> frames = hard_frames();
    const std::vector<PalletType> types = builtin_pallet_types();
    AnalysisWorkspace workspace;
    DetectorLoop detector;
    // Each frame's least time over several passes through all of them: a slow spell of a shared
    // machine then lengthens one call of a frame, not all of its calls.
    constexpr int passes = 5;
    std::vector<std::pair<double, std::string>> analysis_us, detector_us;
    for (const HardFrame& frame : frames) {
        analysis_us.emplace_back(1e300, frame.name);
        detector_us.emplace_back(1e300, frame.name);
    }
    for (int pass = 0; pass < passes; ++pass) {
        for (std::size_t k = 0; k < frames.size(); ++k) {
            const cv::Mat& depth = frames[k].depth;
            double begin = process_cpu_us();
            benchmark::DoNotOptimize(analyse_depth(depth, workspace));
            analysis_us[k].first = std::min(analysis_us[k].first, process_cpu_us() - begin);
            begin = process_cpu_us();
            benchmark::DoNotOptimize(detect_and_dock(depth, types, detector));
            detector_us[k].first = std::min(detector_us[k].first, process_cpu_us() - begin);
        }
    }
    std::printf("Worst case over %zu hard frames (process CPU time per frame, microseconds, best of %d passes)\n",
                frames.size(), passes);
    std::printf("%-22s | %8s %8s %8s %6s | %s\n", "", "median", "p99", "max", "max/med", "slowest frame");
    print_spread("analysis (fast)", analysis_us);
    print_spread("detector + dock_of", detector_us);
    std::sort(detector_us.begin(), detector_us.end());
    std::printf("\nThe detector's ten slowest frames: its steps (floor fit, candidate scan, the rest: measuring\n"
                "each candidate and the verdicts), microseconds\n");
    std::printf("  %8s | %8s %8s %8s | %10s %13s | %s\n", "total", "floor", "scan", "measure", "candidates",
                "per candidate", "frame");
    for (std::size_t k = detector_us.size(); k > 0 && k + 10 > detector_us.size(); --k) {
        // Named copies, not structured bindings: a lambda may not capture those in C++17.
        const double total = detector_us[k - 1].first;
        const std::string& name = detector_us[k - 1].second;
        const HardFrame& frame = *std::find_if(frames.begin(), frames.end(), [&](const HardFrame& h) { return h.name == name; });
        const DetectorParams params;
        FloorFrame floor;
        const double floor_us = best_of_three_us([&] {
            std::uint64_t random = params.seed;
            benchmark::DoNotOptimize(fit_floor(frame.depth, params, detector.workspace.floor_points, random, floor));
        });
        const double scan_us = best_of_three_us(
            [&] {
                DetectorWorkspace& w = detector.workspace;
                find_candidates(frame.depth, floor, params, w.scan, w.candidates);
                benchmark::DoNotOptimize(w.candidates.data());
            });
        const std::size_t measured = detect_pallets(frame.depth, types, params, detector.workspace).candidates;
        const double rest = total - floor_us - scan_us;
        std::printf("  %8.1f | %8.1f %8.1f %8.1f | %10zu %13.1f | %s\n", total, floor_us, scan_us, rest, measured,
                    measured > 0 ? rest / static_cast<double>(measured) : 0.0, name.c_str());
    }
    return 0;
}

// pallet_bench --profile NAME: the detector on the hard frame of that name, 200 times, for a
// profiler to watch.
int run_profile(const std::string& name)
{
    const std::vector<HardFrame> frames = hard_frames();
    const auto frame = std::find_if(frames.begin(), frames.end(), [&](const HardFrame& h) { return h.name == name; });
    if (frame == frames.end()) {
        std::fprintf(stderr, "pallet_bench: no hard frame named '%s'\n", name.c_str());
        return 2;
    }
    const std::vector<PalletType> types = builtin_pallet_types();
    DetectorLoop detector;
    const double begin = process_cpu_us();
    for (int k = 0; k < 200; ++k) benchmark::DoNotOptimize(detect_and_dock(frame->depth, types, detector));
    std::printf("%s: %.1f us per frame\n", name.c_str(), (process_cpu_us() - begin) / 200.0);
    return 0;
}

// The whole frame without a window or a console clear: views, analysis, report, result view.
std::size_t headless_frame_literal(const cv::Mat& depth, LiteralWorkspace& workspace)
{
    const cv::Mat view = make_depth_view(depth);
    const FrameAnalysis analysis = analyse_depth_literal(depth, workspace);
    std::ostringstream out;
    write_report(out, analysis, TextEncoding::utf8);
    const cv::Mat result_view = draw_result_view(view, analysis);
    return out.str().size() + result_view.total() + view.total();
}

// The same with the fast analysis, and the views made the fast way or the library's way.
std::size_t headless_frame_fast(const cv::Mat& depth, AnalysisWorkspace& workspace,
                                bool fast_views)
{
    DepthViews views;
    if (fast_views) {
        views = make_depth_views_fast(depth, workspace.views);  // headers over the workspace's views
    } else {
        views.depth_view = make_depth_view(depth);
        cv::applyColorMap(views.depth_view, views.colour_view, cv::COLORMAP_JET);
    }
    const FrameAnalysis analysis = analyse_depth(depth, workspace);
    std::ostringstream out;
    write_report(out, analysis, TextEncoding::utf8);
    const cv::Mat result_view = draw_result_overlay(views.colour_view, analysis);
    return out.str().size() + result_view.total() + views.depth_view.total();
}

// What pallet_detector does with a replayed frame, but for drawing the windows: the PNG decoded
// as the stand-in camera decodes it, then the headless frame.
std::size_t replayed_frame(const std::vector<std::uint8_t>& png, AnalysisWorkspace& workspace,
                           bool fast_views)
{
    const cv::Mat depth = cv::imdecode(png, cv::IMREAD_UNCHANGED);
    return headless_frame_fast(depth, workspace, fast_views);
}

// The frame as pallet_scan --record writes it (the image library's PNG encoder), in a file of
// its own that is removed at the end of the run.
std::string recorded_file(const FrameKind& frame)
{
    std::vector<std::uint8_t> png;
    cv::imencode(".png", frame.depth, png);
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("pallet_bench_" + std::to_string(::getpid()) + "_" + frame.name + ".png"))
                                 .string();
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
    return path;
}

// Both decoders must give the frame's own pixels before they are timed.
void check_decoders(const FrameKind& frame, const std::string& path)
{
    for (const sim::PngDecoder decoder : {sim::PngDecoder::libpng, sim::PngDecoder::libspng}) {
        const sim::DepthPngRead read = sim::read_depth_png(path, decoder);
        if (!read.error.empty() || !same_image(read.depth, frame.depth))
            refuse(frame, decoder == sim::PngDecoder::libpng ? "libpng decodes other pixels"
                                                             : "libspng decodes other pixels");
    }
}

// A recorded frame as pallet_scan handles it (its default JSON records aside): the file read and
// decoded, the analysis and the pallet detector, with the workspaces kept from frame to frame.
std::size_t recorded_frame(const std::string& path, sim::PngDecoder decoder,
                           AnalysisWorkspace& workspace, DetectorWorkspace& detector)
{
    const sim::DepthPngRead read = sim::read_depth_png(path, decoder);
    const FrameAnalysis analysis = analyse_depth(read.depth, workspace);
    const Detection detection =
        detect_pallets(read.depth, builtin_pallet_types(), DetectorParams{}, detector);
    return analysis.pose.face_point_count + static_cast<std::size_t>(dock_of(detection).verdict);
}

#ifdef PALLET_BENCH_PCL
// What a user would otherwise assemble: RANSAC floor plane (20 mm), the height band above it,
// Euclidean clustering of the band and a plane fit of the largest cluster. Returns its size.
std::size_t pcl_pipeline(const cv::Mat& depth)
{
    pcl::PointCloud<pcl::PointXYZ>::Ptr cloud(new pcl::PointCloud<pcl::PointXYZ>);
    cloud->reserve(depth.total());
    for (int v = 0; v < depth.rows; ++v) {
        const std::uint16_t* row = depth.ptr<std::uint16_t>(v);
        for (int u = 0; u < depth.cols; ++u) {
            if (row[u] == 0) continue;
            const cv::Point3d p = depth_to_point(v, u, row[u]);
            cloud->push_back(pcl::PointXYZ(static_cast<float>(p.x), static_cast<float>(p.y),
                                           static_cast<float>(p.z)));
        }
    }
    std::srand(7);  // RANSAC draws with rand(): the same samples every run
    pcl::SACSegmentation<pcl::PointXYZ> floor_fit;
    floor_fit.setOptimizeCoefficients(true);
    floor_fit.setModelType(pcl::SACMODEL_PLANE);
    floor_fit.setMethodType(pcl::SAC_RANSAC);
    floor_fit.setDistanceThreshold(20.0);
    floor_fit.setInputCloud(cloud);
    pcl::PointIndices floor_inliers;
    pcl::ModelCoefficients floor_plane;
    floor_fit.segment(floor_inliers, floor_plane);
    if (floor_plane.values.size() != 4) return 0;

    const float a = floor_plane.values[0], b = floor_plane.values[1], c = floor_plane.values[2],
                d = floor_plane.values[3];
    pcl::PointCloud<pcl::PointXYZ>::Ptr band(new pcl::PointCloud<pcl::PointXYZ>);
    for (const pcl::PointXYZ& p : cloud->points) {
        const float height = std::abs(a * p.x + b * p.y + c * p.z + d);
        if (height >= 41.0f && height < 241.0f) band->push_back(p);
    }
    if (band->empty()) return 0;

    pcl::search::KdTree<pcl::PointXYZ>::Ptr tree(new pcl::search::KdTree<pcl::PointXYZ>);
    tree->setInputCloud(band);
    std::vector<pcl::PointIndices> clusters;
    pcl::EuclideanClusterExtraction<pcl::PointXYZ> clustering;
    clustering.setClusterTolerance(20.0);
    clustering.setMinClusterSize(50);
    clustering.setSearchMethod(tree);
    clustering.setInputCloud(band);
    clustering.extract(clusters);  // largest first
    if (clusters.empty()) return 0;

    Eigen::Matrix3f covariance = Eigen::Matrix3f::Zero();
    Eigen::Vector4f centroid = Eigen::Vector4f::Zero();
    pcl::computeMeanAndCovarianceMatrix(*band, clusters.front().indices, covariance, centroid);
    const Eigen::SelfAdjointEigenSolver<Eigen::Matrix3f> solver(covariance);
    const Eigen::Vector3f face_normal = solver.eigenvectors().col(0);  // smallest eigenvalue
    benchmark::DoNotOptimize(face_normal);
    return clusters.front().indices.size();
}
#endif

// Collects the CPU time of every run as it is reported, for the ratio table.
class CollectingReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
            std::string name = run.benchmark_name();
            const std::size_t suffix = name.find("/process_time");
            if (suffix != std::string::npos) name.erase(suffix);
            const double us = run.GetAdjustedCPUTime();
            auto found = cpu_us.find(name);
            if (found == cpu_us.end() || us < found->second) cpu_us[name] = us;  // best of repeats
        }
        ConsoleReporter::ReportRuns(runs);
    }

    std::map<std::string, double> cpu_us;
};

void add(const std::string& name, std::function<void()> body)
{
    benchmark::RegisterBenchmark(name.c_str(), [body](benchmark::State& state) {
        for (auto _ : state) body();
    })->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime();  // the library's worker threads too
}

void register_frame(const FrameKind& frame, const std::string& recorded_path)
{
    const cv::Mat depth = frame.depth;
    const std::string kind = frame.name + "/";
    const std::vector<cv::Point3d> aligned = align_to_ground(depth);
    const cv::Mat mask = make_combined_band_mask(aligned);
    const std::vector<Contour> contours = find_candidate_contours(mask);
    const std::vector<Contour> selection = select_pallet_contours(contours);
    const cv::Rect face_rect = selection.empty() ? cv::Rect() : cv::boundingRect(selection[0]);
    const FrameAnalysis analysis = analyse_depth_literal(depth);
    const cv::Mat view = make_depth_view(depth);
    std::vector<std::uint8_t> png;
    cv::imencode(".png", depth, png);
    // Each benchmark owns its workspace, as each thread of a tool does; the literal form's too.
    const auto workspace = [] { return std::make_shared<AnalysisWorkspace>(); };
    const auto literal_workspace = [] { return std::make_shared<LiteralWorkspace>(); };
    AnalysisWorkspace prepared;
    std::vector<cv::Point3d> ground_points;
    make_combined_band_mask_fast(depth, ground_frame_of(depth, ground_points), prepared.band);
    const BandMask band = prepared.band;

    add(kind + "ground_frame", [=, g = std::make_shared<std::vector<cv::Point3d>>()] {
        benchmark::DoNotOptimize(ground_frame_of(depth, *g));
    });
    add(kind + "align+bands/literal", [=, w = literal_workspace()] {
        benchmark::DoNotOptimize(
            make_combined_band_mask(align_to_ground(depth, w->alignment), w->bands).data);
    });
    add(kind + "align+bands/fast", [=, w = workspace()] {
        make_combined_band_mask_fast(depth, ground_frame_of(depth, w->ground_points), w->band);
        benchmark::DoNotOptimize(w->band.bounds);
    });
    add(kind + "contours/literal", [=, w = literal_workspace()] {
        benchmark::DoNotOptimize(find_candidate_contours(mask, w->contours));
    });
    add(kind + "contours/fast", [=] { benchmark::DoNotOptimize(find_candidate_contours_fast(band)); });
    if (!face_rect.empty()) {
        add(kind + "face/literal", [=, w = literal_workspace()] {
            const cv::Mat& face_mask = fill_face_mask(selection, depth.size(), w->face_mask);
            gather_face_points(face_mask, mask, depth, w->face_points);
            benchmark::DoNotOptimize(fit_plane(w->face_points));
        });
        add(kind + "face/fast", [=, w = workspace()] {
            const cv::Mat window = fill_face_mask_fast(selection, face_rect, w->face_mask);
            gather_face_points_fast(window, face_rect, mask, depth, w->face_points);
            benchmark::DoNotOptimize(fit_plane(w->face_points));
        });
    }
    add(kind + "views/literal", [=] {
        benchmark::DoNotOptimize(make_depth_view(depth));
        benchmark::DoNotOptimize(draw_result_view(view, analysis));
    });
    add(kind + "views/fast", [=, w = workspace()] {
        DepthViews& views = make_depth_views_fast(depth, w->views);
        benchmark::DoNotOptimize(draw_result_overlay(views.colour_view, analysis));
    });
    add(kind + "analysis/literal", [=, w = literal_workspace()] {
        benchmark::DoNotOptimize(analyse_depth_literal(depth, *w));
    });
    add(kind + "analysis/fast",
        [=, w = workspace()] { benchmark::DoNotOptimize(analyse_depth(depth, *w)); });
    add(kind + "frame/literal", [=, w = literal_workspace()] {
        benchmark::DoNotOptimize(headless_frame_literal(depth, *w));
    });
    add(kind + "frame/fast",
        [=, w = workspace()] { benchmark::DoNotOptimize(headless_frame_fast(depth, *w, true)); });
    add(kind + "replayed/fast_views",
        [=, w = workspace()] { benchmark::DoNotOptimize(replayed_frame(png, *w, true)); });
    add(kind + "replayed/library_views",
        [=, w = workspace()] { benchmark::DoNotOptimize(replayed_frame(png, *w, false)); });
    for (const auto& [name, decoder] : {std::pair("libpng", sim::PngDecoder::libpng),
                                        std::pair("libspng", sim::PngDecoder::libspng)}) {
        add(kind + "decode/" + name, [=, d = decoder] {
            benchmark::DoNotOptimize(sim::read_depth_png(recorded_path, d).depth.data);
        });
        add(kind + "recorded/" + name,
            [=, d = decoder, w = workspace(), dock = std::make_shared<DetectorWorkspace>()] {
                benchmark::DoNotOptimize(recorded_frame(recorded_path, d, *w, *dock));
            });
    }
    // The detector as a frame loop runs it: its workspace kept from frame to frame.
    add(kind + "dock/fast", [=, types = builtin_pallet_types(), w = std::make_shared<DetectorLoop>()] {
        benchmark::DoNotOptimize(detect_and_dock(depth, types, *w));
    });
#ifdef PALLET_BENCH_PCL
    add(kind + "pcl_pipeline/pcl", [=] { benchmark::DoNotOptimize(pcl_pipeline(depth)); });
#endif
}

// The detector on three pallets side by side, which it must find before it is timed.
void register_three_pallets()
{
    const cv::Mat depth = three_pallet_frame();
    const Detection detection = detect_pallets(depth);
    if (detection.pallets.size() != 3) {
        std::fprintf(stderr, "pallet_bench: the detector finds %zu of the three pallets side by side; nothing timed\n",
                     detection.pallets.size());
        std::exit(1);
    }
    add("three_pallets/dock/fast", [=, types = builtin_pallet_types(), w = std::make_shared<DetectorLoop>()] {
        benchmark::DoNotOptimize(detect_and_dock(depth, types, *w));
    });
}

// One stand-in camera frame of a catalogue scene, filmed with each sensor (the camera's budget is
// 33 ms a frame).
void register_rendering()
{
    for (const char* scene : {"empty", "pallet", "clutter"}) {
        for (const char* sensor : {"legacy", "ideal", "tof"}) {
            add(std::string("render/") + scene + "/" + sensor, [=, preset = sim::sensor_preset(sensor)] {
                benchmark::DoNotOptimize(sim::render_scene_frame(scene, 1, preset).depth.data);
            });
        }
    }
}

void print_ratios(const std::vector<FrameKind>& frames, const std::map<std::string, double>& us)
{
    const auto time = [&us](const std::string& name) {
        const auto found = us.find(name);
        return found == us.end() ? -1.0 : found->second;
    };
    const auto ratio = [](double literal, double fast) {
        return literal > 0.0 && fast > 0.0 ? literal / fast : 0.0;
    };
    std::printf("\nLiteral-to-fast ratios of this run (CPU time, microseconds; best of repeats)\n");
    std::printf("%-10s %-12s | %9s %7s %6s | %9s %7s %6s | %6s %6s %6s %6s | %8s %6s | %6s | %s\n",
                "frame", "outcome", "analysis", "fast", "ratio", "frame", "fast", "ratio", "a+b",
                "cont", "face", "view", "replayed", "views", "dock", "pipeline/fast");
    for (const FrameKind& frame : frames) {
        const std::string k = frame.name + "/";
        const double al = time(k + "analysis/literal"), af = time(k + "analysis/fast");
        const double fl = time(k + "frame/literal"), ff = time(k + "frame/fast");
        const double replayed = time(k + "replayed/fast_views");
        const double saving = time(k + "replayed/library_views") - replayed;
        const double pcl = time(k + "pcl_pipeline/pcl");
        char pcl_text[64] = "not available";
        if (pcl > 0.0) std::snprintf(pcl_text, sizeof pcl_text, "%.0f us, %.0fx", pcl, ratio(pcl, af));
        std::printf("%-10s %-12s | %9.1f %7.1f %6.1f | %9.1f %7.1f %6.1f | %6.1f %6.1f %6.1f %6.1f | "
                    "%8.1f %5.1f%% | %6.1f | %s\n",
                    frame.name.c_str(), outcome_name(frame.expected), al, af, ratio(al, af), fl, ff,
                    ratio(fl, ff),
                    ratio(time(k + "align+bands/literal"), time(k + "align+bands/fast")),
                    ratio(time(k + "contours/literal"), time(k + "contours/fast")),
                    ratio(time(k + "face/literal"), time(k + "face/fast")),
                    ratio(time(k + "views/literal"), time(k + "views/fast")), replayed,
                    replayed > 0.0 ? 100.0 * saving / (replayed + saving) : 0.0,
                    time(k + "dock/fast"), pcl_text);
    }
    std::printf("a+b: align and band masks; cont: candidate contours; face: face fill, points and "
                "plane fit;\nview: depth view and result view; replayed: the headless frame of a "
                "decoded PNG, as a replay\ndelivers it; views: the share of that frame's CPU that "
                "the fast views save over the library's;\ndock: the pallet detector and dock_of.\n");
    std::printf("\nDecoding a recorded frame (sim/depth_png.*, as pallet_scan and the replay read it; CPU "
                "time, microseconds)\n");
    std::printf("%-10s | %8s %8s %6s | %9s %9s %7s\n", "frame", "libpng", "libspng", "ratio",
                "recorded", "recorded", "saving");
    std::printf("%-10s | %8s %8s %6s | %9s %9s %7s\n", "", "", "", "", "libpng", "libspng", "");
    for (const FrameKind& frame : frames) {
        const std::string k = frame.name + "/";
        const double png = time(k + "decode/libpng"), spng = time(k + "decode/libspng");
        const double rec_png = time(k + "recorded/libpng"), rec_spng = time(k + "recorded/libspng");
        std::printf("%-10s | %8.1f %8.1f %6.2f | %9.1f %9.1f %6.1f%%\n", frame.name.c_str(), png,
                    spng, ratio(spng, png), rec_png, rec_spng,
                    rec_png > 0.0 ? 100.0 * (rec_png - rec_spng) / rec_png : 0.0);
    }
    std::printf("ratio: libspng's time over libpng's; recorded: decoding, analysis and pallet detector "
                "of the file;\nsaving: the share of the recorded frame's time that libspng saves over "
                "libpng (negative: it costs).\n");
    std::printf("\nThe detector (detect_pallets + dock_of, workspace and result kept): CPU time per frame, "
                "microseconds;\nallocations per call once they have grown, and those of copying its result\n");
    std::vector<std::pair<std::string, cv::Mat>> detector_frames;
    for (const FrameKind& frame : frames) detector_frames.emplace_back(frame.name, frame.depth);
    detector_frames.emplace_back("three_pallets", three_pallet_frame());
    for (const auto& [name, depth] : detector_frames) {
        const AllocationCount count = count_allocations(depth);
        std::printf("%-14s | %8.1f us | %6.1f allocations per call | %4.0f for its result\n", name.c_str(),
                    time(name + "/dock/fast"), count.per_call, count.result_copy);
    }
#ifndef PALLET_BENCH_PCL
    std::printf("The point cloud library (Debian's libpcl-dev) was not found when pallet_bench was "
                "built: its pipeline is not timed.\n");
#endif
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && std::string(argv[1]) == "--worst-case") return run_worst_case();
    if (argc == 3 && std::string(argv[1]) == "--profile") return run_profile(argv[2]);
    const std::vector<FrameKind> frames = frame_kinds();
    for (const FrameKind& frame : frames) check_fast_equals_literal(frame);
    std::printf("fast == literal on every frame: masks, contours, outcome, report, views\n");
    for (const FrameKind& frame : frames) check_dock(frame);
    std::printf("dock measurement: the truth's pallet, centre within 10 mm, on every frame that shows one\n");
    std::vector<std::string> recorded_paths;
    for (const FrameKind& frame : frames) {
        recorded_paths.push_back(recorded_file(frame));
        check_decoders(frame, recorded_paths.back());
    }
    std::printf("decoders: libpng and libspng give every recorded frame's pixels\n");
    for (std::size_t k = 0; k < frames.size(); ++k) register_frame(frames[k], recorded_paths[k]);
    register_three_pallets();
    register_rendering();

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    CollectingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    print_ratios(frames, reporter.cpu_us);
    for (const std::string& path : recorded_paths) std::filesystem::remove(path);
    return 0;
}
