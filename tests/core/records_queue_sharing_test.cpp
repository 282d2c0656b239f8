// Several programs of one station on one PostgreSQL server, sharing the
// station's local queue file: each waits only for its own records, none
// sends a record another program is sending, and all arrive once. The
// alignment's history read on a stalled server: given from what was read
// before (with the records of the queue), and the server is not asked again
// until it answers. Against the server of scripts/with-postgres; skipped
// without it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

#include "records/RecordStore.h"
#include "core/support/FrozenServer.h"
#include "core/support/QuickTimeouts.h"
#include "core/support/TempFiles.h"

using namespace varnel;
using varnel::test::TempDir;
using varnel::testing::FrozenServer;
using varnel::testing::QuickTimeouts;

namespace {

const char* Url() {
    const char* url = std::getenv("VARNEL_TEST_POSTGRES");
    return url && *url ? url : nullptr;
}

bool WaitFor(const std::function<bool()>& done, int seconds) {
    for (int i = 0; i < seconds * 20; ++i) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return done();
}

// One alignment point of radio `serial` of model `model`.
CalibrationRecord Point(const std::string& model, const std::string& serial, int point, int value) {
    CalibrationRecord r;
    r.uid = NewRecordUid();
    r.session = serial + "-session";
    r.runId = serial + "-run";
    r.recordedAt = UtcTimestampNow();
    r.station = "station-7";
    r.operatorName = "kim";
    r.modelName = model;
    r.firmware = "V2.3";
    r.serial = serial;
    r.event = record_event::kAlign;
    r.item = 19;
    r.band = 0;
    r.point = point;
    r.oldValue = 100;
    r.newValue = value;
    r.detail = "pass: target 37 +/- 0.2 dBm";
    r.verdict = record_verdict::kPass;
    return r;
}

RecordFilter HistoryOf(const std::string& model) {
    RecordFilter f;
    f.modelName = model;
    f.firmware = "V2.3";
    f.event = record_event::kAlign;
    return f;
}

std::size_t CountOnServer(const std::string& serialPrefix) {
    auto direct = OpenPostgresStore(Url(), QuickTimeouts());
    if (!direct) return 0;
    RecordFilter f;
    f.event = record_event::kAlign;
    std::size_t n = 0;
    std::set<std::string> uids;
    (void)(*direct)->forEach(f, [&](const CalibrationRecord& r) {
        if (r.serial.rfind(serialPrefix, 0) == 0) {
            ++n;
            uids.insert(r.uid);
        }
        return true;
    });
    return uids.size() == n ? n : 0;  // 0 when any record is there twice
}

}  // namespace

// Eight writers on one queue file: four write five records each and drain
// while the other four go on appending, a record every millisecond or so,
// until those drains are over. Each draining writer ends with nothing of its
// own waiting (before, the others' records, seen in the queue and never
// looked at again, kept its count above zero until its budget ran out: the
// tool's warning), and every record is on the server once.
TEST(PostgresRecords, ParallelWritersOnOneQueueFileWaitOnlyForTheirOwn) {
    if (!Url()) GTEST_SKIP() << "PostgreSQL tests skipped: VARNEL_TEST_POSTGRES is not set (scripts/with-postgres sets it)";
    TempDir dir;
    const auto queue = dir.path() / "records-queue.sqlite";
    const std::string prefix = "SN-PAR-" + NewRecordUid().substr(0, 8) + "-";
    constexpr int kWriters = 8, kEarly = 4;
    std::atomic<int> draining{kEarly};
    std::atomic<int> appended{0};
    std::vector<std::size_t> leftAfterDrain(kWriters, 99);
    std::vector<bool> answering(kWriters, false);
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w) {
        writers.emplace_back([&, w] {
            auto store = OpenQueuedStore(Url(), queue, QuickTimeouts());
            if (!store) return;
            const auto add = [&](int i) {
                CalibrationRecord r = Point("VR-PAR", prefix + std::to_string(w), i % 5 + 1, 100 + i % 100);
                EXPECT_TRUE((*store)->append(r).ok());
                ++appended;
            };
            if (w < kEarly) {
                for (int i = 0; i < 5; ++i) add(i);
                leftAfterDrain[w] = (*store)->drain(std::chrono::seconds(3));
                --draining;
            } else {
                for (int i = 0; draining > 0 && i < 4000; ++i) {
                    add(i);
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
                leftAfterDrain[w] = (*store)->drain(std::chrono::seconds(10));
            }
            answering[w] = (*store)->queueState().serverAnswering;
        });
    }
    for (std::thread& t : writers) t.join();
    for (int w = 0; w < kWriters; ++w) {
        EXPECT_EQ(leftAfterDrain[w], 0u) << "writer " << w << " would warn about records waiting";
        EXPECT_TRUE(answering[w]) << "writer " << w;
    }
    EXPECT_EQ(CountOnServer(prefix), static_cast<std::size_t>(appended.load()));
}

#ifndef _WIN32
// While another program holds the sending lock, this one sends nothing (no
// record twice) and waits for its records to be gone; once the lock is free
// it sends them itself.
TEST(PostgresRecords, WhileAnotherProgramSendsTheQueueNothingIsSentTwice) {
    if (!Url()) GTEST_SKIP() << "PostgreSQL tests skipped: VARNEL_TEST_POSTGRES is not set (scripts/with-postgres sets it)";
    TempDir dir;
    const auto queue = dir.path() / "records-queue.sqlite";
    const std::string prefix = "SN-LOCK-" + NewRecordUid().substr(0, 8);
    auto store = OpenQueuedStore(Url(), queue, QuickTimeouts());
    ASSERT_TRUE(store.ok()) << store.error().text();
    ASSERT_EQ((*store)->drain(std::chrono::seconds(10)), 0u);
    // The other program: it holds the lock beside the queue file.
    const int other = ::open((queue.string() + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
    for (int i = 1; i <= 3; ++i) {
        CalibrationRecord r = Point("VR-LOCK", prefix, i, 100 + i);
        ASSERT_TRUE((*store)->append(r).ok());
    }
    EXPECT_EQ((*store)->drain(std::chrono::milliseconds(800)), 3u);
    EXPECT_TRUE((*store)->queueState().serverAnswering);
    EXPECT_EQ(CountOnServer(prefix), 0u) << "the lock's holder sends the queue, no one else";
    ::flock(other, LOCK_UN);
    ::close(other);
    EXPECT_EQ((*store)->drain(std::chrono::seconds(10)), 0u);
    EXPECT_EQ(CountOnServer(prefix), 3u);
}
#endif

// The history of a model read before each radio: on a stalled server the
// read gives what it read before and the records of the queue (before, it
// failed after the statement's time-out, each time), and marks the server as
// not answering, so the next read and the retest count do not wait for it.
TEST(PostgresRecords, HistoryReadOnAStalledServerIsTheLastOneAndNotAskedAgain) {
    if (!Url() || !std::getenv("VARNEL_TEST_POSTGRES_FREEZE"))
        GTEST_SKIP() << "PostgreSQL tests skipped: no server to stop with SIGSTOP";
    TempDir dir;
    const std::string model = "VR-HIST-" + NewRecordUid().substr(0, 8);
    auto opened = OpenQueuedStore(Url(), dir.path() / "queue.sqlite", QuickTimeouts());
    ASSERT_TRUE(opened.ok()) << opened.error().text();
    RecordStore& store = **opened;
    for (int i = 1; i <= 3; ++i) {
        CalibrationRecord r = Point(model, "SN-H1", i, 110 + i);
        ASSERT_TRUE(store.append(r).ok());
    }
    ASSERT_EQ(store.drain(std::chrono::seconds(10)), 0u);
    auto before = store.list(HistoryOf(model));
    ASSERT_TRUE(before.ok()) << before.error().text();
    ASSERT_EQ(before->size(), 3u);

    FrozenServer server;
    ASSERT_TRUE(server.frozen());
    // A radio aligned while the server is stalled: its records wait here.
    CalibrationRecord waiting = Point(model, "SN-H2", 1, 120);
    ASSERT_TRUE(store.append(waiting).ok());
    for (int radio = 0; radio < 3; ++radio) {
        SCOPED_TRACE(radio);
        auto history = store.list(HistoryOf(model));
        ASSERT_TRUE(history.ok()) << history.error().text();
        ASSERT_EQ(history->size(), 4u);
        EXPECT_EQ(history->back().uid, waiting.uid) << "the queue's record comes last, as the newest";
        EXPECT_FALSE(store.queueState().serverAnswering);
    }
    // A model not read before: no history, and no wait for the server either.
    auto none = store.list(HistoryOf(model + "-other"));
    ASSERT_TRUE(none.ok()) << none.error().text();
    EXPECT_TRUE(none->empty());
    server.Thaw();
    // Once the sending finds the server back, the history is read from it again.
    EXPECT_TRUE(WaitFor([&] { return store.queueState().serverAnswering && store.queued() == 0; }, 30));
    auto after = store.list(HistoryOf(model));
    ASSERT_TRUE(after.ok()) << after.error().text();
    EXPECT_EQ(after->size(), 4u);
}
