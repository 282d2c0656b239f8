#include "support/MainWindowCase.h"

#include <QTest>

#include "app/TMainForm.h"
#include "tuning/TMDIChild.h"

namespace varnel::test {

MainWindowCase::MainWindowCase() = default;
MainWindowCase::~MainWindowCase() = default;

TestEnvironment& MainWindowCase::start(VirtualPreset preset) {
    cleanup();
    env_ = std::make_unique<TestEnvironment>(preset);
    return *env_;
}

bool MainWindowCase::open(Shown shown, const app::StartupOptions& options) {
    form_ = std::make_unique<TMainForm>(options);
    if (shown != Shown::No) form_->show();
    return shown != Shown::Active || QTest::qWaitForWindowActive(form_.get());
}

bool MainWindowCase::tune(Shown shown) {
    return (form_ != nullptr || open(shown)) && EnterTunerMode(*form_);
}

TMDIChild& MainWindowCase::tuned() { return *form_->tuningWindow; }

void MainWindowCase::cleanup() {
    form_.reset();
    env_.reset();
}

}  // namespace varnel::test
