#include "ui/Records.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QStringList>
#include <QVBoxLayout>
#include <QtGlobal>

#include "ui/DialogSeam.h"
#include "data/Global.h"
#include "ui/Selection.h"
#include "lang/Loadlanguage.h"
#include "lang/Profile.h"
#include "line/LineSettings.h"
#include "records/Recorder.h"

namespace varnel::ui {

namespace {

QString lastError;
const RecordStore* reportedStore = nullptr;  // the store whose stalls are counted
std::uint64_t reportedStalls = 0;            // its stall count last reported
int stallReports = 0;

QString RecordsText(const char* key) { return QString::fromStdString(Text("Records", key)); }

void Note(const Error& error) {
    if (error.ok()) return;
    lastError = RecordsText("R0013") + QLatin1Char(' ') + QString::fromStdString(error.text());
    qWarning("varnel-tuner: %s", qPrintable(lastError));
}

// The serial-number prompt: one line edit, Enter or OK takes it, Cancel skips.
QString AskSerial(QWidget* parent, bool* taken) {
    QDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("SerialDialog"));
    dialog.setWindowTitle(RecordsText("R0014"));
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel(RecordsText("R0015"), &dialog));
    auto* edit = new QLineEdit(&dialog);
    edit->setObjectName(QStringLiteral("SerialEdit"));
    edit->setText(QString::fromStdString(CalibrationRecorder().serial()));
    edit->selectAll();
    layout->addWidget(edit);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    *taken = Dialogs().execDialog(&dialog) == QDialog::Accepted;
    if (!*taken) return {};
    return edit->text().trimmed();
}

}  // namespace

std::optional<QString> AskRadioSerial(QWidget* parent) {
    const std::string text = settingsFile.empty() ? std::string() : ReadLineSettings(settingsFile).serialPattern;
    Result<SerialPattern> pattern = SerialPattern::make(text, settingsFile.string() + " [line] serialPattern");
    if (!pattern) {
        Dialogs().message(parent, MessageKind::Error, QStringLiteral("Varnel"), QString::fromStdString(pattern.error().text()),
                          MessageButtons::Ok);
        return std::nullopt;
    }
    for (;;) {
        bool taken = false;
        const QString serial = AskSerial(parent, &taken);
        if (!taken) return std::nullopt;
        // Without a pattern an empty serial skips, as it always has.
        if (pattern->text().empty() || pattern->accepts(serial.toStdString()))
            return QString::fromStdString(SerialPattern::trim(serial.toStdString()));
        Dialogs().message(parent, MessageKind::Error, QStringLiteral("Varnel"),
                          RecordsText("R0018").arg(serial, QString::fromStdString(pattern->text())), MessageButtons::Ok);
    }
}

void OpenRecordsStore() {
    auto store = OpenConfiguredStore(ReadRecordsConfig());
    if (!store) {
        Note(store.error());
        return;
    }
    CalibrationRecorder().setStore(std::shared_ptr<RecordStore>(std::move(*store)));
}

QString LastRecordsError() { return lastError; }

QString RecordsStatusText(bool* warning) {
    if (warning) *warning = false;
    RecordStore* store = CalibrationRecorder().store();
    if (store == nullptr) return {};
    const RecordsQueueState state = store->queueState();
    if (!state.queued) return {};
    if (store != reportedStore) {
        reportedStore = store;
        reportedStalls = 0;
    }
    QStringList parts;
    if (!state.serverAnswering) {
        if (state.stalls != reportedStalls) {
            reportedStalls = state.stalls;
            ++stallReports;
        }
        parts << RecordsText("R0040").arg(state.waiting);
    }
    if (state.setAside > 0) parts << RecordsText("R0041").arg(state.setAside);
    if (parts.isEmpty()) return {};
    if (warning) *warning = true;
    return parts.join(QStringLiteral("; "));
}

int RecordsStallReports() { return stallReports; }

void RecordEntered(QWidget* parent) { RecordEntered(parent, tunerImage); }

void RecordEntered(QWidget* parent, const TunerImage& image) {
    const std::string ask = settingsFile.empty() ? std::string() : ReadProfileString(settingsFile, "records", "askSerial");
    if (ask == "yes" || ask == "1") CalibrationRecorder().setSerial(AskRadioSerial(parent).value_or(QString()).toStdString());
    Note(CalibrationRecorder().entered(radioInfo, image));
}

void RecordLeft() { Note(CalibrationRecorder().left(tunerImage)); }

void RecordLiveSetAcknowledged() {
    // Keying and read-back live-sets change no value; selecting a point
    // sends the value it already has.
    if (actionCode != action::kValueAdjusted && actionCode != action::kItemSelected) return;
    if (!CalibrationRecorder().wouldChange(currentItem, tunerImage)) return;
    Note(CalibrationRecorder().liveChange(currentItem, currentPoint, tunerImage));
}

void RecordSaveAcknowledged(int itemCode) { Note(CalibrationRecorder().saved(itemCode, tunerImage)); }

void RecordWroteAll(const std::string& detail) { Note(CalibrationRecorder().wroteAll(radioInfo, tunerImage, detail)); }

void RecordWriteAllUnconfirmed(const std::string& detail) {
    Note(CalibrationRecorder().writeAllUnconfirmed(radioInfo, tunerImage, detail));
}

void RecordFactoryRead() { Note(CalibrationRecorder().factoryRead(tunerImage)); }

void RecordArchiveSaved(const QString& path) {
    Note(CalibrationRecorder().backup(radioInfo, tunerImage, path.toStdString()));
}

}  // namespace varnel::ui
