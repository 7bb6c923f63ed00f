// Small helpers the benchmarks share.
#pragma once

#include <algorithm>
#include <chrono>
#include <vector>

namespace bench {

inline double Ms(std::chrono::steady_clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

inline double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace bench
