// One tick of a poll that ends with its reply, as the main window's and the
// dialogs' exchanges poll (the tuning window's pollers are in
// tuning/ReplyPollers.h).
#pragma once

#include <QTimer>
#include <cstdint>
#include <functional>

#include "protocol/Exchange.h"

namespace varnel::ui {

// A timer named `name` (tests find it by that name) that ticks every
// `interval` ms once started.
QTimer* NamedTimer(QObject* parent, const char* name, int interval);
// The same, each tick running `handler` of `owner` (which also owns the timer).
template <class Owner>
QTimer* NamedTimer(Owner* owner, const char* name, int interval, void (Owner::*handler)()) {
    QTimer* timer = NamedTimer(owner, name, interval);
    QObject::connect(timer, &QTimer::timeout, owner, handler);
    return timer;
}

// True when the reply matched: `timer` is stopped and the reply lies in
// replyBuffer. When the poll expired, `expired` runs with the timer.
bool ReplyArrived(QTimer* timer, std::uint16_t expectedCode, PollRule rule,
                  const std::function<void(QTimer*)>& expired);

}  // namespace varnel::ui
