// A stand-in for the main window behind a tuning window: records what the
// window asks of its host.
#pragma once

#include <QList>

#include "app/TuningHost.h"

namespace varnel::test {

class FakeHost : public TuningHost {
public:
    void setDocumentCommandsEnabled(bool enabled) override { documentCommands << enabled; }
    void showTunerModeLeftCaptions() override { ++leftCaptions; }
    void showRadioLostCaptions() override { ++lostCaptions; }
    void tuningWindowDestroyed(TMDIChild*) override { ++destroyed; }

    QList<bool> documentCommands;
    int leftCaptions = 0;
    int lostCaptions = 0;
    int destroyed = 0;
};

}  // namespace varnel::test
