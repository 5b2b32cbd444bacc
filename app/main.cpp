// zoompanel: the control panel for the 26x Zoom camera module.

#include <QApplication>
#include <QCommandLineParser>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>

#include "camera/camera_host.h"
#include "panel/comm_port.h"
#include "panel/qt_seams.h"
#include "panel/uZoom.h"
#include "serial/platform/port_list.h"

namespace {

struct TOptions {
    QCommandLineOption device{
        "device", "Use the serial device PATH instead of COM1, e.g. /dev/ttyUSB0.", "PATH"};
    QCommandLineOption simulate{"simulate",
                                "Talk to a built-in virtual camera over a pseudo-terminal."};
    QCommandLineOption listPorts{"list-ports",
                                 "Print the serial ports found (path, description) and exit."};
    QCommandLineOption log{"log",
                           "Write every event on the line, as the traffic view shows it, to "
                           "FILE (appended, a line at a time).",
                           "FILE"};
};

void SetNames() {
    // The settings land in the user's config folder under the program's name.
    QCoreApplication::setOrganizationName("zoompanel");
    QCoreApplication::setApplicationName("zoompanel");
    QCoreApplication::setApplicationVersion(ZOOMPANEL_VERSION);
}

void Define(QCommandLineParser& parser, const TOptions& options) {
    parser.setApplicationDescription(
        "Control panel for the 26x Zoom camera module on a serial line.\n"
        "Without options it opens the port that last reached the camera, else COM1\n"
        "(/dev/ttyS0), at 9600 bit/s.");
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption(options.device);
    parser.addOption(options.simulate);
    parser.addOption(options.listPorts);
    parser.addOption(options.log);
}

bool HasDisplay() {
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

}  // namespace

int main(int argc, char** argv) {
    const TOptions options;
    {
        // --help, --version and a mistake in the options need no display;
        // --help-all without one leaves out the display's own options.
        QCoreApplication probe(argc, argv);
        SetNames();
        QCommandLineParser parser;
        Define(parser, options);
        if (!parser.parse(QCoreApplication::arguments()) || parser.isSet("help") ||
            parser.isSet("version") || (parser.isSet("help-all") && !HasDisplay())) {
            parser.process(probe);  // prints and exits
        }
        // Needs no display either: it is for terminals and scripts.
        if (parser.isSet(options.listPorts)) {
            std::fputs(zp::PortListText(zp::ListPorts()).c_str(), stdout);
            return 0;
        }
    }
    if (!HasDisplay()) {
        std::fprintf(stderr,
                     "zoompanel: no graphical display (DISPLAY is not set). Start it on a "
                     "desktop, or under xvfb-run.\n");
        return 1;
    }

    zp::TZoomApplication app(argc, argv);
    SetNames();
    QCommandLineParser parser;
    Define(parser, options);
    parser.process(app);

    zp::InstallQtSeams();

    auto port = std::make_unique<zp::TCommPort>();
    zp::camera::TCameraHost camera;
    zp::TStartOptions start;
    start.logPath = parser.value(options.log).toStdString();
    start.listPorts = zp::SystemPorts;
    start.portMonitor = zp::OpenPortMonitor();
    start.startVirtualCamera = [&camera] {
        const zp::camera::TStartResult started = camera.Start();
        if (!started) {
            throw std::runtime_error(started.error);
        }
        return started.path;
    };
    const zp::TStartDevice chosen =
        zp::StartDevice(parser.value(options.device).toStdString(), parser.isSet(options.simulate),
                        zp::RememberedPort());
    if (chosen.virtualCamera) {
        try {
            const std::string path = start.startVirtualCamera();
            std::fprintf(stderr, "zoompanel: virtual camera on %s\n", path.c_str());
            port->SetDeviceName(path);
            start.virtualCamera = true;
        } catch (const std::exception& e) {
            std::fprintf(stderr, "zoompanel: the virtual camera did not start: %s\n", e.what());
            return 1;
        }
    } else if (!chosen.device.empty()) {
        port->SetDeviceName(chosen.device);
        start.rememberedPort = chosen.remembered;
    }

    zp::TForm1 form(std::move(port), start);
    form.show();
    const int rc = QApplication::exec();
    camera.Stop();
    return rc;
}
