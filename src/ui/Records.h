// The desktop program's calibration records: opening the configured store at
// start and one call per recorded event from the windows. Each call passes the program's globals to the core
// recorder; a failing store is reported on the status tip and in the records
// view, never by a box in the middle of an alignment.
#pragma once

#include <QString>

class QWidget;
namespace varnel {
class TunerImage;
}

namespace varnel::ui {

// Opens the store that ReadRecordsConfig names (at start-up).
void OpenRecordsStore();
// The last failure of the store, empty when none.
QString LastRecordsError();

// Tuner mode entered (radioInfo and tunerImage just filled). When setting.ini
// has [records] askSerial=yes, asks for the radio's serial number first
// (skippable).
void RecordEntered(QWidget* parent);
// The same with the image the radio sent, recorded as the exchange happens
// (before it is copied into tunerImage).
void RecordEntered(QWidget* parent, const TunerImage& image);
void RecordLeft();
// The radio acknowledged the live-set of the current selection.
void RecordLiveSetAcknowledged();
void RecordSaveAcknowledged(int itemCode);
void RecordWroteAll();
void RecordFactoryRead();
void RecordArchiveSaved(const QString& path);

}  // namespace varnel::ui
