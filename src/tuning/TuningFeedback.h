// What the tuning window adds for the operator around its pages: the chart
// of the selected item's points, the notice when the radio is lost or found
// again, the keyboard (Enter or Space on a tree item or a point button acts
// as the double-click) and a ring around the control that has the keyboard
// focus. It only shows: what the window does about a key or a lost radio is
// the window's own.
#pragma once

#include <QObject>
#include <QString>

#include "data/TunerImage.h"

class QLabel;
class QListWidget;
class QSplitter;
class QTreeWidget;
class QWidget;

namespace varnel::tuning {

class PointChart;
class FocusRing;
class TPointButton;

// The window's widgets the feedback works on.
struct FeedbackWidgets {
    QWidget* window = nullptr;       // the tuning window: the ring lives inside it
    QWidget* rightPane = nullptr;    // caption panel above the pages (vertical layout)
    QSplitter* pagesAndLog = nullptr;
    QListWidget* log = nullptr;
    QTreeWidget* tree = nullptr;
};

class TuningFeedback : public QObject {
    Q_OBJECT
public:
    TuningFeedback(const FeedbackWidgets& widgets, QObject* parent);

    PointChart* chart() const { return chart_; }
    QLabel* notice() const { return notice_; }
    bool radioLost() const { return lost_; }

    // The notice says that the radio is lost; returns its text.
    QString showRadioLost();
    // The notice says that the radio is back after a loss; returns its text.
    // `problem`: why the radio that is seen again cannot be opened, empty
    // when it can.
    QString showRadioFound(const QString& problem = {});
    // The factory copy was read into the image.
    void factoryRead();
    // Texts again after a language switch.
    void retranslate();

signals:
    // Enter or Space on the tree, or on a point button.
    void treeActivated();
    void pointActivated(varnel::tuning::TPointButton* button);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void focusMoved(QWidget* now);

    FeedbackWidgets widgets_;
    PointChart* chart_ = nullptr;
    QLabel* notice_ = nullptr;
    FocusRing* ring_ = nullptr;
    bool lost_ = false;
    bool found_ = false;
    QString foundProblem_;
};

}  // namespace varnel::tuning
