// The test object of the main-window tests: a case starts its world with
// start() (a fresh environment with a radio of a preset), may prepare the
// radio and the program directory, then opens the main window on it, in
// tuner mode where it asks. The window goes before the environment, after
// every case.
//
//     start(VirtualPreset::Variant2);
//     QVERIFY(tune(Shown::Active));
//     TMDIChild& w = tuned();
#pragma once

#include <QObject>
#include <memory>

#include "app/StartupOptions.h"
#include "sim/VirtualBackend.h"
#include "support/TestEnvironment.h"

class TMainForm;
class TMDIChild;

namespace varnel::test {

class MainWindowCase : public QObject {
    Q_OBJECT

public:
    MainWindowCase();
    ~MainWindowCase() override;

protected:
    enum class Shown { No, Yes, Active };  // Active: shown, and waited for until it is the active window

    // A fresh environment with a radio of `preset` (the window of a case before goes first).
    TestEnvironment& start(VirtualPreset preset = VirtualPreset::Variant0);
    // The main window on the environment, shown as asked; false when it never became active.
    bool open(Shown shown = Shown::No, const app::StartupOptions& options = {});
    // open() unless the window is open, then tuner mode entered; false when either failed.
    bool tune(Shown shown = Shown::No);

    TestEnvironment& env() { return *env_; }
    TMainForm& form() { return *form_; }
    TMDIChild& tuned();

    std::unique_ptr<TestEnvironment> env_;
    std::unique_ptr<TMainForm> form_;

protected slots:
    void cleanup();
};

}  // namespace varnel::test
