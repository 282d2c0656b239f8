#include "app/RadioStatusBar.h"

#include <QHBoxLayout>
#include <QLabel>

#include "ui/FeedbackTexts.h"
#include "ui/Records.h"
#include "data/Global.h"
#include "ui/Selection.h"
#include "lang/Loadlanguage.h"
#include "protocol/Sendcmd.h"
#include "records/Recorder.h"

namespace varnel::app {

int StatusPanelWidth(int statusBarWidth) { return statusBarWidth * 94 / 100; }

void RadioStatusBar::followFrame(const DecodedFrame& frame, int point) {
    if (!frame.received) {
        lastRequest_ = frame;
        // A save names the point of the last live-set of its item: the one
        // the radio holds the value of (an alignment run selects its points
        // itself, without the tuning window's selection).
        if (frame.command == cmd::kSetItem && frame.point > 0) {
            lastSetItem_ = frame.item;
            lastSetPoint_ = frame.point;
        }
        return;
    }
    if (lastRequest_.command == cmd::kSaveItem && lastRequest_.item == lastSetItem_ && lastSetPoint_ > 0)
        point = lastSetPoint_;
    if (frame.command != lastRequest_.command || !frame.wellFormed) return;
    if (frame.status > 0 && frame.readings.empty()) {
        // The radio answered, but not with "done".
        failed("S0012", QString::fromStdString(Text("Status", CommandNameKey(lastRequest_.command, lastRequest_.action))) +
                            QStringLiteral(" (") + QString::number(frame.status) + QLatin1Char(')'));
    } else if (!(lastRequest_.command == cmd::kSetItem && lastRequest_.action == 7)) {
        acknowledged(lastRequest_, point);
    }
}


namespace {

QLabel* MakeLabel(QWidget* parent, const char* name) {
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setContentsMargins(6, 0, 6, 0);
    label->setTextFormat(Qt::PlainText);
    return label;
}

const char* kTxStyle = "QLabel { background: #d01818; color: white; font-weight: bold; border-radius: 3px; }";
const char* kRxStyle = "QLabel { background: #1a7f1a; color: white; font-weight: bold; border-radius: 3px; }";
const char* kWarningStyle = "QLabel { background: #ffd24d; color: #5a0000; font-weight: bold; }";
const char* kOkStyle = "QLabel { color: #11581a; }";
const char* kTunerStyle = "QLabel { color: #0b4f9c; font-weight: bold; }";

}  // namespace

RadioStatusBar::RadioStatusBar(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("RadioStatusBar"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    link_label_ = MakeLabel(this, "StatusLink");
    model_label_ = MakeLabel(this, "StatusModel");
    band_label_ = MakeLabel(this, "StatusBand");
    expert_label_ = MakeLabel(this, "StatusExpert");
    keying_label_ = MakeLabel(this, "StatusKeying");
    action_label_ = MakeLabel(this, "StatusLastAction");
    records_label_ = MakeLabel(this, "StatusRecords");
    records_label_->setStyleSheet(QString::fromLatin1(kWarningStyle));
    records_label_->hide();
    serial_label_ = MakeLabel(this, "StatusSerial");
    serial_label_->setStyleSheet(QString::fromLatin1(kTunerStyle));
    serial_label_->hide();
    alarm_label_ = MakeLabel(this, "StatusLineAlarm");
    alarm_label_->setStyleSheet(QString::fromLatin1(kWarningStyle));
    alarm_label_->hide();
    for (QLabel* label : {link_label_, serial_label_, model_label_, band_label_, expert_label_, keying_label_,
                          action_label_, records_label_, alarm_label_}) {
        layout->addWidget(label);
    }
    layout->addSpacing(16);  // clear of the size grip
    render();
}

void RadioStatusBar::refresh(bool radioPresent) {
    LinkState link = LinkState::NoRadio;
    if (inTunerMode) {
        link = LinkState::TunerMode;
    } else if (radioPresent) {
        link = LinkState::RadioFound;
    }
    link_ = link;
    haveInfo_ = !radioInfo.modelName().empty();
    tx_ = inTunerMode && txKeyed;
    rx_ = inTunerMode && rxKeyed;
    // The records' line: shown once when the server stops answering, kept
    // (with the count of records waiting) until it answers again.
    const QString records = ui::RecordsStatusText();
    if (records != recordsShown_) {
        recordsShown_ = records;
        records_label_->setText(records.isEmpty() ? QString() : QStringLiteral("\u26A0 ") + records);
        records_label_->setVisible(!records.isEmpty());
    }
    // The control charts' line alarm, kept until a run without one.
    const QString alarm = ui::LineAlarmText();
    if (alarm != alarmShown_) {
        alarmShown_ = alarm;
        alarm_label_->setText(alarm.isEmpty() ? QString() : QStringLiteral("\u26A0 ") + ui::StatusText("S0026") +
                                                                QLatin1Char(' ') + alarm);
        alarm_label_->setVisible(!alarm.isEmpty());
    }
    // Drawn again only when something shown changed.
    const QString signature = QStringLiteral("%1|%2|%3|%4|%5|%6|%7|%8")
                                  .arg(static_cast<int>(link_))
                                  .arg(QString::fromStdString(radioInfo.modelName() + "/" + radioInfo.firmwareVersion()))
                                  .arg(band)
                                  .arg(expertMode)
                                  .arg(tx_)
                                  .arg(rx_)
                                  .arg(languageIndex)
                                  .arg(QString::fromStdString(CalibrationRecorder().serial()));
    if (signature == signature_) return;
    signature_ = signature;
    render();
}

void RadioStatusBar::acknowledged(const DecodedFrame& request, int point, const QDateTime& when) {
    haveAck_ = true;
    failing_ = false;
    ack_ = request;
    ackPoint_ = point;
    when_ = when;
    render();
}

void RadioStatusBar::failed(const char* key, const QString& detail, const QDateTime& when) {
    failing_ = true;
    failureKey_ = QByteArray(key != nullptr ? key : "");
    failureDetail_ = detail;
    when_ = when;
    render();
}

void RadioStatusBar::retranslate() {
    recordsShown_ = QStringLiteral("\n");  // the records' line is written again at the next refresh
    alarmShown_ = QStringLiteral("\n");
    render();
}

QString RadioStatusBar::linkText() const { return link_label_->text(); }
QString RadioStatusBar::modelText() const { return model_label_->text(); }
QString RadioStatusBar::bandText() const { return band_label_->text(); }
QString RadioStatusBar::expertText() const { return expert_label_->isHidden() ? QString() : expert_label_->text(); }
QString RadioStatusBar::keyingText() const { return keying_label_->isHidden() ? QString() : keying_label_->text(); }
QString RadioStatusBar::lastActionText() const { return action_label_->text(); }
QString RadioStatusBar::recordsText() const { return records_label_->isHidden() ? QString() : records_label_->text(); }
QString RadioStatusBar::serialText() const { return serial_label_->isHidden() ? QString() : serial_label_->text(); }
QString RadioStatusBar::lineAlarmText() const { return alarm_label_->isHidden() ? QString() : alarm_label_->text(); }

void RadioStatusBar::render() {
    switch (link_) {
        case LinkState::NoRadio: link_label_->setText(ui::StatusText("S0001")); link_label_->setStyleSheet({}); break;
        case LinkState::RadioFound: link_label_->setText(ui::StatusText("S0002")); link_label_->setStyleSheet({}); break;
        case LinkState::TunerMode:
            link_label_->setText(ui::StatusText("S0003"));
            link_label_->setStyleSheet(QString::fromLatin1(kTunerStyle));
            break;
    }

    // The serial the radio was entered with, while it is in tuner mode.
    const QString serial = QString::fromStdString(CalibrationRecorder().serial());
    serial_label_->setText(serial.isEmpty() ? QString() : ui::StatusText("S0025") + QLatin1Char(' ') + serial);
    serial_label_->setVisible(link_ == LinkState::TunerMode && !serial.isEmpty());

    const QString model = QString::fromStdString(radioInfo.modelName()).trimmed();
    const QString firmware = QString::fromStdString(radioInfo.firmwareVersion()).trimmed();
    if (haveInfo_ || !model.isEmpty()) {
        model_label_->setText(model + QStringLiteral(" · ") + ui::StatusText("S0004") + QLatin1Char(' ') + firmware);
        model_label_->show();
    } else {
        model_label_->clear();
        model_label_->hide();
    }

    band_label_->setText(ui::StatusText("S0016") + QLatin1Char(' ') +
                         (band == 1 ? QStringLiteral("136-174 MHz") : QStringLiteral("400-470 MHz")));

    expert_label_->setText(ui::StatusText("S0005"));
    expert_label_->setStyleSheet(QString::fromLatin1(kTunerStyle));
    expert_label_->setVisible(expertMode);

    if (tx_ || rx_) {
        keying_label_->setText(tx_ ? ui::StatusText("S0006") : ui::StatusText("S0007"));
        keying_label_->setStyleSheet(QString::fromLatin1(tx_ ? kTxStyle : kRxStyle));
        keying_label_->show();
    } else {
        keying_label_->clear();
        keying_label_->hide();
    }

    if (failing_) {
        QString text = ui::StatusText(failureKey_.isEmpty() ? "S0011" : failureKey_.constData());
        if (!failureDetail_.isEmpty()) text += QStringLiteral(": ") + failureDetail_;
        action_label_->setText(QStringLiteral("\u26A0 ") + text + QLatin1Char(' ') + ui::InterfaceTime(when_));
        action_label_->setStyleSheet(QString::fromLatin1(kWarningStyle));
    } else if (haveAck_) {
        action_label_->setText(QString::fromStdString(DescribeAcknowledged(ack_, ackPoint_, ui::LanguageLookup())) +
                               QStringLiteral(" \u2713 ") + ui::InterfaceTime(when_));
        action_label_->setStyleSheet(QString::fromLatin1(kOkStyle));
    } else {
        action_label_->clear();
        action_label_->setStyleSheet({});
    }
}

}  // namespace varnel::app
