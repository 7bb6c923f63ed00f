#include "layout_core.h"

#include <climits>
#include <cmath>

LdFactors LdFactorsFromPercent(int left, int top, int right, int bottom) {
    return {left / 100.0, top / 100.0, right / 100.0, bottom / 100.0};
}

namespace {
int Shifted(int edge, double factor, double delta) {
    // std::trunc cuts toward zero: +1.5 -> +1 and -1.5 -> -1. Computed in double so
    // that absurd factors saturate instead of overflowing.
    const double v = edge + std::trunc(factor * delta);
    if (!(v > 0))  // negative, or NaN from a NaN factor
        return 0;
    return v >= INT_MAX ? INT_MAX : static_cast<int>(v);
}
}  // namespace

LdRect LdAnchorRect(const LdRect& initial, const LdFactors& f, int dx, int dy) {
    const double ddx = dx;
    const double ddy = dy;
    LdRect r;
    r.left = Shifted(initial.left, f.left, ddx);
    r.top = Shifted(initial.top, f.top, ddy);
    r.right = Shifted(initial.right, f.right, ddx);
    r.bottom = Shifted(initial.bottom, f.bottom, ddy);
    return r;
}
