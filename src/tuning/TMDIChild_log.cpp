// The communication log: one hexadecimal line per frame, and the log list's
// clear and save commands.
#include <QDateTime>
#include <QFile>
#include <QListWidget>
#include <QLocale>
#include <QStringEncoder>

#include "app/DialogSeam.h"
#include "lang/Loadlanguage.h"
#include "tuning/TMDIChild.h"

using namespace varnel;

namespace {

constexpr const char* kLogFilter = "TET Files (*.txt)| *.txt";

// Short date and long time of the user's locale, as the platform's default
// date-and-time conversion gives them.
QString LocalDateTime() {
    const QLocale locale = QLocale::system();
    const QDateTime now = QDateTime::currentDateTime();
    return locale.toString(now.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
           locale.toString(now.time(), QLocale::LongFormat);
}

}  // namespace

QString TMDIChild::LogLineBody(const std::uint8_t* bytes, std::uint16_t length, int direction) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    QString line = QStringLiteral("  ");
    line += QString::fromStdString(Text("ChildForm", direction == 0 ? "C0021" : "C0020"));
    line += QStringLiteral(":   ");
    line.reserve(line.size() + 4 * length);
    for (std::uint16_t i = 0; bytes != nullptr && i < length; ++i) {
        line += QLatin1Char(kHex[bytes[i] >> 4]);
        line += QLatin1Char(kHex[bytes[i] & 0x0F]);
        line += QStringLiteral("  ");
    }
    return line;
}

void TMDIChild::LogFrame(const std::uint8_t* bytes, std::uint16_t length, int direction) {
    ListBox1->addItem(LocalDateTime() + LogLineBody(bytes, length, direction));
    // The list follows its newest line.
    ListBox1->setCurrentRow(ListBox1->count() - 1);
    ListBox1->scrollToBottom();
}

void TMDIChild::LogNote(const QString& text) {
    ListBox1->addItem(LocalDateTime() + QStringLiteral("  ") + text);
    ListBox1->setCurrentRow(ListBox1->count() - 1);
    ListBox1->scrollToBottom();
}

void TMDIChild::C1Click() { ListBox1->clear(); }

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
    for (int i = 0; i < ListBox1->count(); ++i) {
        bytes += encoder.encode(ListBox1->item(i)->text());
        bytes += "\r\n";
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
