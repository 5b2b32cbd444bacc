// Writes a picture of the window on each page, after the page has been read
// from the virtual camera: docs/screens/<caption>.png. Run with
// QT_QPA_PLATFORM=offscreen, or under xvfb-run for the real platform theme.

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QProgressDialog>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>
#include <cstdlib>

#include "camera/camera_host.h"
#include "panel/comm_port.h"
#include "panel/qt_seams.h"
#include "panel/uZoom.h"

namespace {

bool WaitFor(const std::function<bool()>& done) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > 10000) {
            return false;
        }
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(1);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    // Settings of its own: the pictures must not depend on, or change, the
    // user's remembered port and window place.
    QTemporaryDir settings;
    setenv("XDG_CONFIG_HOME", settings.path().toLocal8Bit().constData(), 1);
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName("zoompanel-screens");
    QCoreApplication::setApplicationName("zoompanel-screens");
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
    const QString dir = argc > 1 ? argv[1] : "docs/screens";
    QDir().mkpath(dir);
    zp::InstallQtSeams();

    zp::camera::TCameraHost camera;
    const auto started = camera.Start();
    if (!started) {
        std::fprintf(stderr, "screenshots: %s\n", started.error.c_str());
        return 1;
    }
    auto port = std::make_unique<zp::TCommPort>();
    port->SetDeviceName(started.path);
    zp::TStartOptions options;
    options.pause = [](int) {};
    options.listPorts = zp::SystemPorts;
    options.virtualCamera = true;
    options.startVirtualCamera = [&camera] { return camera.Start().path; };
    zp::TForm1 form(std::move(port), options);
    form.show();
    if (!WaitFor([&] { return form.PageControl1->isEnabled() && form.Link().CanSend(); })) {
        std::fprintf(stderr, "screenshots: the link did not come up\n");
        return 1;
    }
    for (int i = 0; i < form.PageControl1->count(); ++i) {
        form.PageControl1->setCurrentIndex(i);
        WaitFor([&] { return form.Link().CanSend(); });
        // A page that reads in a chain is idle between its steps only briefly.
        for (int settle = 0; settle < 10; ++settle) {
            QApplication::processEvents(QEventLoop::AllEvents, 20);
            QThread::msleep(20);
            WaitFor([&] { return form.Link().CanSend(); });
        }
        QString name = form.PageControl1->tabText(i).toLower().remove('.');
        const QString file = dir + "/" + name + ".png";
        if (!form.grab().save(file)) {
            std::fprintf(stderr, "screenshots: cannot write %s\n", qPrintable(file));
            return 1;
        }
        std::printf("%s\n", qPrintable(file));
    }
    // The traffic view beside the pages during the title read, and after an
    // exchange that went unanswered.
    const auto picture = [&](const char* name) {
        QApplication::processEvents(QEventLoop::AllEvents, 50);
        const QString file = dir + "/" + name;
        if (!form.grab().save(file)) {
            std::fprintf(stderr, "screenshots: cannot write %s\n", qPrintable(file));
            std::exit(1);
        }
        std::printf("%s\n", qPrintable(file));
    };
    form.TrafficDock()->show();
    form.Traffic()->Model()->Clear();
    form.PageControl1->setCurrentIndex(0);
    WaitFor([&] { return form.Traffic()->Model()->rowCount() >= 12; });
    picture("traffic.png");
    WaitFor([&] { return form.Link().Idle(); });
    camera.SetFault(zp::camera::TFault::Silent, 3);
    form.PageControl1->setCurrentIndex(5);
    WaitFor([&] { return form.StatusPanel(0)->text() == zp::kTextNoAnswer; });
    picture("traffic-timeout.png");
    camera.SetFault(zp::camera::TFault::None, 0);
    form.TrafficDock()->hide();
    QApplication::processEvents(QEventLoop::AllEvents, 50);

    // File > Save camera settings under way on a slow camera, then its
    // result; then a load of a file with faults.
    const auto withWindow = [&](QWidget* top, const char* name) {
        QApplication::processEvents(QEventLoop::AllEvents, 50);
        QPixmap shot = form.grab();
        {
            QPainter painter(&shot);
            painter.drawPixmap(form.mapFromGlobal(top->pos()), top->grab());
        }
        const QString file = dir + "/" + name;
        if (!shot.save(file)) {
            std::fprintf(stderr, "screenshots: cannot write %s\n", qPrintable(file));
            std::exit(1);
        }
        std::printf("%s\n", qPrintable(file));
    };
    const auto resultBox = [] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (w->objectName() == "ResultBox" && w->isVisible()) {
                return w;
            }
        }
        return static_cast<QWidget*>(nullptr);
    };
    QTemporaryDir files;
    WaitFor([&] { return form.Link().Idle(); });
    camera.SetAnswerDelay(std::chrono::milliseconds(150));
    form.SaveCameraSettings(files.filePath("camera-settings.json"));
    WaitFor([&] { return form.JobProgress() == nullptr || form.JobProgress()->value() >= 12; });
    if (form.JobProgress() != nullptr) {
        withWindow(form.JobProgress(), "save-progress.png");
    }
    camera.SetAnswerDelay(std::chrono::milliseconds(0));
    WaitFor([&] { return !form.JobRunning() && resultBox() != nullptr; });
    withWindow(resultBox(), "save-result.png");
    resultBox()->close();
    {
        QFile bad(files.filePath("edited.json"));
        bad.open(QIODevice::WriteOnly);
        bad.write(R"({"format": "zoompanel camera settings", "schema": 1, "pages": {
            "alc": {"settings": {"alc.alc": "FIX", "alc.alc_fix_level": "LOUD"}},
            "colour": {"settings": {"colour.ry_gain": "12"}}}})");
    }
    form.LoadCameraSettings(files.filePath("edited.json"));
    WaitFor([&] { return resultBox() != nullptr; });
    withWindow(resultBox(), "load-refused.png");
    resultBox()->close();
    camera.SetAnswerDelay(std::chrono::milliseconds(100));
    form.LoadCameraSettings(files.filePath("camera-settings.json"));
    WaitFor([&] { return form.JobProgress() == nullptr || form.JobProgress()->value() >= 60; });
    if (form.JobProgress() != nullptr) {
        withWindow(form.JobProgress(), "load-progress.png");
    }
    camera.SetAnswerDelay(std::chrono::milliseconds(0));
    WaitFor([&] { return !form.JobRunning() && resultBox() != nullptr; });
    withWindow(resultBox(), "load-result.png");
    resultBox()->close();

    // The Port menu open over the first page.
    form.PageControl1->setCurrentIndex(0);
    QMenu* menu = form.PortMenu();
    menu->popup(form.mapToGlobal(form.menuBar()->actionGeometry(menu->menuAction()).bottomLeft()));
    QApplication::processEvents(QEventLoop::AllEvents, 50);
    QPixmap withMenu = form.grab();
    {
        QPainter painter(&withMenu);
        painter.drawPixmap(form.mapFromGlobal(menu->pos()), menu->grab());
    }
    menu->hide();
    const QString menuFile = dir + "/port-menu.png";
    if (!withMenu.save(menuFile)) {
        std::fprintf(stderr, "screenshots: cannot write %s\n", qPrintable(menuFile));
        return 1;
    }
    std::printf("%s\n", qPrintable(menuFile));
    // The window while the line is lost: the longest status beside Reconnect.
    camera.HangUp();
    WaitFor([&] { return form.StatusPanel(0)->text() == zp::kTextDeviceLost; });
    QApplication::processEvents(QEventLoop::AllEvents, 50);
    const QString lost = dir + "/lost.png";
    if (!form.grab().save(lost)) {
        std::fprintf(stderr, "screenshots: cannot write %s\n", qPrintable(lost));
        return 1;
    }
    std::printf("%s\n", qPrintable(lost));
    return 0;
}
