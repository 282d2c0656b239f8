// varnel-usb-watch: the desktop program's connection watch without the
// window. It listens where the watch listens (a udev monitor on subsystem
// "usb", device type "usb_device", actions add and remove) and, on each
// event, rescans the removable volumes every 10 ms as the tuning window's
// watch does until the number of radios found changes: that is the moment
// the operator is told. With --unbind / --bind it pulls or plugs the cable
// itself (the gadget's UDC file in configfs) and reports how long each step
// took from that moment.
//
//   varnel-usb-watch --unbind=/sys/kernel/config/usb_gadget/g/UDC
//   varnel-usb-watch --bind=/sys/kernel/config/usb_gadget/g/UDC:dummy_udc.0
#include <fcntl.h>
#include <libudev.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <thread>

#include "device/HostBackend.h"
#include "device/Mass_storage.h"

using namespace varnel;
using Clock = std::chrono::steady_clock;

namespace {

double Ms(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

bool WriteText(const std::string& file, const std::string& text) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const std::string line = text + "\n";
    const bool ok = ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    ::close(fd);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    std::string unbind, bind, controller;
    int timeoutMs = 10000;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--unbind=", 0) == 0) {
            unbind = arg.substr(9);
        } else if (arg.rfind("--bind=", 0) == 0) {
            const std::string v = arg.substr(7);
            const auto colon = v.rfind(':');
            if (colon == std::string::npos) {
                std::fprintf(stderr, "varnel-usb-watch: --bind needs FILE:CONTROLLER\n");
                return 2;
            }
            bind = v.substr(0, colon);
            controller = v.substr(colon + 1);
        } else if (arg.rfind("--timeout=", 0) == 0) {
            timeoutMs = std::atoi(arg.c_str() + 10);
        } else {
            std::fprintf(stderr,
                         "usage: varnel-usb-watch [--unbind=UDC_FILE | --bind=UDC_FILE:CONTROLLER] [--timeout=MS]\n");
            return 2;
        }
    }

    std::unique_ptr<DeviceBackend> backend = CreateHostBackend();
    SetDeviceBackend(backend.get());
    const int before = ScanRadioDrives();

    udev* context = udev_new();
    udev_monitor* monitor = context != nullptr ? udev_monitor_new_from_netlink(context, "udev") : nullptr;
    if (monitor == nullptr || udev_monitor_filter_add_match_subsystem_devtype(monitor, "usb", "usb_device") < 0 ||
        udev_monitor_enable_receiving(monitor) < 0) {
        std::fprintf(stderr, "varnel-usb-watch: the udev monitor could not be opened (is systemd-udevd running?)\n");
        return 1;
    }
    std::printf("watch: listening; %d radio(s) found now\n", before);
    std::fflush(stdout);

    const Clock::time_point start = Clock::now();
    if (!unbind.empty() && !WriteText(unbind, "")) {
        std::fprintf(stderr, "varnel-usb-watch: cannot write %s: %s\n", unbind.c_str(), std::strerror(errno));
        return 1;
    }
    if (!bind.empty() && !WriteText(bind, controller)) {
        std::fprintf(stderr, "varnel-usb-watch: cannot write %s: %s\n", bind.c_str(), std::strerror(errno));
        return 1;
    }

    const int fd = udev_monitor_get_fd(monitor);
    std::optional<Clock::time_point> event;
    int status = 1;
    while (Ms(start, Clock::now()) < timeoutMs) {
        if (!event) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            while (udev_device* device = udev_monitor_receive_device(monitor)) {
                const char* action = udev_device_get_action(device);
                if (action != nullptr && (std::strcmp(action, "add") == 0 || std::strcmp(action, "remove") == 0)) {
                    if (!event) event = Clock::now();
                    std::printf("watch: udev %s %s, %.1f ms after the cable moved\n", action,
                                udev_device_get_devpath(device), Ms(start, *event));
                }
                udev_device_unref(device);
            }
            continue;
        }
        // The tuning window's watch: rescan every 10 ms while the count is unchanged.
        const int now = ScanRadioDrives();
        if (now != before) {
            const Clock::time_point noticed = Clock::now();
            std::printf("watch: notice: %d radio(s) found, %.1f ms after the cable moved (%.1f ms after the event)\n",
                        now, Ms(start, noticed), Ms(*event, noticed));
            status = 0;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (status != 0) std::printf("watch: no change noticed within %d ms\n", timeoutMs);
    udev_monitor_unref(monitor);
    udev_unref(context);
    SetDeviceBackend(nullptr);
    return status;
}
