// GUI tests run headless, with settings in a folder of their own; the
// application, with its guard against escaping exceptions, must exist before
// any widget.
#include <gtest/gtest.h>

#include <QSettings>
#include <QTemporaryDir>
#include <cstdlib>

#include "panel/qt_seams.h"

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QTemporaryDir settings;
    setenv("XDG_CONFIG_HOME", settings.path().toLocal8Bit().constData(), 1);
    zp::TZoomApplication app(argc, argv);
    QCoreApplication::setOrganizationName("zoompanel-tests");
    QCoreApplication::setApplicationName("zoompanel-tests");
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
