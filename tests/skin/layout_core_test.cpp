#include <gtest/gtest.h>

#include "layout_core.h"

namespace {

const LdFactors kBottomLeft = LdFactorsFromPercent(0, 100, 0, 100);
const LdFactors kBottomRight = LdFactorsFromPercent(100, 100, 100, 100);

TEST(LayoutCore, PlayerAndWindowButtonsFollowTheirCorners) {
    // 800 x 600 grown to 1000 x 700.
    EXPECT_EQ(LdAnchorRect({13, 567, 39, 593}, kBottomLeft, 200, 100), (LdRect{13, 667, 39, 693}));
    EXPECT_EQ(LdAnchorRect({761, 566, 787, 595}, kBottomRight, 200, 100), (LdRect{961, 666, 987, 695}));
    // Back to the reference size: exactly the recorded rectangle.
    EXPECT_EQ(LdAnchorRect({761, 566, 787, 595}, kBottomRight, 0, 0), (LdRect{761, 566, 787, 595}));
}

TEST(LayoutCore, HalfSharesAreCutTowardZero) {
    const LdFactors half = LdFactorsFromPercent(50, 50, 50, 50);
    EXPECT_EQ(LdAnchorRect({10, 10, 20, 20}, half, 3, 3), (LdRect{11, 11, 21, 21}));
    EXPECT_EQ(LdAnchorRect({10, 10, 20, 20}, half, -3, -3), (LdRect{9, 9, 19, 19}));
    // Different shares stretch: only the right edge follows.
    EXPECT_EQ(LdAnchorRect({10, 10, 20, 20}, LdFactorsFromPercent(0, 0, 100, 0), 7, 0), (LdRect{10, 10, 27, 20}));
    // A third of 10 is 3.33..: 3; of -10: -3.
    const LdFactors third = LdFactorsFromPercent(33, 0, 33, 0);
    EXPECT_EQ(LdAnchorRect({100, 0, 110, 5}, third, 10, 0).left, 103);
    EXPECT_EQ(LdAnchorRect({100, 0, 110, 5}, third, -10, 0).left, 97);
}

TEST(LayoutCore, EdgesThatWouldBeNegativeAreClampedToZero) {
    // Shrunk by 700 x 650: the bottom-right child would go far off to the left and top.
    EXPECT_EQ(LdAnchorRect({672, 568, 716, 581}, kBottomRight, -700, -650), (LdRect{0, 0, 16, 0}));
    // Absurd factors saturate rather than overflow.
    const LdRect huge = LdAnchorRect({0, 0, 1, 1}, LdFactorsFromPercent(0, 0, 2000000000, 0), 2000000000, 0);
    EXPECT_EQ(huge.right, 2147483647);
}

}  // namespace
