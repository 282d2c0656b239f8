// report --serial SN [-o FILE.pdf] [--record ID]: the one-page PDF report of
// a radio's latest alignment run (or of the run a record belongs to), with
// its model's history, from the calibration records.
#include <chrono>
#include <cstdint>

#include "cli/Cli.h"
#include "records/RecordStore.h"
#include "report/RadioReport.h"
#include "report/ReportPdf.h"
#include "util/FileAccess.h"

namespace varnel::cli {

int CmdReport(const Options& options) {
    if (options.serial.empty() && options.recordId == 0) {
        Fail("report needs the radio's serial (--serial SN) or a record (--record ID)");
        return kUsage;
    }
    if (!PdfReportsAvailable()) {
        Fail("PDF reports are not available in this build (it was made without cairo); records export gives the "
             "radio's results as CSV or OCP output");
        return kNoPdfReports;
    }
    ReportRequest request;
    request.serial = options.serial;
    request.recordId = options.recordId;
    const RecordsConfig config = ReadRecordsConfig();
    auto store = OpenConfiguredStore(config);
    if (!store) {
        Fail(store.error());
        return kDatabase;
    }
    // Records an earlier run left in the local queue go to the server first.
    (void)(*store)->drain(std::chrono::seconds(10));
    Result<RadioReport> report = BuildRadioReport(**store, request);
    if (!report) {
        Fail(report.error().wrapped("no report"));
        switch (report.error().code()) {
            case ErrorCode::NotFound: return request.recordId > 0 ? kNoSuchRecord : kNoRadioRecords;
            case ErrorCode::BadData: return kUsage;
            default: return kDatabase;
        }
    }
    const std::string file = options.output.empty() ? DefaultReportFileName(report.value()) : options.output;
    if (Error e = WriteReportPdf(report.value(), file); !e.ok()) {
        Fail(e);
        return FileExitCode(e);
    }
    Progress(options, "report of " + report->serial + " (" + report->verdict + ", " + std::to_string(report->points) +
                          " points) written to " + file);
    return kOk;
}

}  // namespace varnel::cli
