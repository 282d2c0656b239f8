// Notice of USB devices arriving and leaving, for the tuning window's
// connection watch.
//
// On Linux a udev monitor on the "usb" subsystem (device type usb_device) is
// read through a QSocketNotifier; on Windows a hidden native window is
// registered for device-interface notifications of the USB device class and
// watches WM_DEVICECHANGE. The virtual radio's cable raises the same signal
// through notifyAll(), so the program and its tests see a virtual unplug
// exactly as they see a real one.
#pragma once

#include <QObject>
#include <QString>
#include <memory>

class HotplugWatch : public QObject {
    Q_OBJECT
public:
    explicit HotplugWatch(QObject* parent = nullptr);
    ~HotplugWatch() override;

    // True while the platform's notification source is open.
    bool platformWatchActive() const;
    // Why the platform's source could not be opened, or empty.
    QString platformFailure() const;

    // Raises deviceChanged() on every watch of the program.
    static void notifyAll();

signals:
    // A USB device arrived or was removed.
    void deviceChanged();

private:
    struct Platform;
    std::unique_ptr<Platform> platform_;
};
