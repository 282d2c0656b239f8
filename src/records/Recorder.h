// The calibration recorder: turns what happens to a radio into records.
//
// One call per event. The recorder keeps the image of the session's entry and
// a shadow of the radio's acknowledged values, so a live change is recorded
// with its old and new value from nothing but the item, the point and the
// image after the change. A recorder without a store records nothing and
// never fails; a store failure is returned so that the caller can show it,
// but the radio operation it describes has happened regardless.
#pragma once

#include <memory>
#include <string>

#include "data/RadioInfo.h"
#include "data/TunerImage.h"
#include "records/RecordStore.h"

namespace varnel {

class Recorder {
public:
    Recorder() = default;
    explicit Recorder(std::shared_ptr<RecordStore> store) : store_(std::move(store)) {}

    void setStore(std::shared_ptr<RecordStore> store) { store_ = std::move(store); }
    RecordStore* store() const { return store_.get(); }
    // The store itself, for work that outlives the call (a search in the background).
    std::shared_ptr<RecordStore> sharedStore() const { return store_; }
    // The serial number typed or scanned at entry; kept until the next entry.
    void setSerial(std::string serial) { serial_ = std::move(serial); }
    const std::string& serial() const { return serial_; }

    // Tuner mode entered: starts a session with this image.
    Error entered(const RadioInfo& info, const TunerImage& image);
    // The radio acknowledged a live change of item `code` at `point`; `image`
    // holds the new value. FSK items record the point's column A value.
    Error liveChange(int code, int point, const TunerImage& image);
    // True when the item's bytes in `image` differ from the last acknowledged ones.
    bool wouldChange(int code, const TunerImage& image) const;
    // The radio acknowledged saving item `code` (`detail`: who saved it).
    Error saved(int code, const TunerImage& image, const std::string& detail = {});
    // A save of item `code` that the radio did not acknowledge: recorded with
    // `detail` saying why; the radio's store is not known to have changed.
    Error saveNotConfirmed(int code, const TunerImage& image, const std::string& detail);
    Error wroteAll(const RadioInfo& info, const TunerImage& image, const std::string& detail = {});
    // A write-all of `image` that the radio did not acknowledge, or whose
    // read-back found another image: `detail` says what is known.
    Error writeAllUnconfirmed(const RadioInfo& info, const TunerImage& image, const std::string& detail);
    Error factoryRead(const TunerImage& image);
    Error backup(const RadioInfo& info, const TunerImage& image, const std::string& file);
    Error left(const TunerImage& image);
    // Automatic alignment finished a point of item `code`: the value before
    // and after, and the outcome in `detail` ("pass: ...", "fail: ...").
    Error aligned(int code, int point, int oldValue, int newValue, const std::string& detail,
                  const TunerImage& image);
    // The same with the point's traceability: item, point, old and new
    // value, detail and the fields of schema 4 come from `point`; station id
    // and operator only when set there.
    Error aligned(const CalibrationRecord& point, const TunerImage& image);
    // The line's control charts signal a drift (event "line-alarm", flagged
    // record_flag::kLineDrift): `detail` says on what, after which radio.
    Error lineAlarm(const RadioInfo& info, const std::string& detail);

    const std::string& session() const { return session_; }

private:
    CalibrationRecord base(const char* event, const TunerImage& image);
    Error store(CalibrationRecord record);
    static int valueAt(const TunerImage& image, int code, int point);

    std::shared_ptr<RecordStore> store_;
    std::string stationId_;  // ConfiguredStationId(), read at the first record
    std::string serial_;
    std::string session_;
    RadioInfo info_;
    TunerImage entry_;
    TunerImage shadow_;
    bool inSession_ = false;
};

// The program's recorder (the GUI and the command-line tool each set its store).
Recorder& CalibrationRecorder();

}  // namespace varnel
