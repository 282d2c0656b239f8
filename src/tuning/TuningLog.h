// The communication log of the tuning window: one line per frame sent or
// received (date and time, the bytes in hexadecimal, the decoded words
// beside them), notes, failed transfers, and its menu (clear, save as text
// or as a CSV table).
#pragma once

#include <QDateTime>
#include <QListWidget>
#include <cstdint>

#include "device/Transfer.h"

class QAction;
class QMenu;

namespace varnel::tuning {

class TuningLog : public QListWidget {
    Q_OBJECT
public:
    explicit TuningLog(QWidget* parent = nullptr);

    // Item data of a line: the decoded words beside the bytes (QString) and
    // its columns for a CSV file (QStringList: time, then the decoded fields).
    static constexpr int kDecodedRole = Qt::UserRole + 10;
    static constexpr int kFieldsRole = Qt::UserRole + 11;
    // The widest the decoded column is drawn: a longer text (a failure's
    // reason) is cut in the middle there, so that the bytes stay in view;
    // the line's tooltip has it whole.
    static constexpr int kDecodedColumnMax = 760;

    // Appends the line of a frame (direction 0: sent, else received) and
    // selects it. The line carries `when` (the time of the exchange), or the
    // time of the call when it is not valid.
    void logFrame(const std::uint8_t* bytes, std::uint16_t length, int direction, const QDateTime& when = {});
    // The line logFrame appends, without the leading date and time.
    static QString lineBody(const std::uint8_t* bytes, std::uint16_t length, int direction);
    // One line for a transfer that failed (send or read).
    void logTransferFailure(const TransferOutcome& outcome);
    // A plain line (with date and time: `when`, or now when it is not valid).
    void logNote(const QString& text, const QDateTime& when = {});
    // The menu's commands: clear (asks first when there are lines) and save.
    void clearAsked();
    void saveAsked();
    // The menu's captions in the interface language.
    void retranslate();

    QMenu* menu() const { return menu_; }
    QAction* clearAction() const { return clear_; }
    QAction* separator() const { return separator_; }
    QAction* saveAction() const { return save_; }

signals:
    // A frame line was appended.
    void frameLogged();

protected:
    // A blue frame while the log has the keyboard focus.
    void paintEvent(QPaintEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void appendSelected(QListWidgetItem* line);
    QByteArray csvBytes() const;
    QByteArray textBytes() const;

    QMenu* menu_ = nullptr;
    QAction* clear_ = nullptr;
    QAction* separator_ = nullptr;
    QAction* save_ = nullptr;
};

}  // namespace varnel::tuning
