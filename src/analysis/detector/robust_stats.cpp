#include "analysis/detector/robust_stats.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>

double quantile_of(std::vector<double>& values, double q)
{
    if (values.empty()) return NAN;
    const auto k = static_cast<std::size_t>(q * static_cast<double>(values.size() - 1));
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(k), values.end());
    return values[k];
}

double median_of(std::vector<double>& values)
{
    return quantile_of(values, 0.5);
}

double robust_spread(const std::vector<double>& values, std::vector<double>& deviations)
{
    deviations.assign(values.begin(), values.end());
    const double middle = median_of(deviations);
    for (double& value : deviations) value = std::abs(value - middle);
    return 1.4826 * median_of(deviations);
}

double sampled_quantile(const std::vector<double>& values, double q, std::vector<double>& sample)
{
    const std::size_t stride = std::max<std::size_t>(1, values.size() / 1000);
    sample.clear();
    for (std::size_t i = 0; i < values.size(); i += stride) sample.push_back(values[i]);
    return quantile_of(sample, q);
}
