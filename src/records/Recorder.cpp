#include "records/Recorder.h"

#include "data/ItemTable.h"

namespace varnel {

Recorder& CalibrationRecorder() {
    static Recorder recorder;
    return recorder;
}

int Recorder::valueAt(const TunerImage& image, int code, int point) {
    const auto bytes = ItemBytes(code);
    if (!bytes) return -1;
    switch (bytes->layout) {
        case ItemLayout::Single:
            return image[static_cast<std::size_t>(bytes->offset)];
        case ItemLayout::Array:
        case ItemLayout::Shared:
        case ItemLayout::FskBlock:  // column A of the point
            if (point < 1 || point > TunerImage::kPoints) return -1;
            return image[static_cast<std::size_t>(bytes->offset + point - 1)];
        case ItemLayout::DisplayOnly:
            return -1;
    }
    return -1;
}

CalibrationRecord Recorder::base(const char* event, const TunerImage& image) {
    CalibrationRecord r;
    r.uid = NewRecordUid();
    r.session = session_;
    r.recordedAt = UtcTimestampNow();
    r.station = StationName();
    r.operatorName = OperatorName();
    r.modelName = info_.modelName();
    r.firmware = info_.firmwareVersion();
    r.modelCode = info_.modelCode();
    r.modelVariant = info_.modelVariant();
    r.serial = serial_;
    r.event = event;
    if (stationId_.empty()) stationId_ = ConfiguredStationId();
    r.stationId = stationId_;
    r.softwareVersion = SoftwareVersion();
    if (inSession_) r.imageAtEntry.assign(entry_.bytes.begin(), entry_.bytes.end());
    r.imageNow.assign(image.bytes.begin(), image.bytes.end());
    return r;
}

Error Recorder::store(CalibrationRecord record) {
    if (!store_) return {};
    return store_->append(record).wrap("the calibration record was not stored");
}

Error Recorder::lineAlarm(const RadioInfo& info, const std::string& detail) {
    if (!inSession_) info_ = info;
    CalibrationRecord r = base(record_event::kLineAlarm, TunerImage{});
    r.imageNow.clear();
    r.imageAtEntry.clear();
    r.detail = detail;
    r.flags = record_flag::kLineDrift;
    return store(std::move(r));
}

Error Recorder::entered(const RadioInfo& info, const TunerImage& image) {
    info_ = info;
    entry_ = image;
    shadow_ = image;
    session_ = NewRecordUid();
    inSession_ = true;
    return store(base(record_event::kEnter, image));
}

Error Recorder::liveChange(int code, int point, const TunerImage& image) {
    CalibrationRecord r = base(record_event::kLiveChange, image);
    r.item = code;
    r.band = BandOfCode(code);
    r.point = point;
    r.oldValue = valueAt(shadow_, code, point);
    r.newValue = valueAt(image, code, point);
    shadow_ = image;
    return store(std::move(r));
}

bool Recorder::wouldChange(int code, const TunerImage& image) const {
    const auto bytes = ItemBytes(code);
    if (!bytes) return false;
    for (int i = 0; i < bytes->length; ++i) {
        const auto at = static_cast<std::size_t>(bytes->offset + i);
        if (image[at] != shadow_[at]) return true;
    }
    return false;
}

Error Recorder::aligned(int code, int point, int oldValue, int newValue, const std::string& detail,
                        const TunerImage& image) {
    CalibrationRecord r = base(record_event::kAlign, image);
    r.item = code;
    r.band = BandOfCode(code);
    r.point = point;
    r.oldValue = oldValue;
    r.newValue = newValue;
    r.detail = detail;
    shadow_ = image;
    return store(std::move(r));
}

Error Recorder::aligned(const CalibrationRecord& point, const TunerImage& image) {
    CalibrationRecord r = base(record_event::kAlign, image);
    r.item = point.item;
    r.band = BandOfCode(point.item);
    r.point = point.point;
    r.oldValue = point.oldValue;
    r.newValue = point.newValue;
    r.detail = point.detail;
    if (!point.stationId.empty()) r.stationId = point.stationId;
    if (!point.operatorName.empty()) r.operatorName = point.operatorName;
    if (!point.softwareVersion.empty()) r.softwareVersion = point.softwareVersion;
    r.fixtureId = point.fixtureId;
    r.pathLoss = point.pathLoss;
    r.pathLossSha256 = point.pathLossSha256;
    r.instrumentIdn = point.instrumentIdn;
    r.calibrationDue = point.calibrationDue;
    r.procedureName = point.procedureName;
    r.procedureSha256 = point.procedureSha256;
    r.runId = point.runId;
    r.step = point.step;
    r.unit = point.unit;
    r.limitLow = point.limitLow;
    r.limitHigh = point.limitHigh;
    r.reading = point.reading;
    r.tries = point.tries;
    r.verdict = point.verdict;
    r.retestCount = point.retestCount;
    r.flags = point.flags;
    shadow_ = image;
    return store(std::move(r));
}

Error Recorder::saved(int code, const TunerImage& image, const std::string& detail) {
    CalibrationRecord r = base(record_event::kSaveItem, image);
    r.item = code;
    r.band = BandOfCode(code);
    r.detail = detail;
    shadow_ = image;
    return store(std::move(r));
}

Error Recorder::saveNotConfirmed(int code, const TunerImage& image, const std::string& detail) {
    CalibrationRecord r = base(record_event::kSaveItem, image);
    r.item = code;
    r.band = BandOfCode(code);
    r.detail = "not confirmed: " + detail;
    return store(std::move(r));
}

Error Recorder::wroteAll(const RadioInfo& info, const TunerImage& image, const std::string& detail) {
    if (!inSession_) info_ = info;
    CalibrationRecord r = base(record_event::kWriteAll, image);
    r.detail = detail;
    shadow_ = image;
    return store(std::move(r));
}

Error Recorder::writeAllUnconfirmed(const RadioInfo& info, const TunerImage& image, const std::string& detail) {
    if (!inSession_) info_ = info;
    CalibrationRecord r = base(record_event::kWriteAll, image);
    r.detail = detail;
    return store(std::move(r));
}

Error Recorder::factoryRead(const TunerImage& image) {
    shadow_ = image;
    return store(base(record_event::kFactoryRead, image));
}

Error Recorder::backup(const RadioInfo& info, const TunerImage& image, const std::string& file) {
    if (!inSession_) info_ = info;
    CalibrationRecord r = base(record_event::kBackup, image);
    r.detail = file;
    return store(std::move(r));
}

Error Recorder::left(const TunerImage& image) {
    Error e = store(base(record_event::kLeave, image));
    inSession_ = false;
    return e;
}

}  // namespace varnel
