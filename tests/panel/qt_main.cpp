// GUI tests run headless; the application, with its guard against escaping
// exceptions, must exist before any widget.
#include <gtest/gtest.h>

#include <cstdlib>

#include "qt_seams.h"

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    zp::TZoomApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
