// zoompanel: the control panel for the 26x Zoom camera module.

#include <QApplication>
#include <QCommandLineParser>
#include <cstdio>
#include <memory>

#include "camera_host.h"
#include "comm_port.h"
#include "qt_seams.h"
#include "uZoom.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("zoompanel");
    QApplication::setApplicationDisplayName("26x Zoom");
    QApplication::setApplicationVersion(ZOOMPANEL_VERSION);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Control panel for the 26x Zoom camera module on a serial line.\n"
        "Without options it opens COM1 (/dev/ttyS0) at 9600 bit/s.");
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption device(
        "device", "Use the serial device PATH instead of COM1, e.g. /dev/ttyUSB0.", "PATH");
    const QCommandLineOption simulate("simulate",
                                      "Talk to a built-in virtual camera over a pseudo-terminal.");
    parser.addOption(device);
    parser.addOption(simulate);
    parser.process(app);

    zp::InstallQtSeams();

    auto port = std::make_unique<zp::TCommPort>();
    zp::camera::TCameraHost camera;
    if (parser.isSet(simulate)) {
        const zp::camera::TStartResult started = camera.Start();
        if (!started) {
            std::fprintf(stderr, "zoompanel: the virtual camera did not start: %s\n",
                         started.error.c_str());
            return 1;
        }
        std::fprintf(stderr, "zoompanel: virtual camera on %s\n", started.path.c_str());
        port->SetDeviceName(started.path);
    } else if (parser.isSet(device)) {
        port->SetDeviceName(parser.value(device).toStdString());
    }

    zp::TForm1 form(std::move(port), zp::TStartOptions{});
    form.show();
    const int rc = QApplication::exec();
    camera.Stop();
    return rc;
}
