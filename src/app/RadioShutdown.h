// Ending the desktop program from outside: SIGTERM or SIGHUP (a service
// manager, `kill`, a closed terminal) and the end of the desktop session.
// The radio is left as the program's Exit leaves it, without a question that
// nobody is there to answer: a keyed transmitter or receiver is unkeyed and
// tuner mode is left, each exchange with one bounded attempt on the exchange
// engine (a radio that hangs costs one poll budget, see RadioSession).
#pragma once

#include <QObject>

class QSocketNotifier;

namespace varnel::app {

// Unkeys (when keyed) and leaves tuner mode (when on) without asking; the
// keying and tuner-mode flags are cleared. False when the radio did not
// confirm the leave (it may still be in tuner mode).
bool LeaveRadioWithoutQuestions();

// SIGTERM and SIGHUP reach the event loop through a self-pipe and a
// QSocketNotifier; then the radio is left (LeaveRadioWithoutQuestions) and
// the event loop ends with 128 + the signal's number. The desktop
// session's end (commitDataRequest) and the application's quit
// (aboutToQuit) leave the radio the same way. One per program.
class TerminationWatch : public QObject {
    Q_OBJECT

public:
    explicit TerminationWatch(QObject* parent = nullptr);
    ~TerminationWatch() override;
    TerminationWatch(const TerminationWatch&) = delete;
    TerminationWatch& operator=(const TerminationWatch&) = delete;

    // The signal that ended the program, 0 for none.
    int signalReceived() const { return signal_; }

signals:
    // The radio has been left because the program is made to end.
    void radioLeft(bool confirmed);

private:
    void onSignal();
    void leaveRadio();

    QSocketNotifier* notifier_ = nullptr;
    int signal_ = 0;
};

}  // namespace varnel::app
