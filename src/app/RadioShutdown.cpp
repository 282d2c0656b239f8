#include "app/RadioShutdown.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QSessionManager>
#include <QSocketNotifier>

#include <chrono>
#include <thread>

#include "data/Global.h"
#include "protocol/Exchange.h"
#include "protocol/Sendcmd.h"
#include "ui/Selection.h"

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace varnel::app {

namespace {

// One attempt of the command just sent: its 100 ticks of 10 ms, no re-send.
// A hung transfer ends it at once (the engine's hang rule).
bool AwaitReply(std::uint16_t command) {
    ExchangeEngine& engine = Exchange();
    const bool before = engine.hangEndsExchange();
    engine.setHangEndsExchange(true);
    TickResult result = TickResult::Waiting;
    do {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        result = engine.tick(cmd::reply(command), PollRule::Reading);
    } while (result == TickResult::Waiting);
    (void)engine.takeEndedByHang();
    engine.setHangEndsExchange(before);
    pollTicks = 0;
    pollRetries = 0;
    return result == TickResult::Matched;
}

}  // namespace

bool LeaveRadioWithoutQuestions() {
    if (!linkHandle) {
        txKeyed = rxKeyed = false;
        inTunerMode = false;
        return true;
    }
    if (inTunerMode && (txKeyed || rxKeyed) && currentPoint >= 1) {
        // The keying the operator left on goes off first, on the point it is on.
        // The window's pollers are left out: this exchange is awaited here,
        // and nothing may re-send the keying afterwards.
        const int off = txKeyed ? action::kTransmitOff : action::kReceiveOff;
        actionCode = off;
        const SenderHooks hooks = CurrentSenderHooks();
        SetSenderHooks({});
        SendSetItem(currentItem, off, currentPoint, currentValue, txFrequency(currentPoint - 1));
        SetSenderHooks(hooks);
        (void)AwaitReply(cmd::kSetItem);
    }
    txKeyed = rxKeyed = false;
    if (!inTunerMode) return true;
    // Leaving tuner mode drops the live values the radio has not stored.
    SendExitTunerMode();
    const bool left = AwaitReply(cmd::kExitTunerMode);
    inTunerMode = false;
    return left;
}

// ---- signals --------------------------------------------------------------------

namespace {

#ifndef _WIN32
int g_pipe[2] = {-1, -1};

extern "C" void OnTerminationSignal(int number) {
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(number);
    if (g_pipe[1] >= 0) (void)!::write(g_pipe[1], &byte, 1);
    errno = saved;
}
#endif

}  // namespace

TerminationWatch::TerminationWatch(QObject* parent) : QObject(parent) {
#ifndef _WIN32
    if (g_pipe[0] < 0) (void)::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_pipe);
    if (g_pipe[0] >= 0) {
        struct sigaction action {};
        action.sa_handler = OnTerminationSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(SIGTERM, &action, nullptr);
        sigaction(SIGHUP, &action, nullptr);
        notifier_ = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
        connect(notifier_, &QSocketNotifier::activated, this, &TerminationWatch::onSignal);
    }
#endif
    if (auto* gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        // The desktop session ends: nobody will answer a question now.
        connect(gui, &QGuiApplication::commitDataRequest, this, [this](QSessionManager&) { leaveRadio(); });
    }
    if (QCoreApplication* app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, &TerminationWatch::leaveRadio);
}

TerminationWatch::~TerminationWatch() {
#ifndef _WIN32
    if (notifier_ != nullptr) {
        struct sigaction action {};
        action.sa_handler = SIG_DFL;
        sigemptyset(&action.sa_mask);
        sigaction(SIGTERM, &action, nullptr);
        sigaction(SIGHUP, &action, nullptr);
    }
#endif
}

void TerminationWatch::onSignal() {
#ifndef _WIN32
    unsigned char byte = 0;
    while (::read(g_pipe[0], &byte, 1) == 1) {
        if (signal_ == 0) signal_ = byte;
    }
#endif
    if (signal_ == 0) return;
    leaveRadio();
    QCoreApplication::exit(128 + signal_);
}

void TerminationWatch::leaveRadio() {
    // A radio left already (Exit, an earlier request) is not touched again.
    if (!linkHandle || (!inTunerMode && !txKeyed && !rxKeyed)) return;
    emit radioLeft(LeaveRadioWithoutQuestions());
}

}  // namespace varnel::app
