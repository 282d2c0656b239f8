// The longest stall of the user-interface thread while the virtual radio
// hangs every transfer for its 2-second time-out: once while the main window
// enters tuner mode, once while the tuning window verifies a live-set (three
// sends, then the give-up message, answered at once). A zero-interval timer
// runs whenever the event loop is idle; the longest gap between two of its
// firings is the longest time the thread was busy elsewhere.
//
//   build/varnel_hung_radio_stall [--inline]
//
// --inline runs the transfers on the user-interface thread as before the
// I/O thread existed (entry only: the send itself stalls for the time-out).
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>

#include "ui/DialogSeam.h"
#include "app/TMainForm.h"
#include "data/Global.h"
#include "ui/Selection.h"
#include "lang/Loadlanguage.h"
#include "protocol/Exchange.h"
#include "protocol/Sendcmd.h"
#include "sim/VirtualBackend.h"
#include "sim/VirtualFaults.h"
#include "tuning/TMDIChild.h"

using namespace varnel;

namespace {

class AnswerAll : public ui::DialogSeam {
public:
    ui::MessageResult message(QWidget*, ui::MessageKind, const QString&, const QString&, ui::MessageButtons) override {
        return ui::MessageResult::Ok;
    }
    QString openFileName(QWidget*, const QString&, const QString&) override { return {}; }
    QString saveFileName(QWidget*, const QString&, const QString&, const QString&, bool) override { return {}; }
    int execDialog(QDialog*) override { return 0; }
    void pause(int) override {}
};

// Runs the event loop, starts `begin` from it, and runs on until `done`;
// returns the longest gap in ms (the start itself included).
qint64 LongestStall(const std::function<void()>& begin, const std::function<bool()>& done) {
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0;
    qint64 longest = 0;
    QTimer idle;
    idle.setInterval(0);
    QObject::connect(&idle, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        longest = std::max(longest, now - last);
        last = now;
        if (done()) QCoreApplication::exit(0);
    });
    idle.start();
    QTimer::singleShot(5, begin);
    QApplication::exec();
    return longest;
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("offscreen"));
    const bool inlineTransfers = argc > 1 && std::strcmp(argv[1], "--inline") == 0;
    QApplication app(argc, argv);
    OpenLanguage(kLanguageEnglish);
    AnswerAll dialogs;
    ui::SetDialogs(&dialogs);
    VirtualBackend backend(VirtualPreset::Variant0);
    SetDeviceBackend(&backend);
    Exchange().setTransport(inlineTransfers ? ExchangeEngine::Transport::Inline
                                            : ExchangeEngine::Transport::IoThread);
    ApplyVirtualFaults(backend.radio(), "hang");

    {
        TMainForm form;
        bool started = false;
        const qint64 stall = LongestStall(
            [&] {
                form.SpeedButton4Click();
                started = true;
            },
            [&] { return started && !form.pollRunning(); });
        std::printf("hung radio: longest UI stall %lld ms (entering tuner mode%s)\n", static_cast<long long>(stall),
                    inlineTransfers ? ", transfers inline" : "");
        std::fflush(stdout);
        form.ReadInfoTimer->stop();
    }
    {
        radioInfo = VirtualPresetInfo(VirtualPreset::Variant0);
        tunerImage = VirtualPresetImage(VirtualPreset::Variant0);
        TMDIChild window;
        window.FormShow();
        Exchange().open();
        inTunerMode = true;
        currentItem = 18;
        currentPoint = 2;
        currentValue = 40;
        bool started = false;
        const qint64 stall = LongestStall(
            [&] {
                SendSetItem(18, 5, 2, 40, txFrequency(1));
                started = true;
            },
            [&] { return started && !window.findChild<QTimer*>(QStringLiteral("TimeOutTimer"))->isActive(); });
        std::printf("hung radio: longest UI stall %lld ms (tuning-window poll%s)\n", static_cast<long long>(stall),
                    inlineTransfers ? ", transfers inline" : "");
        std::fflush(stdout);
    }
    Exchange().close();
    Exchange().waitIdle();
    Exchange().setTransport(ExchangeEngine::Transport::Inline);
    SetDeviceBackend(nullptr);
    ui::SetDialogs(nullptr);
    return 0;
}
