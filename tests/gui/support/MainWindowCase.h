// The test object of the main-window tests: a case starts its world with
// start() (a fresh environment with a radio of a preset), may prepare it,
// then opens the main window on it, in tuner mode where it asks. The window
// goes before the environment, after every case.
//
//     start(VirtualPreset::Variant2);
//     QVERIFY(tune(Shown::Active));
//     TMDIChild& w = tuned();
#pragma once

#include <QObject>
#include <QTest>
#include <memory>

#include "app/TMainForm.h"
#include "support/TestEnvironment.h"
#include "tuning/TMDIChild.h"

namespace varnel::test {

class MainWindowCase : public QObject {
    Q_OBJECT

protected:
    enum class Shown { No, Yes, Active };  // Active: shown, and waited for until it is the active window

    // A fresh environment with a radio of `preset` (the case's window before goes first).
    TestEnvironment& start(VirtualPreset preset = VirtualPreset::Variant0) {
        cleanup();
        env_ = std::make_unique<TestEnvironment>(preset);
        return *env_;
    }
    // The main window on the environment, shown as asked; false when it never became active.
    bool open(Shown shown = Shown::No, const app::StartupOptions& options = {}) {
        form_ = std::make_unique<TMainForm>(options);
        if (shown != Shown::No) form_->show();
        return shown != Shown::Active || QTest::qWaitForWindowActive(form_.get());
    }
    // open() unless the window is open, then tuner mode entered; false when either failed.
    bool tune(Shown shown = Shown::No) { return (form_ != nullptr || open(shown)) && EnterTunerMode(*form_); }

    TestEnvironment& env() { return *env_; }
    TMainForm& form() { return *form_; }
    TMDIChild& tuned() { return *form_->tuningWindow; }

    std::unique_ptr<TestEnvironment> env_;
    std::unique_ptr<TMainForm> form_;

protected slots:
    void cleanup() {
        form_.reset();
        env_.reset();
    }
};

}  // namespace varnel::test
