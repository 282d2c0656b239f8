#include "dialogs/AlignPlot.h"

#include <algorithm>

#include "lang/Loadlanguage.h"

namespace {

QString Tr(const char* key) { return QString::fromStdString(varnel::Text("Align", key)); }

}  // namespace

AlignPlot::AlignPlot(QWidget* parent) : varnel::ui::Plot(parent) {
    // Values sent to the radio are whole numbers; readings are not.
    setWholeTicks(xAxis, false);
    setDecimalTicks(yAxis);

    band_ = new QCPItemRect(this);
    band_->setPen(Qt::NoPen);
    band_->setBrush(QColor(0x2a, 0x9a, 0x2a, 40));
    band_->setClipToAxisRect(true);
    band_->setVisible(false);

    tries_ = addGraph();
    tries_->setPen(seriesPen(0, Qt::SolidLine));
    tries_->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssDisc, 7));
    targetLine_ = addGraph();
    QPen dashed(Qt::darkGreen);
    dashed.setStyle(Qt::DashLine);
    dashed.setWidthF(1.5);
    targetLine_->setPen(dashed);

    setMinimumSize(360, 240);
    xAxis->setRange(0, 255);
    yAxis->setRange(0, 1);
}

void AlignPlot::applyTexts() {
    setTitle(Tr("A0022"));
    tries_->setName(Tr("A0021"));
    targetLine_->setName(Tr("A0013"));
    xAxis->setLabel(Tr("A0020"));
    yAxis->setLabel(Tr("A0021"));
    applyFont();
    replot(rpQueuedReplot);
}

void AlignPlot::startPoint(const QString& title, double target, double tolerance) {
    setTitle(title);
    tries_->data()->clear();
    target_ = target;
    tolerance_ = tolerance;
    targetLine_->setData({0.0, 255.0}, {target, target}, true);
    band_->topLeft->setCoords(0, target + tolerance);
    band_->bottomRight->setCoords(255, target - tolerance);
    band_->setVisible(tolerance > 0);
    minY_ = target - 2 * tolerance;
    maxY_ = target + 2 * tolerance;
    minX_ = 0;
    maxX_ = 255;
    setRanges();
}

void AlignPlot::addTry(int value, double reading) {
    if (tryCount() == 0) {
        // The first reading sets the value range shown.
        minX_ = value - 2;
        maxX_ = value + 2;
    }
    tries_->addData(value, reading);
    minX_ = std::min(minX_, value - 2);
    maxX_ = std::max(maxX_, value + 2);
    minY_ = std::min(minY_, reading);
    maxY_ = std::max(maxY_, reading);
    setRanges();
    emit tryAdded(tryCount() - 1);
}

int AlignPlot::tryCount() const { return tries_->dataCount(); }

void AlignPlot::setRanges() {
    const double pad = std::max((maxY_ - minY_) * 0.08, 1e-3);
    xAxis->setRange(std::max(0, minX_), std::min(255, maxX_));
    yAxis->setRange(minY_ - pad, maxY_ + pad);
    replot(rpQueuedReplot);
}
