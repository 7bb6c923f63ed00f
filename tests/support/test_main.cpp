// main() for tests without Qt.
#include <gtest/gtest.h>

#include "test_support.h"

int main(int argc, char** argv) {
    testsupport::ApplyTestEnvironment();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
