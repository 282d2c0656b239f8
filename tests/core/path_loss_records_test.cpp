// The fixture's path-loss table in the calibration records: kept once per
// alignment run (in its first record), named by its SHA-256 in every
// record, and a radio's report still shows it.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>

#include "align/AlignEngine.h"
#include "align/AlignRecords.h"
#include "core/support/AlignFakes.h"
#include "instrument/InstrumentModel.h"
#include "line/LineSettings.h"
#include "records/RecordStore.h"
#include "records/Recorder.h"
#include "report/RadioReport.h"
#include "util/Sha256.h"

using namespace varnel;
using namespace varnel::test;

TEST(PathLossRecords, TheTableIsStoredOncePerRunAndNamedByItsHashInEveryRecord) {
    const std::filesystem::path file =
        std::filesystem::temp_directory_path() / ("path_loss_records_" + std::to_string(::getpid()) + ".sqlite");
    std::filesystem::remove(file);
    Result<std::unique_ptr<RecordStore>> opened = OpenSqliteStore(file);
    ASSERT_TRUE(opened.ok()) << opened.error().text();
    std::shared_ptr<RecordStore> store(std::move(opened.value()));
    CalibrationRecorder().setStore(store);
    CalibrationRecorder().setSerial("SN-LOSS-1");

    // A table of many rows, as a fixture measured finely would have.
    std::string csv;
    for (int i = 0; i < 2000; ++i) csv += std::to_string(100 + i * 0.25) + "," + std::to_string(1.0 + i * 0.0001) + "\n";
    Result<PathLoss> loss = ParsePathLoss(csv, "fine.csv");
    ASSERT_TRUE(loss.ok()) << loss.error().text();
    TraceContext trace;
    trace.fixtureId = "FX-09";
    trace.pathLoss = loss->recordText();

    for (int run = 0; run < 2; ++run) {
        FakeRadio radio;
        FakeInstrument meter(radio);
        AlignEngine engine(oneStep(powerStep({1, 2, 3, 4}, 33.0)), radio, &meter, VirtualTestSetModel());
        engine.setRecordSink(CalibrationRecordSink(trace));
        ASSERT_TRUE(engine.run().complete());
    }
    CalibrationRecorder().setStore(nullptr);

    RecordFilter filter;
    filter.event = record_event::kAlign;
    Result<std::vector<CalibrationRecord>> records = store->list(filter);
    ASSERT_TRUE(records.ok()) << records.error().text();
    ASSERT_EQ(records->size(), 8u);
    std::sort(records->begin(), records->end(), [](const auto& a, const auto& b) { return a.id < b.id; });
    const std::string hash = Sha256Hex(trace.pathLoss);
    int tables = 0;
    std::string lastRun;
    for (const CalibrationRecord& r : *records) {
        SCOPED_TRACE(r.id);
        EXPECT_EQ(r.pathLossSha256, hash);
        EXPECT_EQ(r.fixtureId, "FX-09");
        const bool firstOfRun = r.runId != lastRun;
        lastRun = r.runId;
        EXPECT_EQ(r.pathLoss, firstOfRun ? trace.pathLoss : std::string()) << "the table once per run";
        tables += r.pathLoss.empty() ? 0 : 1;
    }
    EXPECT_EQ(tables, 2);

    // The report of the radio's latest run still names the whole table.
    Result<RadioReport> report = BuildRadioReport(*store, ReportRequest{"SN-LOSS-1", 0});
    ASSERT_TRUE(report.ok()) << report.error().text();
    EXPECT_EQ(report->pathLoss, trace.pathLoss);
    std::filesystem::remove(file);
}
