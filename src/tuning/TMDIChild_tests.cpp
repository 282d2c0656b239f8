// The bit-error-rate and man-down pages: point selection, receiver buttons,
// their reading pollers and the man-down save.
//
// Both pages measure instead of adjusting: with the receiver on, CheckTimer
// asks the radio every two seconds for its counters (bit-error-rate) or its
// sensor reading (man-down) and starts the matching poller here, which
// shows the answer and stops.
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include "data/Global.h"
#include "ui/Selection.h"
#include "data/ValueRules.h"
#include "protocol/Sendcmd.h"
#include "tuning/TMDIChild.h"
#include "tuning/TuningPages.h"

using namespace varnel;
using namespace varnel::tuning;

// ---- bit-error-rate page --------------------------------------------------------

void TMDIChild::ErrorRatePointSelected(int point) {
    if (!inTunerMode) return;
    pages_->lockMeasureButtons();
    // The counters of another point are not this point's.
    if (selectedPoints_.value(static_cast<int>(Page::ErrorRate), point) != point) ClearErrorRateResults();
    selectedPoints_[static_cast<int>(Page::ErrorRate)] = point;
    currentPoint = point;
    if (auto* button = control<QPushButton>(QStringLiteral("Button13"))) button->setEnabled(true);
    if (const RowSpec* row = FindRow(Page::ErrorRate, point)) {
        if (auto* pointButton = control<TPointButton>(QString::fromLatin1(row->button))) pointButton->forceChecked(true);
    }
    currentValue = 0;
    actionCode = rxKeyed ? action::kReceiveOn : action::kReceiveOff;
    SendSetItem(currentItem, actionCode, point, 0, rxFrequency(point - 1));
}

void TMDIChild::Button13Click() {
    if (!rxKeyed) {
        rxKeyed = true;
        SetKeyingCaption("Button13", "C0015");
        actionCode = action::kReceiveOn;
        SendSetItem(currentItem, actionCode, currentPoint, currentValue, txFrequency(currentPoint - 1));
        checkTimer_->start();
        return;
    }
    rxKeyed = false;
    SetKeyingCaption("Button13", "C0008");
    actionCode = action::kReceiveOff;
    checkTimer_->stop();
    errorRateTimer_->stop();
    SendSetItem(currentItem, actionCode, currentPoint, currentValue, txFrequency(currentPoint - 1));
}

// Like every reading poller it never gives up: after 100 ticks without a
// reply it counts a retry and waits again, rather than stalling for good.
void TMDIChild::ErrorRateTimerTimer() {
    const ReadBackReply* reply = pollers_->readingTick();
    if (reply == nullptr) return;
    // N (frames counted) and E (errors). Both products wrap modulo 2^32, as
    // the radio's own counters do.
    const std::uint32_t frames = reply->counter(0);
    const std::uint32_t errors = reply->counter(1);
    const BitErrorFigures figures = BitErrorRate(frames, errors);
    if (currentPoint >= 1 && currentPoint <= 5) {
        if (const RowSpec* row = FindRow(Page::ErrorRate, currentPoint)) {
            const QString texts[] = {QString::number(figures.bits), QString::number(figures.errors),
                                     QString::fromStdString(figures.rate)};
            for (std::size_t c = 0; c < row->cells.size() && c < 3; ++c) {
                if (auto* label = control<QLabel>(QString::fromLatin1(row->cells[c].name))) label->setText(texts[c]);
            }
        }
    }
    FinishReply(errorRateTimer_);
}

// ---- man-down page ----------------------------------------------------------------

void TMDIChild::Button15Click() {
    if (!InFamily(currentItem, Page::Mandown)) return;
    // The man-down commands always carry point 1; currentPoint stays.
    if (!rxKeyed) {
        rxKeyed = true;
        SetKeyingCaption("Button15", "C0030");
        actionCode = action::kMandownOn;
        SendSetItem(currentItem, actionCode, 1, currentValue, txFrequency(0));
        checkTimer_->start();
        return;
    }
    rxKeyed = false;
    SetKeyingCaption("Button15", "C0029");
    actionCode = action::kMandownOff;
    SendSetItem(currentItem, actionCode, 1, currentValue, txFrequency(0));
    checkTimer_->stop();
    mandownTimer_->stop();
}

void TMDIChild::MandownTimerTimer() {
    const ReadBackReply* reply = pollers_->readingTick();
    if (reply == nullptr) return;
    const int reading = reply->reading(0);
    if (auto* label = control<QLabel>(QStringLiteral("Label113"))) label->setText(QString::number(reading));
    currentValue = reading;
    mandownShown_ = reading;
    FinishReply(mandownTimer_);
}

void TMDIChild::Button16Click() {
    // Only a value on screen is saved, and exactly that value: currentValue
    // may still hold what another page left behind.
    if (mandownShown_ < 0) return;
    mandownTimer_->stop();
    currentValue = mandownShown_;
    // The save of a man-down item carries one byte, the last reading shown.
    // The record has room for the largest save so that an unexpected item
    // code never makes the sender read past it.
    std::array<std::uint8_t, 56> record{};
    record[0] = static_cast<std::uint8_t>(currentValue & 0xFF);
    SendSaveItem(currentItem, record.data());
}
