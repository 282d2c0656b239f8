// The communication log: one hexadecimal line per frame, and the log list's
// clear and save commands.
#include <QDateTime>
#include <QFile>
#include <QListWidget>
#include <QLocale>
#include <QStringEncoder>

#include "app/DialogSeam.h"
#include "lang/FrameLogText.h"
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
    return QString::fromStdString(FrameLogText(bytes, length, direction));
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
