// The serial ports this machine has, read from sysfs and udev without opening
// any of them, and the udev monitor that reports ports coming and going.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace zp {

struct TPortInfo {
    std::string path;    // what to open: the /dev/serial/by-id/... link where there is one, else
                         // /dev/ttyUSB0, /dev/ttyS0 ...
    std::string device;  // kernel name, e.g. "ttyUSB0"
    std::string description;  // e.g. "FTDI FT232R USB UART, serial A1B2C3 (ttyUSB0)"
    bool console = false;     // the system console
};

struct TPortListing {
    std::vector<TPortInfo> ports;  // USB adapters first, then UARTs, each by kernel name
    bool udev = false;             // descriptions came from udev
    std::string note;              // why the list may look thin; empty when udev runs
};

// Where to look; tests point these at a fake tree in a temporary folder.
struct TPortRoots {
    std::string sys = "/sys";
    std::string dev = "/dev";
    std::string consoles = "/proc/consoles";
};

// udev's properties of a tty by kernel name (ID_VENDOR, ID_MODEL_FROM_DATABASE,
// ID_SERIAL_SHORT ...); an empty map when udev does not know it.
using TUdevProperties = std::function<std::map<std::string, std::string>(const std::string&)>;

// The running udev daemon's properties; an empty function where none runs.
TUdevProperties SystemUdevProperties();

// Lists with properties from udev (an empty function: from sysfs alone).
TPortListing ListPorts(const TPortRoots& roots, const TUdevProperties& udev);
// Lists with the system's udev, when it runs.
TPortListing ListPorts(const TPortRoots& roots = {});

// One line per port for the terminal: "PATH  DESCRIPTION[  (console)]", and
// the note line when there is one.
std::string PortListText(const TPortListing& listing);

// Hot-plug: a tty device appeared or went.
struct TPortChange {
    bool added = false;
    std::string device;  // kernel name, e.g. "ttyUSB0"
};

class IPortMonitor {
  public:
    virtual ~IPortMonitor() = default;
    // Readable when a change is waiting; the main loop watches it.
    virtual int Fd() const = 0;
    // Takes one change without blocking; false when none is waiting.
    virtual bool Read(TPortChange& change) = 0;
};

// The udev monitor on the tty subsystem; nullptr where no udev daemon runs (or
// libudev cannot start one).
std::unique_ptr<IPortMonitor> OpenPortMonitor();

}  // namespace zp
