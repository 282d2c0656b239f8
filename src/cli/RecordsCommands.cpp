// records list | show ID | export [--output FILE]: the calibration records.
#include <cstdint>
#include <cstdio>
#include <limits>

#include "cli/Cli.h"
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
    auto r = records.Get(*id);
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

// records export: the records as CSV on standard output or in --output.
int ExportRecords(const Options& options, const std::vector<CalibrationRecord>& list) {
    const std::string csv = RecordsToCsv(list);
    if (options.output.empty()) {
        std::fwrite(csv.data(), 1, csv.size(), stdout);
    } else {
        if (Error e = WriteFileSafely(options.output, csv); !e.ok()) {
            Fail(e.Wrap("the records were not exported"));
            return FileExitCode(e);
        }
        Progress(options, std::to_string(list.size()) + " record(s) written to " + options.output);
    }
    return kOk;
}

// What a queued store still holds, as warnings on stderr.
void WarnAboutQueue(RecordStore& records) {
    const RecordsQueueState s = records.QueueState();
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

// records list: one line a record.
int ListRecords(const Options& options, RecordStore& records, const std::vector<CalibrationRecord>& list) {
    Progress(options, records.Describe());
    std::printf("%-6s %-24s %-12s %-10s %-14s %-10s %-12s %5s %4s %5s %9s\n", "ID", "WHEN (UTC)", "STATION",
                "OPERATOR", "MODEL", "SERIAL", "EVENT", "ITEM", "BAND", "POINT", "OLD->NEW");
    for (const CalibrationRecord& r : list) {
        const std::string change = r.oldValue < 0 && r.newValue < 0 ? std::string("-")
                                                                    : OrDash(r.oldValue) + "->" + OrDash(r.newValue);
        std::printf("%-6lld %-24s %-12s %-10s %-14s %-10s %-12s %5s %4s %5s %9s\n", static_cast<long long>(r.id),
                    T(r.recordedAt).c_str(), T(r.station).c_str(), T(r.operatorName).c_str(), T(r.modelName).c_str(),
                    r.serial.empty() ? "-" : T(r.serial).c_str(), T(r.event).c_str(), OrDash(r.item).c_str(),
                    OrDash(r.band).c_str(), OrDash(r.point).c_str(), change.c_str());
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
    (void)store->Drain(std::chrono::seconds(10));
    WarnAboutQueue(*store);
    recorder.SetStore(nullptr);
}

int CmdRecords(const Options& options) {
    const std::string what = options.args.empty() ? std::string("list") : options.args[0];
    if (what != "list" && what != "show" && what != "export") {
        Fail("unknown records command \"" + what + "\"; records commands: list, show ID, export");
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
            Fail(e.Wrap("the records were not exported"));
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
    (void)records.Drain(std::chrono::seconds(10));
    if (what == "show") return ShowRecord(options, records);
    auto list = records.List(FilterOf(options));
    if (!list) {
        Fail(list.error());
        return kDatabase;
    }
    if (what == "export") return ExportRecords(options, *list);
    return ListRecords(options, records, *list);
}

}  // namespace varnel::cli
