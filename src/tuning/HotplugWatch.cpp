#include "tuning/HotplugWatch.h"

#include <QList>
#include <cstdio>

#if defined(_WIN32)
#include <QWidget>
#include <windows.h>
#include <dbt.h>
#elif defined(VARNEL_HAVE_UDEV)
#include <QSocketNotifier>
#include <cstring>
#include <libudev.h>
#endif

namespace {
QList<HotplugWatch*>& watches() {
    static QList<HotplugWatch*> list;
    return list;
}
}  // namespace

#if defined(_WIN32)

namespace {
// {A5DCBF10-6530-11D2-901F-00C04FB951ED}: the USB device interface class.
const GUID kUsbDeviceInterface = {0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};

class NotificationWindow : public QWidget {
public:
    explicit NotificationWindow(HotplugWatch* watch) : watch_(watch) {
        setAttribute(Qt::WA_NativeWindow);
        setAttribute(Qt::WA_DontShowOnScreen);
    }

protected:
    bool nativeEvent(const QByteArray& type, void* message, qintptr* result) override {
        Q_UNUSED(type);
        Q_UNUSED(result);
        const MSG* msg = static_cast<const MSG*>(message);
        if (msg->message == WM_DEVICECHANGE &&
            (msg->wParam == DBT_DEVICEARRIVAL || msg->wParam == DBT_DEVICEREMOVECOMPLETE)) {
            const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(msg->lParam);
            if (header != nullptr && header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE) {
                const auto* iface = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(header);
                if (IsEqualGUID(iface->dbcc_classguid, kUsbDeviceInterface)) emit watch_->deviceChanged();
            }
        }
        return false;  // default processing goes on
    }

private:
    HotplugWatch* watch_;
};
}  // namespace

struct HotplugWatch::Platform {
    std::unique_ptr<NotificationWindow> window;
    HDEVNOTIFY notification = nullptr;
    QString failure;
};

HotplugWatch::HotplugWatch(QObject* parent) : QObject(parent), platform_(std::make_unique<Platform>()) {
    watches().append(this);
    platform_->window = std::make_unique<NotificationWindow>(this);
    DEV_BROADCAST_DEVICEINTERFACE_W filter{};
    filter.dbcc_size = 32;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = kUsbDeviceInterface;
    platform_->notification = RegisterDeviceNotificationW(
        reinterpret_cast<HANDLE>(platform_->window->winId()), &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    if (platform_->notification == nullptr) {
        const DWORD code = GetLastError();
        std::printf("Reg Failed %lu\n", static_cast<unsigned long>(code));
        platform_->failure = QStringLiteral("RegisterDeviceNotificationW failed with error %1").arg(code);
    }
}

HotplugWatch::~HotplugWatch() {
    watches().removeAll(this);
    if (platform_->notification != nullptr) UnregisterDeviceNotification(platform_->notification);
}

bool HotplugWatch::platformWatchActive() const { return platform_->notification != nullptr; }

#elif defined(VARNEL_HAVE_UDEV)

struct HotplugWatch::Platform {
    udev* context = nullptr;
    udev_monitor* monitor = nullptr;
    std::unique_ptr<QSocketNotifier> notifier;
    QString failure;

    ~Platform() {
        notifier.reset();
        if (monitor != nullptr) udev_monitor_unref(monitor);
        if (context != nullptr) udev_unref(context);
    }
};

HotplugWatch::HotplugWatch(QObject* parent) : QObject(parent), platform_(std::make_unique<Platform>()) {
    watches().append(this);
    Platform& p = *platform_;
    p.context = udev_new();
    if (p.context != nullptr) p.monitor = udev_monitor_new_from_netlink(p.context, "udev");
    if (p.monitor == nullptr ||
        udev_monitor_filter_add_match_subsystem_devtype(p.monitor, "usb", "usb_device") < 0 ||
        udev_monitor_enable_receiving(p.monitor) < 0) {
        p.failure = QStringLiteral("the udev monitor could not be opened; unplugging the radio "
                                   "will not be noticed");
        if (p.monitor != nullptr) udev_monitor_unref(p.monitor);
        p.monitor = nullptr;
        return;
    }
    const int fd = udev_monitor_get_fd(p.monitor);
    p.notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    connect(p.notifier.get(), &QSocketNotifier::activated, this, [this] {
        // Drain every queued event; any USB device arriving or leaving counts.
        bool changed = false;
        while (udev_device* device = udev_monitor_receive_device(platform_->monitor)) {
            const char* action = udev_device_get_action(device);
            if (action != nullptr && (std::strcmp(action, "add") == 0 || std::strcmp(action, "remove") == 0))
                changed = true;
            udev_device_unref(device);
        }
        if (changed) emit deviceChanged();
    });
}

HotplugWatch::~HotplugWatch() { watches().removeAll(this); }

bool HotplugWatch::platformWatchActive() const { return platform_->monitor != nullptr; }

#else

struct HotplugWatch::Platform {
    QString failure = QStringLiteral("this build has no USB notification source");
};

HotplugWatch::HotplugWatch(QObject* parent) : QObject(parent), platform_(std::make_unique<Platform>()) {
    watches().append(this);
}

HotplugWatch::~HotplugWatch() { watches().removeAll(this); }

bool HotplugWatch::platformWatchActive() const { return false; }

#endif

QString HotplugWatch::platformFailure() const { return platform_->failure; }

void HotplugWatch::notifyAll() {
    // Copy: a receiver may create or destroy watches.
    const QList<HotplugWatch*> current = watches();
    for (HotplugWatch* watch : current) {
        if (watches().contains(watch)) emit watch->deviceChanged();
    }
}
