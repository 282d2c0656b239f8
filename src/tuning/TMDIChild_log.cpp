// The communication log: one hexadecimal line per frame, and the log list's
// clear and save commands.
#include <QDateTime>
#include <QFile>
#include <QListWidget>
#include <QLocale>
#include <QStringEncoder>

#include "ui/DialogSeam.h"
#include "device/Transfer.h"
#include "lang/FrameLogText.h"
#include "ui/FeedbackTexts.h"
#include "lang/Loadlanguage.h"
#include "protocol/FrameDecode.h"
#include "protocol/Sendcmd.h"
#include "tuning/PointChart.h"
#include "tuning/TuningFeedback.h"
#include "tuning/TMDIChild.h"

using namespace varnel;

namespace {

// The text file of the log, and beside it a table of the decoded lines.
constexpr const char* kLogFilter = "TET Files (*.txt)| *.txt|CSV Files (*.csv)|*.csv";

// Short date and long time of the interface language.
QString LocalDateTime() { return ui::InterfaceDateTime(QDateTime::currentDateTime()); }

QString CsvField(QString text) {
    if (text.contains(QLatin1Char('"')) || text.contains(QLatin1Char(',')) || text.contains(QLatin1Char('\n'))) {
        text.replace(QStringLiteral("\""), QStringLiteral("\"\""));
        return QLatin1Char('"') + text + QLatin1Char('"');
    }
    return text;
}

}  // namespace

QString TMDIChild::LogLineBody(const std::uint8_t* bytes, std::uint16_t length, int direction) {
    return QString::fromStdString(FrameLogText(bytes, length, direction));
}

void TMDIChild::LogFrame(const std::uint8_t* bytes, std::uint16_t length, int direction) {
    const QString when = LocalDateTime();
    auto* line = new QListWidgetItem(when + LogLineBody(bytes, length, direction));
    // The decoded column beside the bytes; the saved text keeps the line alone.
    DecodedFrame decoded = DecodeFrame(bytes, length, direction != 0);
    const std::vector<std::string> fields = DescribeFrameFields(decoded, ui::LanguageLookup());
    QStringList columns{when};
    for (const std::string& field : fields) columns << QString::fromStdString(field);
    line->setData(kDecodedRole, QString::fromStdString(DescribeFrame(decoded, ui::LanguageLookup())));
    line->setData(kFieldsRole, columns);
    ListBox1->addItem(line);
    // Every live change and every selection goes out as a frame: the chart
    // follows at once.
    if (feedback_ != nullptr && feedback_->chart() != nullptr) feedback_->chart()->refresh();
    // The list follows its newest line.
    ListBox1->setCurrentRow(ListBox1->count() - 1);
    ListBox1->scrollToBottom();
}

void TMDIChild::LogTransferFailure(const TransferOutcome& outcome) {
    QString label = QString::fromStdString(Text("Link", "L021"));
    if (label.isEmpty()) label = QStringLiteral("Transfer failed:");
    const QString when = LocalDateTime();
    auto* line = new QListWidgetItem(when + QStringLiteral("  ") + label + QLatin1Char(' ') +
                                     QString::fromStdString(outcome.Describe()));
    // The decoded column names the command that failed (the frame just sent)
    // and the reason.
    const bool received = outcome.direction == TransferDirection::FromRadio;
    DecodedFrame decoded = received ? DecodeFrame(nullptr, 0, true)
                                    : DecodeFrame(lastSentFrame.data(), sentFrameLength, false);
    decoded.failure = outcome.Describe();
    QStringList columns{when};
    for (const std::string& field : DescribeFrameFields(decoded, ui::LanguageLookup()))
        columns << QString::fromStdString(field);
    line->setData(kDecodedRole, QString::fromStdString(DescribeFrame(decoded, ui::LanguageLookup())));
    line->setData(kFieldsRole, columns);
    ListBox1->addItem(line);
    ListBox1->scrollToBottom();
}

void TMDIChild::LogNote(const QString& text) {
    ListBox1->addItem(LocalDateTime() + QStringLiteral("  ") + text);
    ListBox1->setCurrentRow(ListBox1->count() - 1);
    ListBox1->scrollToBottom();
}

void TMDIChild::C1Click() {
    if (ListBox1->count() > 0 &&
        ui::Dialogs().message(this, ui::MessageKind::Question, QStringLiteral("Varnel"), ui::StatusText("S0014"),
                              ui::MessageButtons::OkCancel) != ui::MessageResult::Ok) {
        return;
    }
    ListBox1->clear();
}

void TMDIChild::S1Click() {
    const QString filter = QString::fromLatin1(kLogFilter);
    const QString name = ui::Dialogs().saveFileName(this, QString(), filter, QStringLiteral(".txt"),
                                                     /*confirmOverwrite=*/false);
    if (name.isEmpty()) return;

    // Every line ends with CR LF; the text is in the system's code page
    // (the active ANSI code page on Windows, the locale's encoding elsewhere),
    // with no byte-order mark.
    QStringEncoder encoder(QStringConverter::System, QStringConverter::Flag::Stateless);
    QByteArray bytes;
    if (name.endsWith(QLatin1String(".csv"), Qt::CaseInsensitive)) {
        // A table: time, the decoded columns, then the line as the log shows it.
        // UTF-8 with a byte-order mark, so that spreadsheets read the Chinese texts.
        QStringList header;
        for (const char* key : {"H0001", "H0002", "H0003", "H0004", "H0005", "H0006", "H0007", "H0008", "H0009",
                                "H0010", "H0011"}) {
            header << CsvField(ui::StatusText(key));
        }
        bytes = "\xEF\xBB\xBF" + header.join(QLatin1Char(',')).toUtf8() + "\r\n";
        for (int i = 0; i < ListBox1->count(); ++i) {
            const QListWidgetItem* item = ListBox1->item(i);
            QStringList columns = item->data(kFieldsRole).toStringList();
            while (columns.size() < 10) columns << QString();
            columns << item->text();
            for (QString& column : columns) column = CsvField(column);
            bytes += columns.join(QLatin1Char(',')).toUtf8() + "\r\n";
        }
    } else {
        for (int i = 0; i < ListBox1->count(); ++i) {
            bytes += encoder.encode(ListBox1->item(i)->text());
            bytes += "\r\n";
        }
    }

    QFile file(name);
    QString failure;
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        failure = file.errorString();
    } else if (file.write(bytes) != bytes.size() || !file.flush()) {
        failure = file.errorString();
    }
    file.close();
    if (!failure.isEmpty()) {
        ui::Dialogs().message(this, ui::MessageKind::Error, QStringLiteral("Varnel"), failure,
                              ui::MessageButtons::Ok);
    }
}
