// The Auto Align window's plot of the current point: each reading against
// the value that gave it (a line through the tries, with a marker at each),
// the target as a dashed line across and its tolerance as a light band.
#pragma once

#include "ui/Plot.h"

class AlignPlot : public varnel::ui::Plot {
    Q_OBJECT
public:
    explicit AlignPlot(QWidget* parent = nullptr);

    // Sets the captions from section [Align] of the language file.
    void applyTexts();
    // A new point: no tries yet, the target and its tolerance.
    void startPoint(const QString& title, double target, double tolerance);
    // One try: the value sent and the reading it gave.
    void addTry(int value, double reading);

    int tryCount() const;
    double target() const { return target_; }
    double tolerance() const { return tolerance_; }
    QCPGraph* tries() const { return tries_; }
    QCPGraph* targetLine() const { return targetLine_; }

signals:
    // Emitted after try `index` (from 0) has been added.
    void tryAdded(int index);

private:
    void setRanges();

    QCPGraph* tries_ = nullptr;
    QCPGraph* targetLine_ = nullptr;
    QCPItemRect* band_ = nullptr;
    double target_ = 0;
    double tolerance_ = 0;
    double minY_ = 0, maxY_ = 0;
    int minX_ = 0, maxX_ = 255;
};
