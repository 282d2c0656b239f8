// The right-hand part of the main window's status bar: what the radio is
// doing, at a glance. Link state (no radio, radio found, in tuner mode),
// model and firmware, band, expert mode, a coloured TX / RX indicator while
// the radio is keyed, and the last acknowledged action with its time.
// Failures (a command given up, the radio lost, a refused command, an open
// that failed) show in a warning colour until the next success.
#pragma once

#include <QByteArray>
#include <QPainter>
#include <QString>
#include <algorithm>
#include <QDateTime>
#include <QWidget>

#include "protocol/FrameDecode.h"

class QLabel;

namespace varnel::app {

enum class LinkState { NoRadio, RadioFound, TunerMode };

class RadioStatusBar : public QWidget {
    Q_OBJECT
public:
    explicit RadioStatusBar(QWidget* parent = nullptr);

    // Reads the program's state (tuner mode, information block, band, expert
    // mode, keying) and shows it; `radioPresent` says whether a radio volume
    // was seen at the last scan.
    void refresh(bool radioPresent);
    // Every frame of the program, decoded: a reply to the last request shows
    // as its acknowledgement (read-backs excepted: every two seconds they
    // would hide what the operator did) or, with a status byte other than
    // "done", as a refusal. `point` names the point of a save.
    void followFrame(const DecodedFrame& frame, int point);
    // A request the radio acknowledged; `point` names the point of a save.
    void acknowledged(const DecodedFrame& request, int point, const QDateTime& when = QDateTime::currentDateTime());
    // A failure, kept in the warning colour until the next acknowledgement.
    // `key` is a key of section "Status"; `detail` is appended.
    void failed(const char* key, const QString& detail = {}, const QDateTime& when = QDateTime::currentDateTime());
    // Shows every text again in the current language.
    void retranslate();

    LinkState linkState() const { return link_; }
    QString linkText() const;
    QString modelText() const;
    QString bandText() const;
    QString expertText() const;
    QString keyingText() const;
    QString lastActionText() const;
    // The calibration records' line (server not answering, records set
    // aside), empty when hidden.
    QString recordsText() const;
    // The radio's serial while it is in tuner mode, empty when hidden.
    QString serialText() const;
    // The line alarm of the control charts, empty when hidden.
    QString lineAlarmText() const;
    bool showsFailure() const { return failing_; }

private:
    void render();

    QLabel* link_label_;
    QLabel* model_label_;
    QLabel* band_label_;
    QLabel* expert_label_;
    QLabel* keying_label_;
    QLabel* action_label_;
    QLabel* records_label_;
    QLabel* serial_label_;
    QLabel* alarm_label_;

    LinkState link_ = LinkState::NoRadio;
    bool haveInfo_ = false;
    bool tx_ = false;
    bool rx_ = false;
    bool failing_ = false;
    bool haveAck_ = false;
    DecodedFrame lastRequest_;
    int lastSetItem_ = -1;   // item and point of the last live-set sent
    int lastSetPoint_ = 0;
    DecodedFrame ack_;
    int ackPoint_ = 0;
    QDateTime when_;
    QByteArray failureKey_;  // a key of section "Status"
    QString failureDetail_;
    QString signature_;
    QString recordsShown_;
    QString alarmShown_;
};


// Panel 0 of the status bar takes 94 % of the bar's width, truncated.
int StatusPanelWidth(int statusBarWidth);

// The two panels left of the radio's state, drawn without bevels: panel 0
// the long part of the current hint, panel 1 notes. Panel 0 has the width
// StatusBar1Resize gives it; panel 1 takes what is left.
class StatusPanels : public QWidget {
public:
    explicit StatusPanels(QWidget* parent) : QWidget(parent) {
        setObjectName(QStringLiteral("StatusPanels"));
        setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    }
    QString text(int panel) const { return texts_[Index(panel)]; }
    void setText(int panel, const QString& text) {
        texts_[Index(panel)] = text;
        update();
    }
    int panelWidth(int panel) const {
        if (Index(panel) == 0) return width0_;
        return std::max(0, width() - width0_);
    }
    void setPanel0Width(int width) {
        width0_ = width;
        update();
    }
    QSize sizeHint() const override { return {200, fontMetrics().height() + 4}; }
    QSize minimumSizeHint() const override { return {0, fontMetrics().height() + 4}; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        const int pad = 3;
        const QRect first(pad, 0, std::max(0, width0_ - 2 * pad), height());
        painter.drawText(first, Qt::AlignVCenter | Qt::AlignLeft,
                         fontMetrics().elidedText(texts_[0], Qt::ElideRight, first.width()));
        const QRect second(width0_ + pad, 0, std::max(0, width() - width0_ - 2 * pad), height());
        painter.drawText(second, Qt::AlignVCenter | Qt::AlignLeft,
                         fontMetrics().elidedText(texts_[1], Qt::ElideRight, second.width()));
    }

private:
    static int Index(int panel) { return panel == 0 ? 0 : 1; }
    QString texts_[2];
    int width0_ = 0;
};

}  // namespace varnel::app
