// pallet_bench: each stage and the whole headless frame, in the literal and the fast form, on
// rendered frames of every outcome; prints the literal-to-fast ratios of the run at the end.
// Before anything is timed, the fast form is checked against the literal one on every frame.

#include <algorithm>
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
#include <unistd.h>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "analysis/depth_intake.hpp"
#include "analysis/detector/detect_pallets.hpp"
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
    // The dock measurement as a frame loop runs it: its scratch kept from frame to frame.
    const auto scratch = std::make_shared<DetectorWorkspace>();
    add(kind + "dock/fast",
        [=] { benchmark::DoNotOptimize(detect_pallets(depth, builtin_pallet_types(), DetectorParams{}, *scratch)); });
#ifdef PALLET_BENCH_PCL
    add(kind + "pcl_pipeline/pcl", [=] { benchmark::DoNotOptimize(pcl_pipeline(depth)); });
#endif
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
                "the fast views save over the library's;\ndock: the dock measurement.\n");
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
#ifndef PALLET_BENCH_PCL
    std::printf("The point cloud library (Debian's libpcl-dev) was not found when pallet_bench was "
                "built: its pipeline is not timed.\n");
#endif
}

}  // namespace

int main(int argc, char** argv)
{
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
