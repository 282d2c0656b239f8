#include "records/RecordColumns.h"

#include <algorithm>

namespace varnel {

namespace {

using R = CalibrationRecord;

RecordColumn Text(const char* name, int since, std::string R::*m) { return {name, ColumnKind::Text, since, m}; }
RecordColumn Int(const char* name, int since, int R::*m) { return {name, ColumnKind::Int, since, nullptr, m}; }
RecordColumn OptInt(const char* name, int since, int R::*m) {
    return {name, ColumnKind::OptionalInt, since, nullptr, m};
}
RecordColumn Real(const char* name, int since, std::optional<double> R::*m) {
    return {name, ColumnKind::OptionalReal, since, nullptr, nullptr, m};
}
RecordColumn Blob(const char* name, int since, std::vector<std::uint8_t> R::*m) {
    return {name, ColumnKind::Blob, since, nullptr, nullptr, nullptr, m};
}

const std::vector<RecordColumn>& Table() {
    static const std::vector<RecordColumn> kColumns = {
        {"id", ColumnKind::Id, 1},
        Text("uid", 1, &R::uid),
        Text("session", 1, &R::session),
        Text("recorded_at", 1, &R::recordedAt),
        Text("station", 1, &R::station),
        Text("operator", 1, &R::operatorName),
        Text("model_name", 1, &R::modelName),
        Text("firmware", 1, &R::firmware),
        Int("model_code", 1, &R::modelCode),
        Int("model_variant", 1, &R::modelVariant),
        Text("serial", 1, &R::serial),
        Text("event", 1, &R::event),
        OptInt("item", 1, &R::item),
        OptInt("band", 1, &R::band),
        OptInt("point", 1, &R::point),
        OptInt("old_value", 1, &R::oldValue),
        OptInt("new_value", 1, &R::newValue),
        Text("detail", 1, &R::detail),
        Blob("image_at_entry", 1, &R::imageAtEntry),
        Blob("image_now", 1, &R::imageNow),
        // 4: traceability
        Text("station_id", 4, &R::stationId),
        Text("fixture_id", 4, &R::fixtureId),
        Text("path_loss", 4, &R::pathLoss),
        Text("instrument_idn", 4, &R::instrumentIdn),
        Text("calibration_due", 4, &R::calibrationDue),
        Text("software_version", 4, &R::softwareVersion),
        Text("procedure_name", 4, &R::procedureName),
        Text("procedure_sha256", 4, &R::procedureSha256),
        Text("run_id", 4, &R::runId),
        Text("step", 4, &R::step),
        Text("unit", 4, &R::unit),
        Real("limit_low", 4, &R::limitLow),
        Real("limit_high", 4, &R::limitHigh),
        Real("reading", 4, &R::reading),
        OptInt("tries", 4, &R::tries),
        Text("verdict", 4, &R::verdict),
        OptInt("retest_count", 4, &R::retestCount),
        // 5: the path-loss table is kept once per run, every record names it by its hash
        Text("path_loss_sha256", 5, &R::pathLossSha256),
        // 6: marks (an overdue instrument, the line's drift alarm)
        Text("flags", 6, &R::flags),
    };
    return kColumns;
}

std::string TypeSql(SqlDialect d, ColumnKind kind, bool added) {
    const bool pg = d == SqlDialect::Postgres;
    switch (kind) {
        case ColumnKind::Id: return pg ? "BIGSERIAL PRIMARY KEY" : "INTEGER PRIMARY KEY AUTOINCREMENT";
        case ColumnKind::Text: return "TEXT NOT NULL DEFAULT ''";
        case ColumnKind::Int: return added ? "INTEGER NOT NULL DEFAULT 0" : "INTEGER NOT NULL";
        case ColumnKind::OptionalInt: return "INTEGER";
        case ColumnKind::OptionalReal: return pg ? "DOUBLE PRECISION" : "REAL";
        case ColumnKind::Blob: return pg ? "BYTEA" : "BLOB";
    }
    return "TEXT";
}

}  // namespace

std::span<const RecordColumn> RecordColumns() { return Table(); }

int NewestColumnVersion() {
    int newest = 1;
    for (const RecordColumn& c : Table()) newest = std::max(newest, c.since);
    return newest;
}

std::string ColumnListSql(int version, bool withId) {
    std::string out;
    for (const RecordColumn& c : Table()) {
        if (c.since > version || (c.kind == ColumnKind::Id && !withId)) continue;
        if (!out.empty()) out += ", ";
        out += c.name;
    }
    return out;
}

std::string CreateRecordTableSql(SqlDialect dialect) {
    std::string out = "CREATE TABLE calibration_record (";
    bool first = true;
    for (const RecordColumn& c : Table()) {
        if (c.since != 1) continue;
        if (!first) out += ", ";
        first = false;
        out += std::string(c.name) + ' ' + TypeSql(dialect, c.kind, false);
        if (std::string(c.name) == "uid") out = out.substr(0, out.size() - std::string(" DEFAULT ''").size()) + " UNIQUE";
    }
    return out + ")";
}

std::string AddedColumnsSql(SqlDialect dialect, int version) {
    std::string out;
    for (const RecordColumn& c : Table()) {
        if (c.since != version) continue;
        if (!out.empty()) out += ";";
        out += std::string("ALTER TABLE calibration_record ADD COLUMN ") + c.name + ' ' + TypeSql(dialect, c.kind, true);
    }
    return out;
}

}  // namespace varnel
