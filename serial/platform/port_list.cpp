// The port list from sysfs, /dev/serial/by-id and the console list, with
// udev's properties where a udev daemon runs. Nothing here opens a port:
// opening one toggles DTR and RTS on its line.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <system_error>
#include <tuple>

#include "serial/platform/port_list.h"

namespace zp {

namespace {

namespace fs = std::filesystem;

// The first line of a sysfs attribute, without trailing blanks; "" when missing.
std::string ReadAttr(const fs::path& path) {
    std::ifstream in(path);
    std::string line;
    if (!in || !std::getline(in, line)) {
        return "";
    }
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r')) {
        line.pop_back();
    }
    return line;
}

// Device strings come from the device's own firmware: keep control
// characters (escape sequences) out of the menu and the terminal.
std::string Printable(std::string text) {
    for (char& c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f) {
            c = '?';
        }
    }
    return text;
}

// udev writes blanks in ID_VENDOR and ID_MODEL as underscores.
std::string Unblank(std::string text) {
    std::replace(text.begin(), text.end(), '_', ' ');
    return text;
}

std::string Property(const std::map<std::string, std::string>& props, const char* key) {
    const auto it = props.find(key);
    return it == props.end() ? std::string() : it->second;
}

// The USB device a tty hangs off (the folder with idVendor), or "" for none.
fs::path UsbParent(const fs::path& device, const fs::path& sysDevices) {
    for (fs::path dir = device; !dir.empty() && dir != sysDevices && dir != dir.root_path();
         dir = dir.parent_path()) {
        std::error_code ec;
        if (fs::exists(dir / "idVendor", ec)) {
            return dir;
        }
    }
    return {};
}

// The serial core reports the UART it found behind a port in `type`; 0 is
// PORT_UNKNOWN. The 8250 driver reserves nr_uarts ports (ttyS0..ttyS31 on
// many kernels) with a device and a driver, and often a legacy I/O address,
// whether or not a chip answers there; only `type` tells a real UART from
// such a placeholder, so that is the rule.
bool IsRealUart(const fs::path& classDir) {
    const std::string type = ReadAttr(classDir / "type");
    if (type.empty()) {
        return false;
    }
    char* end = nullptr;
    const long value = std::strtol(type.c_str(), &end, 0);
    return end != type.c_str() && value != 0;
}

std::string UsbDescription(const std::string& device, const fs::path& usb,
                           const std::map<std::string, std::string>& props) {
    std::string vendor = Property(props, "ID_VENDOR_FROM_DATABASE");
    if (vendor.empty()) {
        vendor = Unblank(Property(props, "ID_VENDOR"));
    }
    std::string model = Property(props, "ID_MODEL_FROM_DATABASE");
    if (model.empty()) {
        model = Unblank(Property(props, "ID_MODEL"));
    }
    std::string serial = Property(props, "ID_SERIAL_SHORT");
    // What udev does not say, the USB device's own attributes do.
    if (vendor.empty()) {
        vendor = ReadAttr(usb / "manufacturer");
    }
    if (model.empty()) {
        model = ReadAttr(usb / "product");
    }
    if (serial.empty()) {
        serial = ReadAttr(usb / "serial");
    }
    std::string text;
    if (vendor.empty() && model.empty()) {
        text =
            "USB serial adapter " + ReadAttr(usb / "idVendor") + ":" + ReadAttr(usb / "idProduct");
    } else if (vendor.empty() || model.compare(0, vendor.size(), vendor) == 0) {
        text = model;
    } else if (model.empty()) {
        text = vendor;
    } else {
        text = vendor + " " + model;
    }
    if (!serial.empty()) {
        text += ", serial " + serial;
    }
    return Printable(text) + " (" + device + ")";
}

// Kernel names of the console: the first column of /proc/consoles, and the
// list in /sys/class/tty/console/active.
std::set<std::string> ConsoleNames(const TPortRoots& roots) {
    std::set<std::string> names;
    std::ifstream consoles(roots.consoles);
    for (std::string line; std::getline(consoles, line);) {
        std::istringstream fields(line);
        std::string name;
        if (fields >> name) {
            names.insert(name);
        }
    }
    std::istringstream active(ReadAttr(fs::path(roots.sys) / "class/tty/console/active"));
    for (std::string name; active >> name;) {
        names.insert(name);
    }
    return names;
}

// Kernel name -> its /dev/serial/by-id link; the first by name when a device
// has several.
std::map<std::string, std::string> ByIdLinks(const std::string& dev) {
    std::map<std::string, std::string> links;
    std::error_code ec;
    const fs::path dir = fs::path(dev) / "serial/by-id";
    std::vector<fs::path> entries;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        entries.push_back(it->path());
    }
    std::sort(entries.begin(), entries.end());
    for (const fs::path& link : entries) {
        std::error_code lec;
        const fs::path target = fs::read_symlink(link, lec);
        if (!lec) {
            links.emplace(target.filename().string(), link.string());
        }
    }
    return links;
}

// "ttyUSB10" sorts after "ttyUSB2".
std::tuple<std::string, unsigned long, std::string> NaturalKey(const std::string& name) {
    size_t digits = name.size();
    while (digits > 0 && name[digits - 1] >= '0' && name[digits - 1] <= '9') {
        --digits;
    }
    const std::string number = name.substr(digits);
    return {name.substr(0, digits), number.empty() ? 0 : std::stoul(number.substr(0, 9)), name};
}

}  // namespace

TPortListing ListPorts(const TPortRoots& roots, const TUdevProperties& udev) {
    TPortListing listing;
    listing.udev = static_cast<bool>(udev);
    const fs::path sys(roots.sys);
    const fs::path sysDevices = sys / "devices";
    const std::set<std::string> consoles = ConsoleNames(roots);
    const std::map<std::string, std::string> byId = ByIdLinks(roots.dev);

    struct TFound {
        bool usb;
        TPortInfo info;
    };
    std::vector<TFound> found;
    std::error_code ec;
    for (fs::directory_iterator it(sys / "class/tty", ec), end; !ec && it != end;
         it.increment(ec)) {
        const fs::path classDir = it->path();
        const std::string name = classDir.filename().string();
        // Virtual terminals, ptmx, the console alias and pseudo-terminals
        // have no device behind them.
        std::error_code dec;
        const fs::path device = fs::canonical(classDir / "device", dec);
        if (dec) {
            continue;
        }
        TFound port{false, {}};
        port.info.device = name;
        const fs::path usb = UsbParent(device, fs::weakly_canonical(sysDevices, dec));
        if (!usb.empty()) {
            port.usb = true;
            port.info.description =
                UsbDescription(name, usb, udev ? udev(name) : std::map<std::string, std::string>{});
        } else if (IsRealUart(classDir)) {
            port.info.description = "On-board serial port (" + name + ")";
        } else {
            continue;
        }
        const auto link = byId.find(name);
        port.info.path = link != byId.end() ? link->second : roots.dev + "/" + name;
        port.info.console = consoles.count(name) != 0;
        found.push_back(std::move(port));
    }
    std::sort(found.begin(), found.end(), [](const TFound& a, const TFound& b) {
        if (a.usb != b.usb) {
            return a.usb;
        }
        return NaturalKey(a.info.device) < NaturalKey(b.info.device);
    });
    for (TFound& port : found) {
        listing.ports.push_back(std::move(port.info));
    }
    if (!listing.udev) {
        listing.note = byId.empty() ? "No udev daemon: names from sysfs, no /dev/serial/by-id links"
                                    : "No udev daemon: descriptions from sysfs";
    }
    return listing;
}

TPortListing ListPorts(const TPortRoots& roots) {
    return ListPorts(roots, SystemUdevProperties());
}

std::string PortListText(const TPortListing& listing) {
    size_t width = 0;
    for (const TPortInfo& port : listing.ports) {
        width = std::max(width, port.path.size());
    }
    std::string text;
    for (const TPortInfo& port : listing.ports) {
        text += port.path + std::string(width - port.path.size() + 2, ' ') + port.description;
        if (port.console) {
            text += "  (console)";
        }
        text += '\n';
    }
    if (listing.ports.empty()) {
        text += "No serial ports found\n";
    }
    if (!listing.note.empty()) {
        text += listing.note + '\n';
    }
    return text;
}

}  // namespace zp
