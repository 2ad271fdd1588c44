#include "tools/eval_csv.hpp"

#include <ostream>

#include "tools/eval_stats.hpp"

namespace {

// A number of the scene, as number() writes it.
CsvColumn decimal(const std::string& name, const std::function<double(const SceneResult&)>& of, int decimals = 3)
{
    return {name, [of, decimals](std::size_t, const SceneResult& r) { return number(of(r), decimals); }};
}

// A whole number of the scene.
CsvColumn count(const std::string& name, const std::function<std::size_t(const SceneResult&)>& of)
{
    return {name, [of](std::size_t, const SceneResult& r) { return std::to_string(of(r)); }};
}

CsvColumn text(const std::string& name, const std::function<std::string(const SceneResult&)>& of)
{
    return {name, [of](std::size_t, const SceneResult& r) { return of(r); }};
}

// Three columns of a vector, one per component.
void add_vector(std::vector<CsvColumn>& columns, const std::string (&names)[3],
                const std::function<Eigen::Vector3d(const SceneResult&)>& of, int decimals = 3)
{
    for (int k = 0; k < 3; ++k) {
        columns.push_back(decimal(names[k], [of, k](const SceneResult& r) { return of(r)(k); }, decimals));
    }
}

// The yaw, pitch and roll lines of one of the comparison's sets of angles.
void add_angles(std::vector<CsvColumn>& columns, const std::string& suffix,
                ReportedAngles SceneComparison::*angles)
{
    columns.push_back(decimal("yaw_deg" + suffix, [angles](const SceneResult& r) { return (r.comparison.*angles).yaw_deg; }));
    columns.push_back(decimal("pitch_deg" + suffix, [angles](const SceneResult& r) { return (r.comparison.*angles).pitch_deg; }));
    columns.push_back(decimal("roll_deg" + suffix, [angles](const SceneResult& r) { return (r.comparison.*angles).roll_deg; }));
}

// A column of the centre pixel, written only where a pallet was found.
CsvColumn when_found(const std::string& name, const std::function<std::string(const SceneComparison&)>& of)
{
    return text(name, [of](const SceneResult& r) {
        return r.comparison.outcome == PalletOutcome::pallet_found ? of(r.comparison) : std::string();
    });
}

std::vector<CsvColumn> parameter_columns()
{
    return {
        {"scene", [](std::size_t row, const SceneResult&) { return std::to_string(row); }},
        text("seed", [](const SceneResult& r) { return std::to_string(r.seed); }),
        decimal("distance_mm", [](const SceneResult& r) { return r.params.distance_mm; }),
        decimal("yaw_deg", [](const SceneResult& r) { return r.params.yaw_deg; }),
        decimal("lateral_mm", [](const SceneResult& r) { return r.params.lateral_mm; }),
        decimal("height_mm", [](const SceneResult& r) { return r.params.height_mm; }),
        decimal("pitch_deg", [](const SceneResult& r) { return r.params.pitch_deg; }),
        decimal("noise_level", [](const SceneResult& r) { return r.params.noise_level; }),
        count("cavity", [](const SceneResult& r) -> std::size_t { return r.params.cavity_no_return ? 1 : 0; }),
    };
}

void add_fixed_columns(std::vector<CsvColumn>& columns)
{
    columns.push_back(text("outcome", [](const SceneResult& r) { return outcome_name(r.comparison.outcome); }));
    columns.push_back(text("face_width_px", [](const SceneResult& r) { return std::to_string(r.comparison.face_width_px); }));
    columns.push_back(count("face_points", [](const SceneResult& r) { return r.comparison.face_point_count; }));
    add_vector(columns, {"true_x_mm", "true_y_mm", "true_z_mm"}, [](const SceneResult& r) { return r.comparison.true_centre; });
    add_vector(columns, {"centre_x_mm", "centre_y_mm", "centre_z_mm"},
               [](const SceneResult& r) { return r.comparison.reported_centre; });
    add_vector(columns, {"err_x_mm", "err_y_mm", "err_z_mm"}, [](const SceneResult& r) { return r.comparison.centre_error; });
    columns.push_back(decimal("err_mm", [](const SceneResult& r) { return r.comparison.centre_error_norm; }));
    columns.push_back(when_found("centre_u", [](const SceneComparison& c) { return std::to_string(c.centre_pixel.x); }));
    columns.push_back(when_found("centre_v", [](const SceneComparison& c) { return std::to_string(c.centre_pixel.y); }));
    columns.push_back(when_found("centre_label", [](const SceneComparison& c) { return std::to_string(c.centre_label); }));
    columns.push_back(when_found("centre_on_face", [](const SceneComparison& c) { return std::string(c.centre_on_face ? "1" : "0"); }));
    columns.push_back(decimal("normal_err_deg", [](const SceneResult& r) { return r.comparison.normal_error_deg; }));
    add_angles(columns, "_reported", &SceneComparison::reported);
    add_angles(columns, "_expected", &SceneComparison::expected);
    columns.push_back(decimal("yaw_err_deg", [](const SceneResult& r) { return r.comparison.error.yaw_deg; }));
    columns.push_back(decimal("pitch_err_deg", [](const SceneResult& r) { return r.comparison.error.pitch_deg; }));
    columns.push_back(decimal("roll_err_deg", [](const SceneResult& r) { return r.comparison.error.roll_deg; }));
    columns.push_back(decimal("yaw_line_minus_pallet_yaw_deg", [](const SceneResult& r) { return r.comparison.yaw_line_vs_pallet_deg; }));
    add_vector(columns, {"euler0_err_deg", "euler1_err_deg", "euler2_err_deg"},
               [](const SceneResult& r) { return r.comparison.error.euler_deg; });
}

void add_verdict_columns(std::vector<CsvColumn>& columns)
{
    columns.push_back(text("dock_verdict", [](const SceneResult& r) { return dock_verdict_name(r.dock.verdict); }));
    columns.push_back(text("dock_reason", [](const SceneResult& r) { return dock_reason_name(r.dock.reason); }));
}

void add_floor_error_columns(std::vector<CsvColumn>& columns)
{
    columns.push_back(decimal("dock_floor_normal_err_deg", [](const SceneResult& r) { return r.dock.floor_normal_error_deg; }, 4));
    columns.push_back(decimal("dock_camera_height_err_mm", [](const SceneResult& r) { return r.dock.camera_height_error_mm; }));
    columns.push_back(decimal("dock_camera_tilt_err_deg", [](const SceneResult& r) { return r.dock.camera_tilt_error_deg; }, 4));
}

void add_dock_columns(std::vector<CsvColumn>& columns)
{
    add_verdict_columns(columns);
    columns.push_back(decimal("dock_confidence", [](const SceneResult& r) { return r.dock.confidence; }, 4));
    columns.push_back(decimal("contour_floor_share", [](const SceneResult& r) { return r.dock.contour_floor_share; }, 4));
    columns.push_back(decimal("contour_pallet_share", [](const SceneResult& r) { return r.dock.contour_pallet_share; }, 4));
    add_vector(columns, {"dock_err_x_mm", "dock_err_y_mm", "dock_err_z_mm"}, [](const SceneResult& r) { return r.dock.centre_error; });
    add_vector(columns, {"dock_err_lateral_mm", "dock_err_forward_mm", "dock_err_height_mm"},
               [](const SceneResult& r) { return r.dock.centre_error_floor; });
    columns.push_back(decimal("dock_yaw_err_deg", [](const SceneResult& r) { return r.dock.yaw_error_deg; }, 4));
    columns.push_back(decimal("dock_normal_err_deg", [](const SceneResult& r) { return r.dock.normal_error_deg; }, 4));
    columns.push_back(decimal("dock_distance_err_mm", [](const SceneResult& r) { return r.dock.distance_error_mm; }));
    columns.push_back(decimal("dock_width_err_mm", [](const SceneResult& r) { return r.dock.width_error_mm; }));
    columns.push_back(count("dock_pockets", [](const SceneResult& r) { return r.dock.pockets; }));
    columns.push_back(decimal("dock_pocket_left_err_mm", [](const SceneResult& r) { return r.dock.pocket_error_mm[0]; }));
    columns.push_back(decimal("dock_pocket_right_err_mm", [](const SceneResult& r) { return r.dock.pocket_error_mm[1]; }));
    add_floor_error_columns(columns);
}

}  // namespace

std::vector<CsvColumn> scene_columns()
{
    std::vector<CsvColumn> columns = parameter_columns();
    add_fixed_columns(columns);
    add_dock_columns(columns);
    return columns;
}

std::vector<CsvColumn> empty_scene_columns()
{
    std::vector<CsvColumn> columns = {
        {"scene", [](std::size_t row, const SceneResult&) { return std::to_string(row); }},
        text("seed", [](const SceneResult& r) { return std::to_string(r.seed); }),
        decimal("height_mm", [](const SceneResult& r) { return r.params.height_mm; }),
        decimal("pitch_deg", [](const SceneResult& r) { return r.params.pitch_deg; }),
        decimal("noise_level", [](const SceneResult& r) { return r.params.noise_level; }),
        text("index", [](const SceneResult& r) { return std::to_string(r.params.empty_index); }),
        text("outcome", [](const SceneResult& r) { return outcome_name(r.comparison.outcome); }),
    };
    add_verdict_columns(columns);
    add_floor_error_columns(columns);
    return columns;
}

void write_csv(std::ostream& out, const std::vector<CsvColumn>& columns, const std::vector<SceneResult>& results)
{
    write_table_csv(out, columns, results);
}
