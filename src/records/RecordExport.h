// Exports and line statistics computed from a stream of records (oldest
// first, as RecordStore::ForEach gives them), in memory that does not grow
// with the number of records.
//
// Alignment runs: the "align" records of one run share its run id (older
// records: their session). A run is complete when its session goes on with
// an entry or a leave, or with another run; the runs still open at the end of
// the stream are completed then. A station that interleaves with others on a
// shared server is no problem; should more than kOpenRuns runs be open at
// once, the oldest is completed early.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "records/RecordStore.h"

namespace varnel {

// The points of one alignment run (their images left out).
struct AlignRun {
    std::string key;  // run id, else session
    std::vector<CalibrationRecord> points;
};

class AlignRunCollector {
public:
    static constexpr std::size_t kOpenRuns = 64;
    explicit AlignRunCollector(std::function<void(const AlignRun&)> completed) : completed_(std::move(completed)) {}
    void add(const CalibrationRecord& record);
    void finish();

private:
    void complete(const std::string& key);
    std::function<void(const AlignRun&)> completed_;
    std::map<std::string, AlignRun> open_;        // by key
    std::map<std::string, std::string> session_;  // session -> key of its open run
    std::vector<std::string> order_;              // keys by first point
};

// The verdict of an alignment record; for records older than schema 4 the
// word before the colon of its detail ("pass: ...").
std::string VerdictOf(const CalibrationRecord& record);

// The name of an alignment point's measurements in the OCP output: the item
// and the band as the records window names them, and the point
// ("Digital TX Power (High), 400-470 MHz, point 2").
std::string OcpPointName(const CalibrationRecord& record);

// OCP Test and Validation output (schema 2.0, line-delimited JSON): each
// alignment run a test run of its own (schemaVersion, testRunStart, one
// step per procedure step with a measurement per point, testRunEnd), each
// line through `write`.
class OcpExporter {
public:
    explicit OcpExporter(std::function<void(const std::string& line)> write);
    void add(const CalibrationRecord& record) { runs_.add(record); }
    void finish() { runs_.finish(); }
    int runs() const { return runs_count_; }

private:
    void writeRun(const AlignRun& run);
    std::function<void(const std::string&)> write_;
    AlignRunCollector runs_;
    int runs_count_ = 0;
};

// Line statistics of the alignment runs, per group.
struct LineStatsRow {
    std::string group;        // station id, day ("2026-12-09") or "all"
    int runs = 0;             // alignment runs (radios aligned)
    int firstRuns = 0;        // runs that were a radio's first (retest count 0)
    int firstPassed = 0;      // of those, runs whose every point passed
    long points = 0;          // alignment points
    long tries = 0;           // readings of those points
    // Every point of the runs in one count: passed (marginal ones apart),
    // marginal, failed (an error and a save the radio did not confirm too),
    // stopped, and not reached (after the end of a run).
    long passedPoints = 0, marginalPoints = 0, failedPoints = 0, stoppedPoints = 0, notReachedPoints = 0;
    double hours = 0;         // from the first to the last record of the group's runs
    double radiosPerHour() const { return hours > 0 ? runs / hours : 0; }
    double firstPassYield() const { return firstRuns > 0 ? static_cast<double>(firstPassed) / firstRuns : 0; }
    double triesPerPoint() const { return points > 0 ? static_cast<double>(tries) / points : 0; }
};

class LineStats {
public:
    enum class By { All, Station, Day };
    explicit LineStats(By by);
    void add(const CalibrationRecord& record) { runs_.add(record); }
    // Completes the open runs; the rows sorted by group.
    std::vector<LineStatsRow> finish();

private:
    struct Span {
        double first = 0, last = 0;
    };
    void count(const AlignRun& run);
    By by_;
    AlignRunCollector runs_;
    std::map<std::string, LineStatsRow> rows_;
    std::map<std::string, Span> spans_;
};

// Seconds since 1970 of a record time ("2026-12-09T12:45:20.123Z"); 0 when unreadable.
double RecordSeconds(const std::string& utc);

}  // namespace varnel
