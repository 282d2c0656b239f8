// The one plot every chart of the program draws on (QCustomPlot, the same
// code on Linux and Windows): a title row above the axes and the legend in a
// row of its own below them, so that the legend takes the height its entries
// need and is never cut, whatever the plot's width or the number of entries.
#pragma once

#include <QString>

#include <qcustomplot.h>

namespace varnel::ui {

class Plot : public QCustomPlot {
    Q_OBJECT
public:
    explicit Plot(QWidget* parent = nullptr);

    void setTitle(const QString& title);
    QString title() const;
    QCPTextElement* titleElement() const { return title_; }

    // Ticks only at whole numbers on `axis`, labelled without decimals: every
    // whole number when `everyOne` (points 1, 2, 3...), else whole multiples
    // chosen for about five ticks (0, 50, 100...). A tick never falls between
    // two whole numbers, so no label can stand for a value it is not at.
    static void setWholeTicks(QCPAxis* axis, bool everyOne);
    // Ticks as the axis' range suggests, labelled with as many decimals as
    // the tick step needs.
    static void setDecimalTicks(QCPAxis* axis);

    // Takes the fonts again from the widget (after a change of language).
    void applyFont();

    // The pen of line `index` of a kind of series; `light` for a broad band
    // drawn under the others.
    static QPen seriesPen(int index, Qt::PenStyle style, bool light = false);

private:
    QCPTextElement* title_ = nullptr;
};

}  // namespace varnel::ui
