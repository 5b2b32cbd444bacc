// What libudev adds to the port list: device properties and the hot-plug
// monitor. Both exist only where a udev daemon runs.
#include <libudev.h>
#include <unistd.h>

#include <cstring>

#include "serial/platform/port_list.h"

namespace zp {

namespace {

// libudev itself works without the daemon, but then its database is empty
// and no event ever arrives; the daemon's control socket says it runs.
bool UdevRunning() {
    return access("/run/udev/control", F_OK) == 0;
}

std::map<std::string, std::string> LibudevProperties(const std::string& device) {
    std::map<std::string, std::string> props;
    udev* context = udev_new();
    if (context == nullptr) {
        return props;
    }
    udev_device* dev = udev_device_new_from_subsystem_sysname(context, "tty", device.c_str());
    if (dev != nullptr) {
        for (udev_list_entry* e = udev_device_get_properties_list_entry(dev); e != nullptr;
             e = udev_list_entry_get_next(e)) {
            const char* value = udev_list_entry_get_value(e);
            props[udev_list_entry_get_name(e)] = value != nullptr ? value : "";
        }
        udev_device_unref(dev);
    }
    udev_unref(context);
    return props;
}

class TUdevMonitor : public IPortMonitor {
  public:
    TUdevMonitor(udev* context, udev_monitor* monitor) : udev_(context), monitor_(monitor) {}
    ~TUdevMonitor() override {
        udev_monitor_unref(monitor_);
        udev_unref(udev_);
    }
    TUdevMonitor(const TUdevMonitor&) = delete;
    TUdevMonitor& operator=(const TUdevMonitor&) = delete;

    int Fd() const override { return udev_monitor_get_fd(monitor_); }

    // receive_device does not block; it returns null once the socket is empty.
    bool Read(TPortChange& change) override {
        while (udev_device* dev = udev_monitor_receive_device(monitor_)) {
            const char* action = udev_device_get_action(dev);
            const char* name = udev_device_get_sysname(dev);
            const bool added = action != nullptr && std::strcmp(action, "add") == 0;
            const bool removed = action != nullptr && std::strcmp(action, "remove") == 0;
            if ((added || removed) && name != nullptr) {
                change.added = added;
                change.device = name;
                udev_device_unref(dev);
                return true;
            }
            udev_device_unref(dev);  // change, bind and the like: the port stays what it was
        }
        return false;
    }

  private:
    udev* udev_;
    udev_monitor* monitor_;
};

}  // namespace

TUdevProperties SystemUdevProperties() {
    if (!UdevRunning()) {
        return {};
    }
    return LibudevProperties;
}

std::unique_ptr<IPortMonitor> OpenPortMonitor() {
    if (!UdevRunning()) {
        return nullptr;
    }
    udev* context = udev_new();
    if (context == nullptr) {
        return nullptr;
    }
    udev_monitor* monitor = udev_monitor_new_from_netlink(context, "udev");
    if (monitor == nullptr ||
        udev_monitor_filter_add_match_subsystem_devtype(monitor, "tty", nullptr) < 0 ||
        udev_monitor_enable_receiving(monitor) < 0) {
        if (monitor != nullptr) {
            udev_monitor_unref(monitor);
        }
        udev_unref(context);
        return nullptr;
    }
    return std::make_unique<TUdevMonitor>(context, monitor);
}

}  // namespace zp
