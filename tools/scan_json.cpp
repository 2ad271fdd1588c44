#include "tools/scan_json.hpp"

#include <cmath>

using json = nlohmann::ordered_json;

namespace {

json number(double value)
{
    return std::isfinite(value) ? json(value) : json(nullptr);
}

json point_json(double x, double y, double z)
{
    return json::array({number(x), number(y), number(z)});
}

json vector_json(const Eigen::Vector3d& v)
{
    return point_json(v(0), v(1), v(2));
}

json rotation_json(const Eigen::Matrix3d& R)
{
    json rows = json::array();
    for (int r = 0; r < 3; ++r) rows.push_back(point_json(R(r, 0), R(r, 1), R(r, 2)));
    return rows;
}

json rect_json(const cv::Rect& rect)
{
    return {{"x", rect.x}, {"y", rect.y}, {"width", rect.width}, {"height", rect.height}};
}

json boxes_json(const std::vector<BoxCorners>& boxes)
{
    json all = json::array();
    for (const BoxCorners& box : boxes) {
        json corners = json::array();
        for (const cv::Point2f& corner : box)
            corners.push_back(json::array({number(corner.x), number(corner.y)}));
        all.push_back(corners);
    }
    return all;
}

}  // namespace

std::string outcome_name(PalletOutcome outcome)
{
    switch (outcome) {
    case PalletOutcome::no_contour: return "no_contour";
    case PalletOutcome::no_pallet: return "no_pallet";
    case PalletOutcome::pallet_found: return "pallet_found";
    }
    return "unknown";
}

json frame_record(const std::string& source, std::uint64_t index, const FrameAnalysis& analysis,
                  double analysis_ms)
{
    const PalletPose& pose = analysis.pose;
    const bool has_face = analysis.outcome != PalletOutcome::no_contour;
    const bool found = analysis.outcome == PalletOutcome::pallet_found;
    json record;  // ordered: the keys stay in this order in the output
    record["source"] = source;
    record["index"] = index;
    record["outcome"] = outcome_name(analysis.outcome);
    record["probe_depth"] = analysis.probe_depth;
    record["bounding_rect"] = has_face ? rect_json(pose.bounding_rect) : json(nullptr);
    record["boxes"] = found ? boxes_json(pose.boxes) : json(nullptr);
    record["face_point_count"] = found ? json(pose.face_point_count) : json(nullptr);
    const cv::Point3d& c = pose.centre_point;
    record["centre_point"] = found ? point_json(c.x, c.y, c.z) : json(nullptr);
    record["rotation"] = found ? rotation_json(pose.rotation) : json(nullptr);
    record["yaw_deg"] = found ? number(pose.angles.yaw_deg) : json(nullptr);
    record["pitch_deg"] = found ? number(pose.angles.pitch_deg) : json(nullptr);
    record["roll_deg"] = found ? number(pose.angles.roll_deg) : json(nullptr);
    record["euler_rad"] = found ? vector_json(pose.euler_rad) : json(nullptr);
    record["euler_deg"] = found ? vector_json(pose.euler_deg) : json(nullptr);
    record["analysis_ms"] = number(analysis_ms);
    return record;
}

std::string record_line(const json& record)
{
    return record.dump(-1, ' ', false, json::error_handler_t::replace) + '\n';
}
