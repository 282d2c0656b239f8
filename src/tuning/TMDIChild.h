// The tuning window: item tree, ten item pages and the communication log.
#pragma once

#include <QWidget>

class QCloseEvent;
class QTimer;
class TuningHost;

class TMDIChild : public QWidget {
    Q_OBJECT
public:
    explicit TMDIChild(TuningHost* host, QWidget* parent = nullptr);
    ~TMDIChild() override;

    // The show routine; the main window runs it again after a language switch.
    void FormShow();

    // Page locks (disable the adjustment controls of a page).
    void lockPowerPage();
    void lockCtcssPage();
    void lockStabilityPage();
    void lockMeasureButtons();
    void lockAdjustControls();

    // Timers the main window stops before leaving tuner mode.
    QTimer* CheckTimer = nullptr;
    QTimer* MandownTimer = nullptr;
    QTimer* ErrorRateTimer = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    TuningHost* host_;
};
