// What the tuning window adds for the operator around its pages: the chart
// of the selected item's points, the notice when the radio is lost, the
// keyboard (Enter or Space on a tree item or a point button acts as the
// double-click) and a ring around the control that has the keyboard focus.
#pragma once

#include <QObject>
#include <QPointer>

#include "data/TunerImage.h"

class QLabel;
class QWidget;
class TMDIChild;

namespace varnel::tuning {

class PointChart;
class FocusRing;

class TuningFeedback : public QObject {
    Q_OBJECT
public:
    explicit TuningFeedback(TMDIChild* window);

    PointChart* chart() const { return chart_; }
    QLabel* notice() const { return notice_; }
    bool radioLost() const { return lost_; }

    // The connection watch found no radio: said once, in the notice, the log
    // and to the host; keying ends, every control that needs the radio is
    // disabled.
    void RadioLost();
    // The connection watch found a radio again after a loss.
    void RadioFound();
    // The factory copy was read into the image.
    void FactoryRead();
    // Texts again after a language switch.
    void Retranslate();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void focusMoved(QWidget* now);

    TMDIChild* window_;
    PointChart* chart_ = nullptr;
    QLabel* notice_ = nullptr;
    FocusRing* ring_ = nullptr;
    bool lost_ = false;
    bool found_ = false;
};

}  // namespace varnel::tuning
