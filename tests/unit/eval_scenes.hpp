// Dock comparisons made up for the tests of the sweep's statistics and tables.
#pragma once

#include "tools/eval_sweep.hpp"

// A pallet scene of the working envelope with a pallet verdict and the given errors.
inline SceneResult measured(double err_x, double yaw_err, double confidence)
{
    SceneResult r;
    r.params.distance_mm = 1500.0;
    r.params.height_mm = 200.0;
    r.params.pitch_deg = 6.0;
    r.params.noise_level = 1.0;
    DockComparison& d = r.dock;
    d.verdict = DockVerdict::pallet;
    d.reason = DockReason::none;
    d.confidence = confidence;
    d.centre_error = {err_x, -0.5 * err_x, 1.0};
    d.centre_error_floor = {err_x, 1.0, 0.5 * err_x};
    d.yaw_error_deg = yaw_err;
    d.width_error_mm = -2.0 * err_x;
    d.pockets = 2;
    d.pocket_error_mm[0] = 3.0;
    d.pocket_error_mm[1] = 5.0;
    return r;
}

inline SceneResult refused(DockReason reason)
{
    SceneResult r = measured(0.0, 0.0, 0.0);
    r.dock = DockComparison{};
    r.dock.reason = reason;
    return r;
}

