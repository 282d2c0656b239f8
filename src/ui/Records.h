// The desktop program's calibration records: opening the configured store at
// start and one call per recorded event from the windows. Each call passes the program's globals to the core
// recorder; a failing store is reported on the status tip and in the records
// view, never by a box in the middle of an alignment.
#pragma once

#include <string>

#include <QString>
#include <optional>

class QWidget;
namespace varnel {
class TunerImage;
}

namespace varnel::ui {

// Opens the store that ReadRecordsConfig names (at start-up).
void OpenRecordsStore();
// The last failure of the store, empty when none.
QString LastRecordsError();

// The records' line of the status bar, empty while there is nothing to say:
// the records server not answering (with how many records wait on this
// station), records the server refused and that are kept aside. Never waits
// for the server. `warning` tells whether it is a warning.
QString RecordsStatusText(bool* warning = nullptr);
// The line alarm of the control charts (the last run's model drifts), for
// the status bar; empty when none. Set by the Auto Align window after a run.
QString LineAlarmText();
void SetLineAlarm(const QString& text);

// How many stalls of the records server the status bar has reported: one for
// each time the server stopped answering, however many records then wait.
int RecordsStallReports();

// The serial-number prompt (a barcode scanner types the serial and presses
// Enter). With [line] serialPattern in setting.ini a serial that does not
// match is refused with a message naming the pattern and asked again;
// without one any serial is taken, an empty one too. Nothing when the
// operator cancels (or the pattern is no regular expression, which is said).
std::optional<QString> AskRadioSerial(QWidget* parent);

// Whether setting.ini has [records] askSerial=yes.
bool AsksSerial();
// Before tuner mode is entered (nothing sent to the radio yet): with
// [records] askSerial=yes, asks for the radio's serial number
// (AskRadioSerial; Cancel skips: no serial). The backup of the radio's image
// and every record of the session carry it.
void AskSerialBeforeEntering(QWidget* parent);
// The serial was just asked for the radio about to be entered (the Auto
// Align window asks before it enters): the next entry does not ask again.
void SerialTakenForNextEntry();
// Tuner mode entered (radioInfo and tunerImage just filled).
void RecordEntered(QWidget* parent);
// The same with the image the radio sent, recorded as the exchange happens
// (before it is copied into tunerImage).
void RecordEntered(QWidget* parent, const TunerImage& image);
void RecordLeft();
// The radio acknowledged the live-set of the current selection.
void RecordLiveSetAcknowledged();
void RecordSaveAcknowledged(int itemCode);
void RecordWroteAll(const std::string& detail = {});
// A write-all the radio did not acknowledge, or whose read-back found
// another image: `detail` says what is known.
void RecordWriteAllUnconfirmed(const std::string& detail);
void RecordFactoryRead();
void RecordArchiveSaved(const QString& path);

}  // namespace varnel::ui
