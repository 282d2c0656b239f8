// Calibration records on a PostgreSQL server that stops answering in the
// middle of a session (SIGSTOP; scripts/with-postgres starts the server and
// gives the commands): the window stays responsive, live-sets are
// acknowledged, the status bar says it once, the records wait on the station
// and reach the server once it goes on. Skipped without such a server.
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <cstdlib>

#include "app/RadioStatusBar.h"
#include "app/TMainForm.h"
#include "data/Global.h"
#include "lang/Loadlanguage.h"
#include "records/Recorder.h"
#include "support/RadioFrames.h"
#include "support/TestEnvironment.h"
#include "support/TuningFixture.h"
#include "tuning/TMDIChild.h"
#include "tuning/TuningControls.h"
#include "ui/Records.h"
#include "../core/support/FrozenServer.h"
#include "../core/support/QuickTimeouts.h"

using namespace varnel;
using varnel::test::TestEnvironment;

namespace {

using varnel::testing::FrozenServer;
using varnel::testing::QuickTimeouts;

}  // namespace

class RecordsServerTest : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { CalibrationRecorder().setStore(nullptr); }

    void aStalledServerNeverFreezesTheWindow_data() {
        QTest::addColumn<QString>("language");
        QTest::newRow("english") << QStringLiteral("english");
        QTest::newRow("chinese") << QStringLiteral("chinese");
    }
    void aStalledServerNeverFreezesTheWindow() {
        QFETCH(QString, language);
        const char* url = std::getenv("VARNEL_TEST_POSTGRES");
        if (!url || !*url || !std::getenv("VARNEL_TEST_POSTGRES_FREEZE"))
            QSKIP("PostgreSQL tests skipped: no server to stop with SIGSTOP (scripts/with-postgres starts one)");
        QTemporaryDir dir;
        auto opened = OpenQueuedStore(url, (dir.path() + QStringLiteral("/queue.sqlite")).toStdString(), QuickTimeouts());
        QVERIFY2(opened.ok(), opened.error().text().c_str());
        std::shared_ptr<RecordStore> store = std::move(*opened);
        CalibrationRecorder().setStore(store);
        const std::string serial = "SN-gui-stall-" + NewRecordUid();
        CalibrationRecorder().setSerial(serial);

        TestEnvironment env;
        env.writeSettingsLanguage(language);
        TMainForm form;
        form.resize(1366, 768);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QVERIFY(test::EnterTunerMode(form));
        TMDIChild* w = form.tuningWindow;
        QVERIFY(w != nullptr);
        (void)test::KeyPowerPageAtPointFour(*w);  // keyed on item 18, point 4
        QVERIFY(txKeyed);
        QCOMPARE(store->drain(std::chrono::seconds(20)), std::size_t{0});
        QVERIFY(store->queueState().serverAnswering);
        const int reportsBefore = ui::RecordsStallReports();
        QVERIFY(form.RadioStatus->recordsText().isEmpty());

        // The event loop's heartbeat.
        int ticks = 0;
        QTimer heartbeat;
        heartbeat.setInterval(10);
        connect(&heartbeat, &QTimer::timeout, [&] { ++ticks; });
        heartbeat.start();

        FrozenServer server;
        QVERIFY(server.frozen());
        // Item 18, low column, point 4: two changes, each acknowledged by the
        // radio while the records server does not answer.
        auto* upDown = w->control<tuning::TUpDown>(QStringLiteral("UpDown10"));
        QVERIFY(upDown != nullptr);
        const std::size_t slot = 180 + 3;
        const int start = tunerImage[slot];
        const int sentBefore = static_cast<int>(test::SentLiveSets(env.radio()).size());
        upDown->step(+1);
        QTRY_COMPARE_WITH_TIMEOUT(store->queueState().waiting, std::size_t{1}, 10000);
        QCOMPARE(static_cast<int>(test::SentLiveSets(env.radio()).size()), sentBefore + 1);
        QTRY_VERIFY_WITH_TIMEOUT(!form.RadioStatus->recordsText().isEmpty(), 15000);
        QVERIFY(ticks > 0);
        upDown->step(+1);
        QTRY_COMPARE_WITH_TIMEOUT(store->queueState().waiting, std::size_t{2}, 10000);
        QCOMPARE(int(tunerImage[slot]), start + 2);
        QCOMPARE(int(env.radio().liveImage()[slot]), start + 2);
        // Said once, with the count of records waiting, in the interface language.
        const QString expected = TestEnvironment::text("Records", "R0040").arg(2);
        QVERIFY(!TestEnvironment::text("Records", "R0040").isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(form.RadioStatus->recordsText().contains(expected), 5000);
        QCOMPARE(ui::RecordsStallReports(), reportsBefore + 1);
        QCOMPARE(store->queueState().stalls, std::uint64_t{1});
        QVERIFY(txKeyed);  // still keyed, nothing locked by the records
        QVERIFY(env.dialogs().messages.size() <= 1);  // M001 only: no box from the records

        // The server goes on: the queue drains, the status bar clears.
        server.Thaw();
        QTRY_VERIFY_WITH_TIMEOUT(store->queued() == 0 && form.RadioStatus->recordsText().isEmpty(), 30000);
        RecordFilter filter;
        filter.serial = serial;
        auto all = store->list(filter);
        QVERIFY2(all.ok(), all.ok() ? "" : all.error().text().c_str());
        QCOMPARE(all->size(), std::size_t{3});
        QCOMPARE(QString::fromStdString((*all)[0].event), QStringLiteral("enter"));
        QCOMPARE(QString::fromStdString((*all)[1].event), QStringLiteral("live-change"));
        QCOMPARE((*all)[1].item, 18);
        QCOMPARE((*all)[1].point, 4);
        QCOMPARE((*all)[1].oldValue, start);
        QCOMPARE((*all)[1].newValue, start + 1);
        QCOMPARE((*all)[2].newValue, start + 2);
        heartbeat.stop();
        form.close();
        CalibrationRecorder().setSerial({});
    }
};

QTEST_MAIN(RecordsServerTest)
#include "records_server_test.moc"
