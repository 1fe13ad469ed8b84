// The tty events of udev's monitor, read through libudev. Events of the "udev" source come only
// from a running udev daemon, after its rules have run; a container or a minimal system often
// has none, and its monitor would open and stay silent for ever. So the monitor is offered only
// while udev runs, and otherwise the caller keeps looking for cables on a timer.

#include <libudev.h>

#include <memory>

#include "serial/TtyEventMonitor.h"

namespace kestro {
namespace {

struct UdevUnref {
    void operator()(udev* u) const { udev_unref(u); }
    void operator()(udev_monitor* m) const { udev_monitor_unref(m); }
    void operator()(udev_queue* q) const { udev_queue_unref(q); }
    void operator()(udev_device* d) const { udev_device_unref(d); }
};
template <typename T>
using UdevPtr = std::unique_ptr<T, UdevUnref>;

class UdevTtyMonitor final : public TtyEventMonitor {
  public:
    UdevTtyMonitor(UdevPtr<udev> context, UdevPtr<udev_monitor> monitor)
        : m_udev(std::move(context)), m_monitor(std::move(monitor)) {}

    int Descriptor() const override { return udev_monitor_get_fd(m_monitor.get()); }

    // Any event of a tty is reason enough to look at the cables again: that costs little.
    bool TakeEvents() override {
        bool any = false;
        // The monitor's socket does not block: each call takes one event, null once none waits.
        while (const UdevPtr<udev_device> device{udev_monitor_receive_device(m_monitor.get())})
            any = true;
        return any;
    }

  private:
    UdevPtr<udev> m_udev;
    UdevPtr<udev_monitor> m_monitor;
};

}  // namespace

std::unique_ptr<TtyEventMonitor> TtyEventMonitor::Open(std::string& reason) {
    UdevPtr<udev> context{udev_new()};
    if (!context) {
        reason = "libudev could not be set up";
        return nullptr;
    }
    const UdevPtr<udev_queue> queue{udev_queue_new(context.get())};
    if (!queue || udev_queue_get_udev_is_active(queue.get()) == 0) {
        reason = "udev is not running";
        return nullptr;
    }
    UdevPtr<udev_monitor> monitor{udev_monitor_new_from_netlink(context.get(), "udev")};
    if (!monitor ||
        udev_monitor_filter_add_match_subsystem_devtype(monitor.get(), "tty", nullptr) < 0 ||
        udev_monitor_enable_receiving(monitor.get()) < 0) {
        reason = "udev's monitor could not be opened";
        return nullptr;
    }
    return std::make_unique<UdevTtyMonitor>(std::move(context), std::move(monitor));
}

}  // namespace kestro
