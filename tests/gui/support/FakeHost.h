// A stand-in for the main window behind a tuning window: records what the
// window reports, as the main window's handlers would receive it.
#pragma once

#include <QList>
#include <QString>

#include "tuning/TMDIChild.h"

namespace varnel::test {

class FakeHost {
public:
    // Listens to `window` (until the window goes).
    void attach(TMDIChild* window) {
        QObject::connect(window, &TMDIChild::documentShown, window, [this] { documentCommands << true; });
        QObject::connect(window, &TMDIChild::documentClosed, window, [this] { documentCommands << false; });
        QObject::connect(window, &TMDIChild::tunerModeLeft, window, [this] { ++leftCaptions; });
        QObject::connect(window, &TMDIChild::radioLost, window, [this] { ++lostCaptions; });
        QObject::connect(window, &TMDIChild::exchangeFailed, window,
                         [this](const QString& key, const QString&) { failures << key; });
    }

    // true for each show, false for each accepted close.
    QList<bool> documentCommands;
    int leftCaptions = 0;
    int lostCaptions = 0;
    QList<QString> failures;  // status keys
};

}  // namespace varnel::test
