// Order statistics of measured values, each a function of the values alone (never of their order).
#pragma once

#include <vector>

// The q-quantile (0..1) by the nearest rank below, of the values, which it reorders; NaN for none.
double quantile_of(std::vector<double>& values, double q);

// The median (nearest rank below) of the values, which it reorders; NaN for none.
double median_of(std::vector<double>& values);

// 1.4826 times the median absolute deviation from the median: the spread of normal values; NaN
// for none. `deviations` is scratch.
double robust_spread(const std::vector<double>& values, std::vector<double>& deviations);

// A quantile of at most 1000 of the values, evenly spread through them; `sample` is scratch.
double sampled_quantile(const std::vector<double>& values, double q, std::vector<double>& sample);
