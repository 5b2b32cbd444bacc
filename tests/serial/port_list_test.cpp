// The port list from fake sysfs and /dev trees, with and without udev, and
// the udev monitor's start.
#include <poll.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "serial/platform/port_list.h"

namespace zp {
namespace {

namespace fs = std::filesystem;
using TProps = std::map<std::string, std::string>;

// sys/, dev/ and proc/consoles in a temporary folder, laid out like the real
// ones: /sys/class/tty/NAME is a link into /sys/devices, and its `device` a
// link to the parent device.
class TFakeTree {
  public:
    TFakeTree() {
        std::string pattern = (fs::temp_directory_path() / "zp-ports-XXXXXX").string();
        root_ = mkdtemp(pattern.data());
        fs::create_directories(root_ / "sys/class/tty");
        fs::create_directories(root_ / "dev");
        fs::create_directories(root_ / "proc");
    }
    ~TFakeTree() {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    TFakeTree(const TFakeTree&) = delete;
    TFakeTree& operator=(const TFakeTree&) = delete;

    TPortRoots Roots() const {
        return {(root_ / "sys").string(), (root_ / "dev").string(),
                (root_ / "proc/consoles").string()};
    }

    void Write(const fs::path& file, const std::string& text) {
        fs::create_directories((root_ / file).parent_path());
        std::ofstream(root_ / file) << text;
    }

    // A tty under sys/devices/PARENT, with attributes in its class folder.
    void Tty(const std::string& name, const std::string& parent, const TProps& attrs = {}) {
        const fs::path classDir = "devices/" + parent + "/tty/" + name;
        fs::create_directories(root_ / "sys" / classDir);
        fs::create_directory_symlink("../..", root_ / "sys" / classDir / "device");
        Link(name, classDir);
        for (const auto& [key, value] : attrs) {
            Write("sys" / classDir / key, value + "\n");
        }
        Write("dev/" + name, "");
    }
    // A tty with no device behind it: virtual terminals, ptmx, console.
    void Virtual(const std::string& name) {
        const fs::path classDir = "devices/virtual/tty/" + name;
        fs::create_directories(root_ / "sys" / classDir);
        Link(name, classDir);
    }
    // A USB device at sys/devices/USB with its descriptor strings.
    void Usb(const std::string& usb, const TProps& attrs) {
        for (const auto& [key, value] : attrs) {
            Write(fs::path("sys/devices") / usb / key, value + "\n");
        }
    }
    void ById(const std::string& link, const std::string& name) {
        fs::create_directories(root_ / "dev/serial/by-id");
        fs::create_symlink("../../" + name, root_ / "dev/serial/by-id" / link);
    }

  private:
    void Link(const std::string& name, const fs::path& classDir) {
        fs::create_directory_symlink("../.." / classDir, root_ / "sys/class/tty" / name);
    }
    fs::path root_;
};

const char* const kHub = "pci0000:00/0000:00:14.0/usb1";

void RootHub(TFakeTree& t) {
    t.Usb(kHub, {{"idVendor", "1d6b"}, {"idProduct", "0002"}, {"product", "xHCI Host Controller"}});
}

void Ftdi(TFakeTree& t) {
    RootHub(t);
    t.Usb(std::string(kHub) + "/1-1", {{"idVendor", "0403"},
                                       {"idProduct", "6001"},
                                       {"manufacturer", "FTDI"},
                                       {"product", "FT232R USB UART"},
                                       {"serial", "A1B2C3"}});
    t.Tty("ttyUSB0", std::string(kHub) + "/1-1/1-1:1.0/ttyUSB0");
}

void Arduino(TFakeTree& t) {
    RootHub(t);
    t.Usb(std::string(kHub) + "/1-2", {{"idVendor", "2341"},
                                       {"idProduct", "0043"},
                                       {"manufacturer", "Arduino (www.arduino.cc)"},
                                       {"product", "Arduino Uno"}});
    t.Tty("ttyACM0", std::string(kHub) + "/1-2/1-2:1.0");
}

// The 8250 driver's 32 ports: the ones named in `real` have a 16550A.
void Uarts(TFakeTree& t, const std::vector<int>& real) {
    for (int n = 0; n < 32; ++n) {
        const std::string name = "ttyS" + std::to_string(n);
        bool isReal = false;
        for (int r : real) {
            isReal = isReal || r == n;
        }
        if (isReal) {
            t.Tty(name, "pnp0/00:0" + std::to_string(n) + "/00:00:0/00:00:0.0",
                  {{"type", "4"}, {"port", "0x3F8"}, {"io_type", "0"}});
        } else {
            // Placeholders keep a legacy address: only the type gives them away.
            t.Tty(name, "platform/serial8250/serial8250:0/serial8250:0." + std::to_string(n),
                  {{"type", "0"}, {"port", n < 4 ? "0x2F8" : "0x0"}, {"io_type", "0"}});
        }
    }
}

void Terminals(TFakeTree& t) {
    for (const char* name : {"tty", "tty0", "tty1", "tty63", "console", "ptmx", "ttyp0"}) {
        t.Virtual(name);
    }
    t.Write("dev/pts/0", "");
    t.Write("dev/ptmx", "");
}

struct TListRow {
    const char* name;
    std::function<void(TFakeTree&)> build;
    bool udev;
    std::map<std::string, TProps> properties;  // what the fake udev knows, by kernel name
    std::vector<std::string> ports;            // "PATH | DESCRIPTION[ | console]"
    std::string note;
};

const char* const kNoUdev = "No udev daemon: names from sysfs, no /dev/serial/by-id links";

const TListRow kListRows[] = {
    {"usb_from_sysfs",
     [](TFakeTree& t) {
         Ftdi(t);
         Arduino(t);
     },
     false,
     {},
     {"DEV/ttyACM0 | Arduino (www.arduino.cc) Arduino Uno (ttyACM0)",
      "DEV/ttyUSB0 | FTDI FT232R USB UART, serial A1B2C3 (ttyUSB0)"},
     kNoUdev},
    {"usb_from_udev_with_by_id",
     [](TFakeTree& t) {
         Ftdi(t);
         Arduino(t);
         RootHub(t);
         t.Usb(std::string(kHub) + "/1-3", {{"idVendor", "067b"}, {"idProduct", "2303"}});
         t.Tty("ttyUSB1", std::string(kHub) + "/1-3/1-3:1.0/ttyUSB1");
         t.ById("usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0", "ttyUSB0");
         t.ById("usb-Prolific_Technology_Inc._USB-Serial_Controller-if00-port0", "ttyUSB1");
     },
     true,
     {{"ttyUSB0",
       {{"ID_VENDOR", "FTDI"},
        {"ID_VENDOR_FROM_DATABASE", "Future Technology Devices International, Ltd"},
        {"ID_MODEL", "FT232R_USB_UART"},
        {"ID_SERIAL_SHORT", "A1B2C3"}}},
      {"ttyUSB1",
       {{"ID_VENDOR", "Prolific_Technology_Inc."}, {"ID_MODEL", "USB-Serial_Controller"}}}},
     // ttyACM0 is not in udev's database yet: its description comes from sysfs.
     {"DEV/ttyACM0 | Arduino (www.arduino.cc) Arduino Uno (ttyACM0)",
      "DEV/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0 | Future Technology Devices "
      "International, Ltd FT232R USB UART, serial A1B2C3 (ttyUSB0)",
      "DEV/serial/by-id/usb-Prolific_Technology_Inc._USB-Serial_Controller-if00-port0 | Prolific "
      "Technology Inc. USB-Serial Controller (ttyUSB1)"},
     ""},
    {"by_id_without_udev",
     [](TFakeTree& t) {
         Ftdi(t);
         t.ById("usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0", "ttyUSB0");
     },
     false,
     {},
     {"DEV/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0 | FTDI FT232R USB UART, serial "
      "A1B2C3 (ttyUSB0)"},
     "No udev daemon: descriptions from sysfs"},
    {"real_and_phantom_uarts_console_in_proc",
     [](TFakeTree& t) {
         Uarts(t, {0, 2, 10});
         t.Write("proc/consoles",
                 "tty0                 -WU (E  p  )    4:1\n"
                 "ttyS0                -W- (EC p a)    4:64\n");
     },
     false,
     {},
     {"DEV/ttyS0 | On-board serial port (ttyS0) | console",
      "DEV/ttyS2 | On-board serial port (ttyS2)", "DEV/ttyS10 | On-board serial port (ttyS10)"},
     kNoUdev},
    {"terminals_and_pseudo_terminals_left_out", Terminals, false, {}, {}, kNoUdev},
    {"usb_before_uarts_console_in_sysfs",
     [](TFakeTree& t) {
         Terminals(t);
         Uarts(t, {0});
         RootHub(t);
         for (const char* n : {"10", "2"}) {
             const std::string usb = std::string(kHub) + "/1-" + n;
             t.Usb(usb, {{"idVendor", "1a86"}, {"idProduct", "7523"}, {"product", "USB Serial"}});
             t.Tty(std::string("ttyUSB") + n, usb + "/1-" + n + ":1.0/ttyUSB" + n);
         }
         t.Write("sys/class/tty/console/active", "tty0 ttyUSB10\n");
     },
     false,
     {},
     {"DEV/ttyUSB2 | USB Serial (ttyUSB2)", "DEV/ttyUSB10 | USB Serial (ttyUSB10) | console",
      "DEV/ttyS0 | On-board serial port (ttyS0)"},
     kNoUdev},
    {"device_strings_made_printable",
     [](TFakeTree& t) {
         RootHub(t);
         t.Usb(std::string(kHub) + "/1-1", {{"idVendor", "1a86"},
                                            {"idProduct", "7523"},
                                            {"product", "Evil\x1b]0;owned\x07"},
                                            {"serial", "\x1b[2J9"}});
         t.Tty("ttyUSB0", std::string(kHub) + "/1-1/1-1:1.0/ttyUSB0");
         t.Usb(std::string(kHub) + "/1-2", {{"idVendor", "10c4"}, {"idProduct", "ea60"}});
         t.Tty("ttyUSB1", std::string(kHub) + "/1-2/1-2:1.0/ttyUSB1");
     },
     true,
     {{"ttyUSB1", {{"ID_MODEL_FROM_DATABASE", "CP210x\r\nUART Bridge"}}}},
     {"DEV/ttyUSB0 | Evil?]0;owned?, serial ?[2J9 (ttyUSB0)",
      "DEV/ttyUSB1 | CP210x??UART Bridge (ttyUSB1)"},
     ""},
    {"usb_without_strings",
     [](TFakeTree& t) {
         RootHub(t);
         t.Usb(std::string(kHub) + "/1-1", {{"idVendor", "1a86"}, {"idProduct", "7523"}});
         t.Tty("ttyUSB0", std::string(kHub) + "/1-1/1-1:1.0/ttyUSB0");
     },
     false,
     {},
     {"DEV/ttyUSB0 | USB serial adapter 1a86:7523 (ttyUSB0)"},
     kNoUdev},
};

void PrintTo(const TListRow& row, std::ostream* os) {
    *os << row.name;
}

class PortListTest : public ::testing::TestWithParam<TListRow> {};

TEST_P(PortListTest, Lists) {
    const TListRow& row = GetParam();
    TFakeTree tree;
    row.build(tree);
    TUdevProperties udev;
    if (row.udev) {
        udev = [&row](const std::string& device) {
            const auto it = row.properties.find(device);
            return it == row.properties.end() ? TProps{} : it->second;
        };
    }
    const TPortListing listing = ListPorts(tree.Roots(), udev);

    std::vector<std::string> ports;
    for (const TPortInfo& port : listing.ports) {
        std::string line =
            port.path + " | " + port.description + (port.console ? " | console" : "");
        const std::string dev = tree.Roots().dev;
        if (line.compare(0, dev.size(), dev) == 0) {
            line.replace(0, dev.size(), "DEV");
        }
        ports.push_back(line);
        EXPECT_NE(port.description.find("(" + port.device + ")"), std::string::npos) << line;
    }
    EXPECT_EQ(ports, row.ports);
    EXPECT_EQ(listing.udev, row.udev);
    EXPECT_EQ(listing.note, row.note);
}

INSTANTIATE_TEST_SUITE_P(Trees, PortListTest, ::testing::ValuesIn(kListRows),
                         [](const ::testing::TestParamInfo<TListRow>& row) {
                             return std::string(row.param.name);
                         });

TEST(PortListText, OneAlignedLinePerPortThenTheNote) {
    TPortListing listing;
    listing.ports = {{"/dev/serial/by-id/usb-x", "ttyUSB0", "X (ttyUSB0)", false},
                     {"/dev/ttyS0", "ttyS0", "On-board serial port (ttyS0)", true}};
    listing.note = "No udev";
    EXPECT_EQ(PortListText(listing),
              "/dev/serial/by-id/usb-x  X (ttyUSB0)\n"
              "/dev/ttyS0               On-board serial port (ttyS0)  (console)\n"
              "No udev\n");
    listing.ports.clear();
    EXPECT_EQ(PortListText(listing), "No serial ports found\nNo udev\n");
}

// Without a udev daemon there is no monitor; with one, it starts with
// nothing waiting and reading then does not block.
TEST(PortMonitor, OpensOrIsAbsent) {
    const std::unique_ptr<IPortMonitor> monitor = OpenPortMonitor();
    if (!fs::exists("/run/udev/control")) {
        EXPECT_EQ(monitor, nullptr);
        EXPECT_FALSE(SystemUdevProperties());
        return;
    }
    ASSERT_NE(monitor, nullptr);
    ASSERT_GE(monitor->Fd(), 0);
    pollfd p{monitor->Fd(), POLLIN, 0};
    if (poll(&p, 1, 0) == 0) {
        TPortChange change;
        EXPECT_FALSE(monitor->Read(change));
    }
}

}  // namespace
}  // namespace zp
