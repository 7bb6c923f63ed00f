// main() for tests that need a QApplication. Runs offscreen unless told otherwise.
#include <QApplication>
#include <gtest/gtest.h>

#include "test_support.h"

int main(int argc, char** argv) {
    testsupport::ApplyTestEnvironment();
    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
