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
// The store whose stalls are counted; weak, so that a new store made where
// an old one was freed is not taken for it.
std::weak_ptr<RecordStore> reportedStore;
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
        const SerialRefusal refusal = pattern->check(serial.toStdString());
        if (refusal == SerialRefusal::None || (refusal == SerialRefusal::Empty && pattern->text().empty()))
            return QString::fromStdString(SerialPattern::trim(serial.toStdString()));
        // A misscan of many characters is named by its length, not shown;
        // any other refusal is said as a person would: with the line's
        // example serial, else only that it is not the line's format.
        const std::string example =
            settingsFile.empty() ? std::string() : ReadLineSettings(settingsFile).serialExample;
        const QString shown = serial.trimmed();
        const QString why = refusal == SerialRefusal::TooLong
                                ? RecordsText("R0019").arg(static_cast<int>(kSerialLengthLimit))
                            : example.empty() ? RecordsText("R0082").arg(shown)
                                              : RecordsText("R0018").arg(shown, QString::fromStdString(example));
        Dialogs().message(parent, MessageKind::Error, QStringLiteral("Varnel"), why, MessageButtons::Ok);
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
    if (reportedStore.lock().get() != store) {
        reportedStore = CalibrationRecorder().sharedStore();
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

namespace {
QString lineAlarm;
}  // namespace

QString LineAlarmText() { return lineAlarm; }
void SetLineAlarm(const QString& text) { lineAlarm = text; }

void RecordEntered(QWidget* parent) { RecordEntered(parent, tunerImage); }

bool AsksSerial() {
    const std::string ask = settingsFile.empty() ? std::string() : ReadProfileString(settingsFile, "records", "askSerial");
    return ask == "yes" || ask == "1";
}

namespace {
bool serialTaken = false;
}  // namespace

void SerialTakenForNextEntry() { serialTaken = true; }

void AskSerialBeforeEntering(QWidget* parent) {
    const bool taken = serialTaken;
    serialTaken = false;
    if (taken) return;
    if (AsksSerial()) CalibrationRecorder().setSerial(AskRadioSerial(parent).value_or(QString()).toStdString());
}

void RecordEntered(QWidget*, const TunerImage& image) { Note(CalibrationRecorder().entered(radioInfo, image)); }

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
