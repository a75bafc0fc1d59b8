#pragma once

// The figure every benchmark row gives: the middle of several runs, which a run that the
// scheduler slowed moves less than it would move a mean. Header only.
#include <algorithm>
#include <vector>

inline double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}
