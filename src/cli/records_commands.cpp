// records list | show ID | export [--output FILE]: the calibration records.
#include <cstdio>
#include <fstream>

#include "cli/Cli.h"
#include "records/RecordStore.h"
#include "records/Recorder.h"

namespace varnel::cli {

namespace {

std::string OrDash(int v) { return v < 0 ? std::string("-") : std::to_string(v); }

// records show ID: every field of one record.
int ShowRecord(const Options& options, RecordStore& records) {
    if (options.args.size() != 2) {
        Fail("records show needs the ID of a record");
        return kUsage;
    }
    char* rest = nullptr;
    const long long id = std::strtoll(options.args[1].c_str(), &rest, 10);
    if (!rest || *rest || options.args[1].empty()) {
        Fail("\"" + options.args[1] + "\" is not a record ID");
        return kUsage;
    }
    auto r = records.Get(id);
    if (!r) {
        Fail(r.error());
        return kDatabase;
    }
    std::printf("id            : %lld\nuid           : %s\nsession       : %s\nrecorded at   : %s\n"
                "station       : %s\noperator      : %s\nmodel name    : %s\nfirmware      : %s\n"
                "model code    : %d\nmodel variant : %d\nserial        : %s\nevent         : %s\n"
                "item          : %s\nband          : %s\npoint         : %s\nold value     : %s\n"
                "new value     : %s\ndetail        : %s\nimage bytes   : %zu at entry, %zu now\n",
                static_cast<long long>(r->id), r->uid.c_str(), r->session.c_str(), r->recordedAt.c_str(),
                r->station.c_str(), r->operatorName.c_str(), r->modelName.c_str(), r->firmware.c_str(),
                r->modelCode, r->modelVariant, r->serial.c_str(), r->event.c_str(), OrDash(r->item).c_str(),
                OrDash(r->band).c_str(), OrDash(r->point).c_str(), OrDash(r->oldValue).c_str(),
                OrDash(r->newValue).c_str(), r->detail.c_str(), r->imageAtEntry.size(), r->imageNow.size());
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
        std::ofstream out(options.output, std::ios::binary | std::ios::trunc);
        out.write(csv.data(), static_cast<std::streamsize>(csv.size()));
        if (!out.flush()) {
            Fail("cannot write " + options.output);
            return kFileError;
        }
        std::fprintf(stderr, "varnel-cli: %zu record(s) written to %s\n", list.size(), options.output.c_str());
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
    if (!options.quiet) std::fprintf(stderr, "varnel-cli: %s\n", records.Describe().c_str());
    std::printf("%-6s %-24s %-12s %-10s %-14s %-10s %-12s %5s %4s %5s %9s\n", "ID", "WHEN (UTC)", "STATION",
                "OPERATOR", "MODEL", "SERIAL", "EVENT", "ITEM", "BAND", "POINT", "OLD->NEW");
    for (const CalibrationRecord& r : list) {
        const std::string change = r.oldValue < 0 && r.newValue < 0 ? std::string("-")
                                                                    : OrDash(r.oldValue) + "->" + OrDash(r.newValue);
        std::printf("%-6lld %-24s %-12s %-10s %-14s %-10s %-12s %5s %4s %5s %9s\n", static_cast<long long>(r.id),
                    r.recordedAt.c_str(), r.station.c_str(), r.operatorName.c_str(), r.modelName.c_str(),
                    r.serial.empty() ? "-" : r.serial.c_str(), r.event.c_str(), OrDash(r.item).c_str(),
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
