// records list | show ID | export [--format csv|ocp] [--output FILE] | stats
// [--by station|day]: the calibration records. Listings, exports and
// statistics read the records one at a time (RecordStore::ForEach), so that
// their memory does not grow with the number of records.
#include <cstdint>
#include <cstdio>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cli/AlignSteps.h"
#include "cli/Cli.h"
#include "lang/ItemNames.h"
#include "lang/Loadlanguage.h"
#include "line/LineDrift.h"
#include "protocol/FrameDecode.h"
#include "records/RecordExport.h"
#include "records/RecordStore.h"
#include "records/Recorder.h"
#include "util/FileAccess.h"
#include "util/UtcTime.h"

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
    // The table is kept in the run's first record; the others name it.
    if (!r->pathLossSha256.empty()) std::printf("path loss hash: %s\n", T(r->pathLossSha256).c_str());
    std::printf("changed bytes : %zu since entry\n", changed);
    return kOk;
}

RecordFilter FilterOf(const Options& options) {
    RecordFilter filter;
    filter.serial = options.filterSerial;
    filter.modelName = options.filterModel;
    filter.event = options.filterEvent;
    // Checked in CmdRecords: a time, in the form the records keep theirs.
    filter.since = options.since.empty() ? std::string() : CanonicalUtcTime(options.since).value_or(options.since);
    filter.until = options.until.empty() ? std::string() : CanonicalUtcTime(options.until).value_or(options.until);
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

// The control charts of the line, per model: per step and point the final
// values' I-MR chart (radios, centre line, sigma, limits, the points that
// break a run rule) with the readings' Cpk, then each unit's line chart and
// whether it raises the line alarm at its newest radio.
void ShowControlCharts(const std::map<std::string, std::vector<CalibrationRecord>>& byModel,
                       const ChartSettings& settings) {
    if (byModel.empty()) return;
    std::printf("\ncontrol charts of the final values (I-MR; limits from %s %d radios)\n",
                settings.limits == ChartSettings::Limits::FirstRadios ? "the first" : "a window of the last",
                settings.radios);
    for (const auto& [model, records] : byModel) {
        const DriftAnalysis a = AnalyseDrift(records, settings);
        std::printf("model %s: %d radios\n", T(model).c_str(), a.radios);
        std::printf("  %-28s %-28s %-11s %5s %6s %9s %8s %9s %9s %7s %6s\n", "STEP", "ITEM", "BAND", "POINT",
                    "RADIOS", "CENTRE", "SIGMA", "LCL", "UCL", "SIGNALS", "CPK");
        for (const PointSeries& p : a.points) {
            char centre[16] = "-", sigma[16] = "-", lcl[16] = "-", ucl[16] = "-", cpk[16] = "-";
            if (p.chart.limits) {
                std::snprintf(centre, sizeof centre, "%.2f", p.chart.limits->centre);
                std::snprintf(sigma, sizeof sigma, "%.2f", p.chart.limits->sigma);
                std::snprintf(lcl, sizeof lcl, "%.2f", p.chart.limits->lower);
                std::snprintf(ucl, sizeof ucl, "%.2f", p.chart.limits->upper);
            }
            if (p.cpk) std::snprintf(cpk, sizeof cpk, "%.2f", *p.cpk);
            std::printf("  %-28s %-28s %-11s %5d %6zu %9s %8s %9s %9s %7d %6s\n", T(p.step).c_str(),
                        T(ItemCaption(p.item)).c_str(), BandCaption(p.band).c_str(), p.point, p.radios.size(), centre,
                        sigma, lcl, ucl, p.chart.signalCount(), cpk);
        }
        for (const LineSeries& line : a.lines) {
            const std::optional<std::size_t> first = line.chart.firstSignal();
            std::printf("  line chart %s: %zu radios, %d signal(s)%s\n", T(line.unit.empty() ? "-" : line.unit).c_str(),
                        line.values.size(), line.chart.signalCount(),
                        first ? (", first at radio " + T(line.radios[*first]) + " (" +
                                 RunRuleText(line.chart.points[*first].rule) + ")")
                                    .c_str()
                              : "");
        }
        for (const DriftAlarm& alarm : a.alarms) std::printf("  LINE ALARM %s\n", T(DriftAlarmText(alarm)).c_str());
    }
}

// records stats: radios per hour, first-pass yield and tries per point, for
// the whole line, per station or per day; then the control charts.
int ShowStats(const Options& options, RecordStore& records) {
    const LineStats::By by = options.by == "station" ? LineStats::By::Station
                             : options.by == "day"   ? LineStats::By::Day
                                                     : LineStats::By::All;
    LineStats stats(by);
    RecordFilter filter = FilterOf(options);
    // The passed alignment points per model, for the control charts.
    std::map<std::string, std::vector<CalibrationRecord>> charted;
    Error e = records.forEach(filter, [&](const CalibrationRecord& r) {
        stats.add(r);
        const bool passed = r.verdict.empty() ? r.detail.rfind("pass:", 0) == 0
                                              : r.verdict == record_verdict::kPass || r.verdict == record_verdict::kMarginal;
        if (r.event == record_event::kAlign && passed) {
            CalibrationRecord kept = r;
            kept.imageAtEntry.clear();
            kept.imageNow.clear();
            kept.detail = kept.detail.substr(0, 5);
            charted[r.modelName].push_back(std::move(kept));
        }
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
    // The line's chart settings of the station's setting.ini ([line] chartRadios, chartLimits).
    const LineSettings line = ReadLineSettings(SettingsFileOf(options));
    ChartSettings charts;
    if (line.chartRadios > 0) charts.radios = line.chartRadios;
    if (line.chartWindow) charts.limits = ChartSettings::Limits::LastRadios;
    ShowControlCharts(charted, charts);
    WarnAboutQueue(records);
    return kOk;
}

// The item of a record as the window names it: its caption in the language
// of the tool (the code stays in `records show`).
std::string ItemName(int code) {
    if (code < 0) return "-";
    return ItemCaptionText(code, [](const char* section, const char* key) { return Text(section, key); });
}

std::string BandName(int band) {
    if (band == 0) return "400-470 MHz";
    if (band == 1) return "136-174 MHz";
    return "-";
}

// records list: one line a record, newest first as in the records window
// (with --limit N the newest N), item and band by name.
int ListRecords(const Options& options, RecordStore& records) {
    Progress(options, records.describe());
    std::printf("%-6s %-24s %-12s %-10s %-14s %-10s %-12s %-32s %-11s %5s %9s\n", "ID", "WHEN (UTC)", "STATION",
                "OPERATOR", "MODEL", "SERIAL", "EVENT", "ITEM", "BAND", "POINT", "OLD->NEW");
    RecordFilter filter = FilterOf(options);
    filter.newestFirst = true;
    Error e = records.forEach(filter, [](const CalibrationRecord& r) {
        const std::string change = r.oldValue < 0 && r.newValue < 0 ? std::string("-")
                                                                    : OrDash(r.oldValue) + "->" + OrDash(r.newValue);
        std::printf("%-6lld %-24s %-12s %-10s %-14s %-10s %-12s %-32s %-11s %5s %9s\n", static_cast<long long>(r.id),
                    T(r.recordedAt).c_str(), T(r.station).c_str(), T(r.operatorName).c_str(), T(r.modelName).c_str(),
                    r.serial.empty() ? "-" : T(r.serial).c_str(), T(r.event).c_str(), ItemName(r.item).c_str(),
                    BandName(r.band).c_str(), OrDash(r.point).c_str(), change.c_str());
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
    // Times are read, never compared as whatever text was given.
    for (const auto& [option, value] : {std::pair{"--since", &options.since}, std::pair{"--until", &options.until}}) {
        if (!value->empty() && !CanonicalUtcTime(*value)) {
            Fail(std::string(option) + " \"" + *value +
                 "\" is not a time: give an ISO 8601 date or date-time in UTC, such as 2026-12-09 or "
                 "2026-12-09T14:30:00Z (an offset such as +01:00 is taken back to UTC)");
            return kUsage;
        }
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
