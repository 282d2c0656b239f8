#include "tuning/TuningLog.h"

#include <QAction>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFontMetrics>
#include <QMenu>
#include <QStringEncoder>
#include <QStyledItemDelegate>

#include "data/Global.h"
#include "data/ItemTable.h"
#include "lang/FrameLogText.h"
#include "lang/Loadlanguage.h"
#include "protocol/FrameDecode.h"
#include "protocol/Sendcmd.h"
#include "ui/DialogSeam.h"
#include "ui/FeedbackTexts.h"
#include "tuning/TuningControls.h"
#include "util/Csv.h"

namespace varnel::tuning {

namespace {

constexpr int kLogItemHeight = 18;
constexpr int kLogPoints = 9;

// The text file of the log (the design's filter), and beside it a table of
// the decoded lines (its filter in the interface language).
constexpr const char* kLogFilter = "TET Files (*.txt)| *.txt";

QString LogFilters() {
    QString csv = QString::fromStdString(Text("Files", "CsvFilter"));
    if (csv.isEmpty()) csv = QStringLiteral("CSV (*.csv)|*.csv");
    return QString::fromLatin1(kLogFilter) + QLatin1Char('|') + csv;
}

// Log lines are 18 pixels high.
class LogItemDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.setHeight(kLogItemHeight);
        return size;
    }
};

// Short date and long time of the interface language, of `when` or of now.
QString LocalDateTime(const QDateTime& when = {}) {
    return ui::InterfaceDateTime(when.isValid() ? when : QDateTime::currentDateTime());
}

// One field of the CSV table, by the rule of every CSV file the program writes.
QString CsvField(const QString& text) { return QString::fromStdString(varnel::CsvField(text.toStdString())); }

// The decoded column and the CSV columns of a line; the tooltip shows both
// whole (the list cuts a long decoded text, TuningLog::kDecodedColumnMax).
void Describe(QListWidgetItem* line, const QString& when, const DecodedFrame& decoded, const QFont&) {
    QStringList columns{when};
    for (const std::string& field : DescribeFrameFields(decoded, ui::LanguageLookup())) {
        columns << QString::fromStdString(field);
    }
    const QString words = QString::fromStdString(DescribeFrame(decoded, ui::LanguageLookup()));
    line->setData(TuningLog::kDecodedRole, words);
    line->setData(TuningLog::kFieldsRole, columns);
    line->setToolTip(words + QLatin1Char('\n') + line->text());
}

// A receive item is tuned at the receive frequency of its point: the log
// names that one, whichever frequency field the frame carries.
DecodedFrame WithReceiveFrequency(DecodedFrame decoded) {
    if (decoded.item < 0 || decoded.point < 1 || decoded.point > TunerImage::kPoints || decoded.frequency == 0) {
        return decoded;
    }
    const TuningItem* item = FindItem(decoded.item);
    const int band = BandOfCode(decoded.item);
    if (item == nullptr || item->keying != ItemKeying::Receive || band < 0) return decoded;
    decoded.frequency = tunerImage.rxFrequencyIn(band, decoded.point - 1);
    return decoded;
}

}  // namespace

TuningLog::TuningLog(QWidget* parent) : QListWidget(parent) {
    setObjectName(QStringLiteral("ListBox1"));
    setUniformItemSizes(true);
    setItemDelegate(new LogItemDelegate(this));
    setSelectionMode(QAbstractItemView::SingleSelection);
    setContextMenuPolicy(Qt::CustomContextMenu);
    setMinimumHeight(40);
    // Hex bytes line up in a fixed-pitch face of one size in both
    // languages, set here once: a language switch does not change it.
    QFont mono;
    mono.setFamilies({QStringLiteral("Consolas"), QStringLiteral("DejaVu Sans Mono"),
                      QStringLiteral("Liberation Mono"), QStringLiteral("Courier New")});
    mono.setStyleHint(QFont::Monospace);
    mono.setPointSize(kLogPoints);
    setFont(mono);

    menu_ = new QMenu(this);
    menu_->setObjectName(QStringLiteral("PopupMenu1"));
    clear_ = menu_->addAction(QStringLiteral("清空日志(&C)"));
    clear_->setObjectName(QStringLiteral("C1"));
    separator_ = menu_->addSeparator();
    separator_->setObjectName(QStringLiteral("N1"));
    save_ = menu_->addAction(QStringLiteral("保存日志(&S)"));
    save_->setObjectName(QStringLiteral("S1"));
    connect(clear_, &QAction::triggered, this, &TuningLog::clearAsked);
    connect(save_, &QAction::triggered, this, &TuningLog::saveAsked);
    connect(this, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { menu_->popup(viewport()->mapToGlobal(pos)); });
}

void TuningLog::retranslate() {
    clear_->setText(QString::fromStdString(Text("ChildForm", "C0022")));
    save_->setText(QString::fromStdString(Text("ChildForm", "C0023")));
}

QString TuningLog::lineBody(const std::uint8_t* bytes, std::uint16_t length, int direction) {
    return QString::fromStdString(FrameLogText(bytes, length, direction));
}

void TuningLog::appendSelected(QListWidgetItem* line) {
    addItem(line);
    // The list follows its newest line.
    setCurrentRow(count() - 1);
    scrollToBottom();
}

void TuningLog::logFrame(const std::uint8_t* bytes, std::uint16_t length, int direction, const QDateTime& at) {
    const QString when = LocalDateTime(at);
    auto* line = new QListWidgetItem(when + lineBody(bytes, length, direction));
    // The decoded column beside the bytes; the saved text keeps the line alone.
    Describe(line, when, WithReceiveFrequency(DecodeFrame(bytes, length, direction != 0)), font());
    appendSelected(line);
    emit frameLogged();
}

void TuningLog::logTransferFailure(const TransferOutcome& outcome) {
    QString label = QString::fromStdString(Text("Link", "L021"));
    if (label.isEmpty()) label = QStringLiteral("Transfer failed:");
    const QString when = LocalDateTime();
    auto* line = new QListWidgetItem(when + QStringLiteral("  ") + label + QLatin1Char(' ') +
                                     QString::fromStdString(outcome.describe()));
    // The decoded column names the command that failed (the frame just sent)
    // and the reason.
    const bool received = outcome.direction == TransferDirection::FromRadio;
    DecodedFrame decoded = DecodeFrame(lastSentFrame.data(), sentFrameLength, false);
    if (received) {
        // The reply that could not be read: it answers the frame just sent,
        // so the line names that command, its item and point, but none of the
        // values the frame carried.
        decoded.received = true;
        decoded.action = -1;
        decoded.value = -1;
        decoded.dataBytes = 0;
    }
    decoded.failure = outcome.describe();
    Describe(line, when, decoded, font());
    addItem(line);
    scrollToBottom();
}

void TuningLog::logNote(const QString& text, const QDateTime& when) {
    auto* line = new QListWidgetItem(LocalDateTime(when) + QStringLiteral("  ") + text);
    line->setToolTip(line->text());
    appendSelected(line);
}

void TuningLog::clearAsked() {
    if (count() > 0 &&
        ui::Dialogs().message(this, ui::MessageKind::Question, QStringLiteral("Varnel"), ui::StatusText("S0014"),
                              ui::MessageButtons::OkCancel) != ui::MessageResult::Ok) {
        return;
    }
    clear();
}

// A table: time, the decoded columns, then the line as the log shows it.
// UTF-8 with a byte-order mark, so that spreadsheets read the Chinese texts.
QByteArray TuningLog::csvBytes() const {
    QStringList header;
    for (const char* key :
         {"H0001", "H0002", "H0003", "H0004", "H0005", "H0006", "H0007", "H0008", "H0009", "H0010", "H0011"}) {
        header << CsvField(ui::StatusText(key));
    }
    QByteArray bytes = "\xEF\xBB\xBF" + header.join(QLatin1Char(',')).toUtf8() + "\r\n";
    for (int i = 0; i < count(); ++i) {
        const QListWidgetItem* line = item(i);
        QStringList columns = line->data(kFieldsRole).toStringList();
        while (columns.size() < 10) columns << QString();
        columns << line->text();
        for (QString& column : columns) column = CsvField(column);
        bytes += columns.join(QLatin1Char(',')).toUtf8() + "\r\n";
    }
    return bytes;
}

// Every line ends with CR LF; the text is in the system's code page (the
// active ANSI code page on Windows, the locale's encoding elsewhere), with no
// byte-order mark.
QByteArray TuningLog::textBytes() const {
    QStringEncoder encoder(QStringConverter::System, QStringConverter::Flag::Stateless);
    QByteArray bytes;
    for (int i = 0; i < count(); ++i) {
        bytes += encoder.encode(item(i)->text());
        bytes += "\r\n";
    }
    return bytes;
}

void TuningLog::saveAsked() {
    const QString name = ui::Dialogs().saveFileName(this, QString(), LogFilters(),
                                                     QStringLiteral(".txt"), /*confirmOverwrite=*/false);
    if (name.isEmpty()) return;
    const QByteArray bytes = name.endsWith(QLatin1String(".csv"), Qt::CaseInsensitive) ? csvBytes() : textBytes();
    QFile file(name);
    QString failure;
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        failure = file.errorString();
    } else if (file.write(bytes) != bytes.size() || !file.flush()) {
        failure = file.errorString();
    }
    file.close();
    if (!failure.isEmpty()) {
        ui::Dialogs().message(this, ui::MessageKind::Error, QStringLiteral("Varnel"), failure, ui::MessageButtons::Ok);
        return;
    }
    ui::ShowStatusMessage(this, QString::fromStdString(Text("Files", "SavedLog")).replace(QStringLiteral("%1"), QDir::toNativeSeparators(name)));
}

void TuningLog::paintEvent(QPaintEvent* event) {
    QListWidget::paintEvent(event);
    if (hasFocus()) DrawFocusFrame(viewport());
}

void TuningLog::focusInEvent(QFocusEvent* event) {
    QListWidget::focusInEvent(event);
    viewport()->update();
}

void TuningLog::focusOutEvent(QFocusEvent* event) {
    QListWidget::focusOutEvent(event);
    viewport()->update();
}

}  // namespace varnel::tuning
