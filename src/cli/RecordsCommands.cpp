// records list | show ID | export [--format csv|ocp] [--output FILE] | stats
// [--by station|day]: the calibration records. Listings, exports and
// statistics read the records one at a time (RecordStore::ForEach), so that
// their memory does not grow with the number of records.
#include <cstdint>
#include <cstdio>
#include <limits>

#include "cli/Cli.h"
#include "records/RecordExport.h"
#include "records/RecordStore.h"
#include "records/Recorder.h"
#include "util/FileAccess.h"

namespace varnel::cli {

namespace {

std::string OrDash(int v) { return v < 0 ? std::string("-") : std::to_string(v); }

// A record's text as the terminal may show it.
std::string T(const std::string& text) { return TerminalText(text); }

// records show ID: every field of one record.
int ShowRecord(const Options& options, RecordStore& records) {
    if (options.args.size() != 2) {
        Fail("records show needs the ID of a record");
        return kUsage;
    }
    constexpr long long kLastId = std::numeric_limits<std::int64_t>::max();
    const std::optional<long long> id = ParseWholeNumber(options.args[1], 1, kLastId);
    if (!id) {
        Fail("\"" + options.args[1] + "\" is not a record ID (a whole number from 1 to " + std::to_string(kLastId) +
             ")");
        return kUsage;
    }
    auto r = records.get(*id);
    if (!r) {
        if (r.error().code() == ErrorCode::NotFound) {
            Fail("no such record: " + options.args[1] + " (records list shows the IDs)");
            return kNoSuchRecord;
        }
        Fail(r.error());
        return kDatabase;
    }
    std::printf("id            : %lld\nuid           : %s\nsession       : %s\nrecorded at   : %s\n"
                "station       : %s\noperator      : %s\nmodel name    : %s\nfirmware      : %s\n"
                "model code    : %d\nmodel variant : %d\nserial        : %s\nevent         : %s\n"
                "item          : %s\nband          : %s\npoint         : %s\nold value     : %s\n"
                "new value     : %s\ndetail        : %s\nimage bytes   : %zu at entry, %zu now\n",
                static_cast<long long>(r->id), T(r->uid).c_str(), T(r->session).c_str(), T(r->recordedAt).c_str(),
                T(r->station).c_str(), T(r->operatorName).c_str(), T(r->modelName).c_str(), T(r->firmware).c_str(),
                r->modelCode, r->modelVariant, T(r->serial).c_str(), T(r->event).c_str(), OrDash(r->item).c_str(),
                OrDash(r->band).c_str(), OrDash(r->point).c_str(), OrDash(r->oldValue).c_str(),
                OrDash(r->newValue).c_str(), T(r->detail).c_str(), r->imageAtEntry.size(), r->imageNow.size());
    const auto real = [](const std::optional<double>& v) {
        if (!v) return std::string("-");
        char text[40];
        std::snprintf(text, sizeof text, "%g", *v);
        return std::string(text);
    };
    std::printf("station id    : %s\nfixture       : %s\npath loss     : %s\ninstrument    : %s\n"
                "cal. due      : %s\nsoftware      : %s\nprocedure     : %s %s\nrun           : %s\n"
                "step          : %s\nlimits        : %s .. %s %s\nreading       : %s %s\ntries         : %s\n"
                "verdict       : %s\nretests       : %s\n",
                T(r->stationId).c_str(), T(r->fixtureId).c_str(), T(r->pathLoss).c_str(), T(r->instrumentIdn).c_str(),
                T(r->calibrationDue).c_str(), T(r->softwareVersion).c_str(), T(r->procedureName).c_str(),
                T(r->procedureSha256).c_str(), T(r->runId).c_str(), T(r->step).c_str(), real(r->limitLow).c_str(),
                real(r->limitHigh).c_str(), T(r->unit).c_str(), real(r->reading).c_str(), T(r->unit).c_str(),
                OrDash(r->tries).c_str(), T(r->verdict).c_str(), OrDash(r->retestCount).c_str());
    std::size_t changed = 0;
    for (std::size_t i = 0; i < r->imageAtEntry.size() && i < r->imageNow.size(); ++i)
        changed += r->imageAtEntry[i] != r->imageNow[i];
    std::printf("changed bytes : %zu since entry\n", changed);
    return kOk;
}

RecordFilter FilterOf(const Options& options) {
    RecordFilter filter;
    filter.serial = options.filterSerial;
    filter.modelName = options.filterModel;
    filter.event = options.filterEvent;
    filter.since = options.since;
    filter.until = options.until;
    filter.limit = options.limit;
    return filter;
}

// What a queued store still holds, as warnings on stderr.
void WarnAboutQueue(RecordStore& records) {
    const RecordsQueueState s = records.queueState();
    if (!s.queued) return;
    if (s.waiting > 0) {
        std::string line = "warning: " + std::to_string(s.waiting) + " calibration record(s) wait in the local queue " +
                           s.queueFile + " for the server";
        if (!s.serverAnswering && !s.problem.empty()) line += " (" + s.problem + ")";
        Fail(line);
    }
    if (s.setAside > 0)
        Fail("warning: " + std::to_string(s.setAside) + " calibration record(s) refused by the server are kept in " +
             s.queueFile + " and no longer sent");
}

// Streams the matching records as CSV or OCP output into `write`.
Error ExportInto(const Options& options, RecordStore& records, const PieceWriter& write, std::size_t& count) {
    Error failed;
    const auto put = [&](const std::string& text) {
        if (failed.ok()) failed = write(text);
        return failed.ok();
    };
    if (options.format == "ocp") {
        OcpExporter ocp([&](const std::string& line) { put(line + "\n"); });
        Error e = records.forEach(FilterOf(options), [&](const CalibrationRecord& r) {
            ocp.add(r);
            return failed.ok();
        });
        ocp.finish();
        count = static_cast<std::size_t>(ocp.runs());
        return e.ok() ? failed : e;
    }
    if (!put(RecordsCsvHeader())) return failed;
    Error e = records.forEach(FilterOf(options), [&](const CalibrationRecord& r) {
        ++count;
        return put(RecordCsvLine(r));
    });
    return e.ok() ? failed : e;
}

// records export: the records as CSV (or OCP output) on standard output or in --output.
int ExportRecords(const Options& options, RecordStore& records) {
    std::size_t count = 0;
    if (options.output.empty()) {
        Error e = ExportInto(options, records, [](std::string_view piece) -> Error {
            if (std::fwrite(piece.data(), 1, piece.size(), stdout) != piece.size())
                return Error::make(ErrorCode::FileError, "cannot write to standard output");
            return {};
        }, count);
        std::fflush(stdout);
        if (!e.ok()) {
            Fail(e.wrap("the records were not exported"));
            return e.code() == ErrorCode::Database ? kDatabase : kFileError;
        }
        return kOk;
    }
    Error database;
    Error e = WriteFileStreamed(options.output, [&](const PieceWriter& write) -> Error {
        Error x = ExportInto(options, records, write, count);
        if (x.code() == ErrorCode::Database) database = x;
        return x;
    });
    if (!e.ok()) {
        Fail(e.wrap("the records were not exported"));
        return !database.ok() ? kDatabase : FileExitCode(e);
    }
    Progress(options, std::to_string(count) + (options.format == "ocp" ? " alignment run(s)" : " record(s)") +
                          " written to " + options.output);
    return kOk;
}

// records stats: radios per hour, first-pass yield and tries per point, for
// the whole line, per station or per day.
int ShowStats(const Options& options, RecordStore& records) {
    const LineStats::By by = options.by == "station" ? LineStats::By::Station
                             : options.by == "day"   ? LineStats::By::Day
                                                     : LineStats::By::All;
    LineStats stats(by);
    RecordFilter filter = FilterOf(options);
    Error e = records.forEach(filter, [&](const CalibrationRecord& r) {
        stats.add(r);
        return true;
    });
    if (!e.ok()) {
        Fail(e);
        return kDatabase;
    }
    Progress(options, records.describe());
    std::printf("%-24s %6s %9s %8s %15s %7s %11s %7s %8s %6s %7s %11s\n",
                options.by == "day" ? "DAY" : options.by == "station" ? "STATION" : "LINE", "RADIOS", "RADIOS/H",
                "HOURS", "FIRST PASS", "FPY", "TRIES/POINT", "PASSED", "MARGINAL", "FAILED", "STOPPED", "NOT REACHED");
    for (const LineStatsRow& row : stats.finish()) {
        char fpy[16] = "-", perHour[16] = "-";
        if (row.firstRuns > 0) std::snprintf(fpy, sizeof fpy, "%.1f%%", 100.0 * row.firstPassYield());
        if (row.hours > 0) std::snprintf(perHour, sizeof perHour, "%.1f", row.radiosPerHour());
        const std::string first = std::to_string(row.firstPassed) + "/" + std::to_string(row.firstRuns);
        std::printf("%-24s %6d %9s %8.2f %15s %7s %11.2f %7ld %8ld %6ld %7ld %11ld\n", T(row.group).c_str(), row.runs,
                    perHour, row.hours, first.c_str(), fpy, row.triesPerPoint(), row.passedPoints, row.marginalPoints,
                    row.failedPoints, row.stoppedPoints, row.notReachedPoints);
    }
    WarnAboutQueue(records);
    return kOk;
}

// records list: one line a record, as they come.
int ListRecords(const Options& options, RecordStore& records) {
    Progress(options, records.describe());
    std::printf("%-6s %-24s %-12s %-10s %-14s %-10s %-12s %5s %4s %5s %9s\n", "ID", "WHEN (UTC)", "STATION",
                "OPERATOR", "MODEL", "SERIAL", "EVENT", "ITEM", "BAND", "POINT", "OLD->NEW");
    Error e = records.forEach(FilterOf(options), [](const CalibrationRecord& r) {
        const std::string change = r.oldValue < 0 && r.newValue < 0 ? std::string("-")
                                                                    : OrDash(r.oldValue) + "->" + OrDash(r.newValue);
        std::printf("%-6lld %-24s %-12s %-10s %-14s %-10s %-12s %5s %4s %5s %9s\n", static_cast<long long>(r.id),
                    T(r.recordedAt).c_str(), T(r.station).c_str(), T(r.operatorName).c_str(), T(r.modelName).c_str(),
                    r.serial.empty() ? "-" : T(r.serial).c_str(), T(r.event).c_str(), OrDash(r.item).c_str(),
                    OrDash(r.band).c_str(), OrDash(r.point).c_str(), change.c_str());
        return true;
    });
    if (!e.ok()) {
        Fail(e);
        return kDatabase;
    }
    WarnAboutQueue(records);
    return kOk;
}

}  // namespace

void FinishRecords() {
    Recorder& recorder = CalibrationRecorder();
    RecordStore* store = recorder.store();
    if (store == nullptr) return;
    // Ends early when the server fails: a stalled server costs one time-out.
    (void)store->drain(std::chrono::seconds(10));
    WarnAboutQueue(*store);
    recorder.setStore(nullptr);
}

int CmdRecords(const Options& options) {
    const std::string what = options.args.empty() ? std::string("list") : options.args[0];
    if (what != "list" && what != "show" && what != "export" && what != "stats") {
        Fail("unknown records command \"" + what + "\"; records commands: list, show ID, export, stats");
        return kUsage;
    }
    if (!options.format.empty() && what != "export") {
        Fail("--format is for records export");
        return kUsage;
    }
    if (!options.by.empty() && (what != "stats" || (options.by != "station" && options.by != "day"))) {
        Fail(what != "stats" ? std::string("--by is for records stats")
                             : "unknown grouping \"" + options.by + "\"; records stats --by station or --by day");
        return kUsage;
    }
    if (what != "show" && options.args.size() > 1) {
        Fail("unexpected argument \"" + options.args[1] + "\" for records " + what);
        return kUsage;
    }
    if (!options.output.empty()) {
        if (what != "export") {
            Fail("--output is for records export");
            return kUsage;
        }
        // Before the database is asked, as for every file the operator names.
        if (Error e = CheckWritableTarget(options.output); !e.ok()) {
            Fail(e.wrap("the records were not exported"));
            return FileExitCode(e);
        }
    }
    const RecordsConfig config = ReadRecordsConfig();
    auto store = OpenConfiguredStore(config);
    if (!store) {
        Fail(store.error());
        return kDatabase;
    }
    RecordStore& records = **store;
    // Records an earlier run left in the local queue go to the server first
    // (ends early when the server fails).
    (void)records.drain(std::chrono::seconds(10));
    if (what == "show") return ShowRecord(options, records);
    if (what == "export") return ExportRecords(options, records);
    if (what == "stats") return ShowStats(options, records);
    return ListRecords(options, records);
}

}  // namespace varnel::cli
