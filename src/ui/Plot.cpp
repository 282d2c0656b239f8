#include "ui/Plot.h"

#include <QSharedPointer>
#include <cmath>

namespace varnel::ui {

namespace {

// Labels with the decimals the ticks need: none for whole steps.
class DecimalTicker : public QCPAxisTicker {
public:
    QString getTickLabel(double tick, const QLocale& locale, QChar, int) override {
        int decimals = 0;
        for (double step = tickStep_; decimals < 6 && std::fabs(step - std::round(step)) > 1e-9; step *= 10) ++decimals;
        return locale.toString(tick, 'f', decimals);
    }

protected:
    double getTickStep(const QCPRange& range) override {
        tickStep_ = QCPAxisTicker::getTickStep(range);
        return tickStep_;
    }

private:
    double tickStep_ = 1;
};

}  // namespace

Plot::Plot(QWidget* parent) : QCustomPlot(parent) {
    setAntialiasedElements(QCP::aePlottables | QCP::aeItems);
    setNoAntialiasingOnDrag(true);
    plotLayout()->setRowSpacing(2);
    plotLayout()->insertRow(0);
    title_ = new QCPTextElement(this, QString());
    plotLayout()->addElement(0, 0, title_);
    // The legend leaves the axes for a row of its own, as tall as its entries.
    legend->setVisible(true);
    axisRect()->insetLayout()->take(legend);
    plotLayout()->addElement(2, 0, legend);
    plotLayout()->setRowStretchFactor(0, 0.001);
    plotLayout()->setRowStretchFactor(2, 0.001);
    legend->setFillOrder(QCPLayoutGrid::foRowsFirst);
    legend->setBorderPen(Qt::NoPen);
    legend->setMargins(QMargins(4, 0, 4, 2));
    legend->setRowSpacing(0);
    axisRect()->setupFullAxesBox(false);
    xAxis2->setVisible(false);
    yAxis2->setVisible(false);
    applyFont();
}

void Plot::setTitle(const QString& title) { title_->setText(title); }

QString Plot::title() const { return title_->text(); }

void Plot::setWholeTicks(QCPAxis* axis, bool everyOne) {
    QSharedPointer<QCPAxisTickerFixed> ticker(new QCPAxisTickerFixed);
    ticker->setTickStep(1.0);
    ticker->setScaleStrategy(everyOne ? QCPAxisTickerFixed::ssNone : QCPAxisTickerFixed::ssMultiples);
    ticker->setTickCount(5);
    axis->setTicker(ticker);
    axis->setNumberFormat(QStringLiteral("f"));
    axis->setNumberPrecision(0);
}

void Plot::setDecimalTicks(QCPAxis* axis) {
    QSharedPointer<QCPAxisTicker> ticker(new DecimalTicker);
    ticker->setTickCount(5);
    axis->setTicker(ticker);
}

void Plot::applyFont() {
    QFont small = font();
    QFont titleFont = font();
    titleFont.setBold(true);
    title_->setFont(titleFont);
    legend->setFont(small);
    for (QCPAxis* axis : {xAxis, yAxis}) {
        axis->setLabelFont(small);
        axis->setTickLabelFont(small);
    }
}

QPen Plot::seriesPen(int index, Qt::PenStyle style, bool light) {
    const QColor colours[] = {QColor(0x1f, 0x6f, 0xd0), QColor(0xd0, 0x5a, 0x10), QColor(0x2a, 0x9a, 0x2a)};
    QColor colour = colours[index % 3];
    if (light) colour.setAlpha(80);
    QPen pen(colour);
    pen.setWidthF(light ? 6 : 2);
    pen.setStyle(style);
    pen.setCapStyle(Qt::RoundCap);
    return pen;
}

}  // namespace varnel::ui
