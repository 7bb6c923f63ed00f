// Anchor arithmetic without any GUI type, so it can be checked on its own.
#pragma once

struct LdRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    bool operator==(const LdRect&) const = default;
};

struct LdFactors {
    double left = 0.0;    // share of the width change added to the left edge
    double top = 0.0;     // share of the height change added to the top edge
    double right = 0.0;   // share of the width change added to the right edge
    double bottom = 0.0;  // share of the height change added to the bottom edge
};

// Turns whole percentages into factors (100 -> 1.0).
LdFactors LdFactorsFromPercent(int left, int top, int right, int bottom);

// The rectangle a child recorded at `initial` gets when its parent has grown by
// dx x dy pixels (negative when it shrank): each edge moves by its share of the
// change, cut toward zero, and an edge that comes out negative is put at 0.
LdRect LdAnchorRect(const LdRect& initial, const LdFactors& f, int dx, int dy);
