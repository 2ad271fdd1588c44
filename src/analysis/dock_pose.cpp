#include "analysis/dock_pose.hpp"

const char* dock_verdict_name(DockVerdict verdict)
{
    switch (verdict) {
    case DockVerdict::no_pallet: return "no_pallet";
    case DockVerdict::pallet: return "pallet";
    case DockVerdict::unknown_type: return "unknown_type";
    }
    return "unknown";
}

const char* dock_reason_name(DockReason reason)
{
    switch (reason) {
    case DockReason::none: return "none";
    case DockReason::no_floor: return "no_floor";
    case DockReason::no_face: return "no_face";
    case DockReason::face_tilted: return "face_tilted";
    case DockReason::not_on_floor: return "not_on_floor";
    case DockReason::wrong_width: return "wrong_width";
    case DockReason::wrong_pockets: return "wrong_pockets";
    case DockReason::face_cut_off: return "face_cut_off";
    }
    return "unknown";
}
