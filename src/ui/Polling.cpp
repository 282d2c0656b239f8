#include "ui/Polling.h"

#include <QTimer>

namespace varnel::ui {

QTimer* NamedTimer(QObject* parent, const char* name, int interval) {
    auto* timer = new QTimer(parent);
    timer->setObjectName(QString::fromLatin1(name));
    timer->setInterval(interval);
    return timer;
}

bool ReplyArrived(QTimer* timer, std::uint16_t expectedCode, PollRule rule,
                  const std::function<void(QTimer*)>& expired) {
    switch (Exchange().tick(expectedCode, rule)) {
        case TickResult::Matched: timer->stop(); return true;
        case TickResult::Expired: expired(timer); return false;
        default: return false;
    }
}

}  // namespace varnel::ui
