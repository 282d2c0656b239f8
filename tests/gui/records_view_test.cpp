// Calibration records in the desktop program: the events of a session through
// the main window, the serial-number prompt, live changes, and the records
// view with its filter and CSV export.
#include <QAction>
#include <QApplication>
#include <QPointer>
#include <QPushButton>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include "ui/Records.h"
#include "app/TMainForm.h"
#include "data/Global.h"
#include "ui/Selection.h"
#include "dialogs/TRecordsForm.h"
#include "lang/Loadlanguage.h"
#include "records/Recorder.h"
#include "support/TestEnvironment.h"

using namespace varnel;
using varnel::test::TestEnvironment;
using varnel::test::Tr;

class RecordsViewTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir_;
    std::shared_ptr<RecordStore> store_;

    std::vector<CalibrationRecord> all() {
        auto list = store_->list({});
        if (!list) return {};
        return *list;
    }

private slots:
    void init() {
        auto opened = OpenSqliteStore((dir_.path() + QStringLiteral("/records-%1-%2.sqlite")
                                                         .arg(QString::fromLatin1(QTest::currentTestFunction()),
                                                              QString::fromLatin1(QTest::currentDataTag())))
                                          .toStdString());
        QVERIFY(opened.ok());
        store_ = std::move(*opened);
        CalibrationRecorder().setStore(store_);
        CalibrationRecorder().setSerial({});
    }
    void cleanup() {
        CalibrationRecorder().setStore(nullptr);
        CalibrationRecorder().setSerial({});
        store_.reset();
    }

    void sessionThroughTheMainWindowIsRecorded() {
        TestEnvironment env(VirtualPreset::LargeNewFirmware);
        TMainForm form;
        QVERIFY(test::EnterTunerMode(form));
        form.SpeedButton1->click();
        test::RunMainWindowPolls(form);
        QVERIFY(test::LeaveTunerMode(form));

        const auto records = all();
        QCOMPARE(records.size(), std::size_t{3});
        QCOMPARE(QString::fromStdString(records[0].event), QStringLiteral("enter"));
        QCOMPARE(QString::fromStdString(records[1].event), QStringLiteral("write-all"));
        QCOMPARE(QString::fromStdString(records[2].event), QStringLiteral("leave"));
        const RadioInfo radio = env.radio().info();
        for (const auto& r : records) {
            QCOMPARE(r.modelName, radio.modelName());
            QCOMPARE(r.modelCode, 5);
            QCOMPARE(r.session, records[0].session);
            QCOMPARE(r.imageAtEntry.size(), std::size_t{848});
            QVERIFY(!r.station.empty());
            QVERIFY(!r.operatorName.empty());
        }
        // The image at entry is what the radio sent.
        const TunerImage stored = env.radio().storedImage();
        QVERIFY(std::equal(stored.bytes.begin(), stored.bytes.end(), records[0].imageAtEntry.begin()));
        QVERIFY(env.dialogs().messages.size() >= 3);  // M001, M012, M002 only: no box from the records

        // The menu entry of the records view.
        auto* entry = form.findChild<QAction*>(QStringLiteral("RecordsItem"));
        QVERIFY(entry != nullptr);
        QVERIFY(form.TunerAndTest->actions().contains(entry));
        emit form.TunerAndTest->aboutToShow();
        QCOMPARE(entry->text(), TestEnvironment::text("Records", "R0002"));
        QVERIFY(!entry->text().isEmpty());
        int dialogs = 0;
        env.dialogs().onDialog = [&](QDialog*) { return ++dialogs, 0; };
        entry->trigger();
        // A window of its own, not modal: the main window stays usable.
        QCOMPARE(dialogs, 0);
        QPointer<TRecordsForm> view = TRecordsForm::currentView();
        QVERIFY(view != nullptr);
        QVERIFY(view->isVisible());
        QVERIFY(!view->isModal());
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
        QTRY_VERIFY(!view->searching());
        QCOMPARE(view->RecordsGrid->rowCount(), 3);
        // Newest first.
        QCOMPARE(view->RecordsGrid->item(0, 7)->text(), TestEnvironment::text("Records", "R0056"));
        QCOMPARE(view->RecordsGrid->item(2, 7)->text(), TestEnvironment::text("Records", "R0050"));
        // The menu again brings the same view to the front.
        entry->trigger();
        QCOMPARE(TRecordsForm::currentView(), view.data());
        QCOMPARE(form.findChildren<TRecordsForm*>().size(), 1);
        view->CloseButton->click();
        QTRY_VERIFY(view.isNull());
        QCOMPARE(TRecordsForm::currentView(), nullptr);
    }

    void serialNumberIsAskedWhenTheSettingsSaySo() {
        TestEnvironment env;
        env.writeSettings("[setup]\r\nlanguage=english\r\n[records]\r\naskSerial=yes\r\n");
        TMainForm form;
        int asked = 0;
        env.dialogs().onDialog = [&](QDialog* dialog) {
            auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("SerialEdit"));
            if (edit == nullptr) return 0;
            ++asked;
            edit->setText(QStringLiteral("  SN-0077 "));
            return static_cast<int>(QDialog::Accepted);
        };
        QVERIFY(test::EnterTunerMode(form));
        QCOMPARE(asked, 1);
        auto records = all();
        QCOMPARE(records.size(), std::size_t{1});
        QCOMPARE(QString::fromStdString(records[0].serial), QStringLiteral("SN-0077"));

        // Skipped: no serial.
        QVERIFY(test::LeaveTunerMode(form));
        env.dialogs().onDialog = [&](QDialog*) { return static_cast<int>(QDialog::Rejected); };
        QVERIFY(test::EnterTunerMode(form));
        records = all();
        QCOMPARE(QString::fromStdString(records.back().event), QStringLiteral("enter"));
        QCOMPARE(QString::fromStdString(records.back().serial), QString());
    }

    void noSerialPromptByDefault() {
        TestEnvironment env;
        TMainForm form;
        int dialogs = 0;
        env.dialogs().onDialog = [&](QDialog*) { return ++dialogs, 0; };
        QVERIFY(test::EnterTunerMode(form));
        QCOMPARE(dialogs, 0);
        QCOMPARE(all().size(), std::size_t{1});
    }

    void acknowledgedValueChangesAreRecordedWithOldAndNewValue() {
        TestEnvironment env;
        tunerImage[118] = 20;  // item 10, point 3, band 0
        ui::RecordEntered(nullptr);
        currentItem = 10;
        currentPoint = 3;
        actionCode = action::kValueAdjusted;
        tunerImage[118] = 77;
        ui::RecordLiveSetAcknowledged();
        // Keying the transmitter changes no value: nothing recorded.
        actionCode = action::kTransmitOn;
        ui::RecordLiveSetAcknowledged();
        // Selecting the point again sends the value it has: nothing recorded.
        actionCode = action::kItemSelected;
        ui::RecordLiveSetAcknowledged();
        ui::RecordSaveAcknowledged(10);
        const auto records = all();
        QCOMPARE(records.size(), std::size_t{3});
        QCOMPARE(QString::fromStdString(records[1].event), QStringLiteral("live-change"));
        QCOMPARE(records[1].item, 10);
        QCOMPARE(records[1].band, 0);
        QCOMPARE(records[1].point, 3);
        QCOMPARE(records[1].oldValue, 20);
        QCOMPARE(records[1].newValue, 77);
        QCOMPARE(QString::fromStdString(records[2].event), QStringLiteral("save-item"));
    }

    void recordsViewFiltersAndExports() {
        TestEnvironment env;
        OpenLanguage(kLanguageEnglish);
        QVERIFY(!TestEnvironment::text("Records", "R0053").isEmpty());
        for (const char* serial : {"SN-1", "SN-2", "SN-1"}) {
            CalibrationRecorder().setSerial(serial);
            ui::RecordEntered(nullptr);
        }
        ui::RecordWroteAll();  // SN-1
        TRecordsForm form;
        QTRY_VERIFY(!form.searching());
        QCOMPARE(form.RecordsGrid->rowCount(), 4);
        QVERIFY(form.StoreLabel->text().contains(QStringLiteral("SQLite")));
        QCOMPARE(form.RecordsGrid->horizontalHeaderItem(6)->text(), TestEnvironment::text("Records", "R0026"));
        form.SerialEdit->setText(QStringLiteral("SN-1"));
        form.SearchButtonClick();
        QVERIFY(form.searching());
        QTRY_VERIFY(!form.searching());
        QCOMPARE(form.RecordsGrid->rowCount(), 3);
        QCOMPARE(form.RecordsGrid->item(0, 6)->text(), QStringLiteral("SN-1"));
        form.EventBox->setCurrentIndex(form.EventBox->findData(QStringLiteral("write-all")));
        QCOMPARE(form.EventBox->currentText(), TestEnvironment::text("Records", "R0053"));
        form.SearchButtonClick();
        QTRY_VERIFY(!form.searching());
        QCOMPARE(form.RecordsGrid->rowCount(), 1);
        QCOMPARE(form.RecordsGrid->item(0, 7)->text(), TestEnvironment::text("Records", "R0053"));

        const QString csv = dir_.path() + QStringLiteral("/history.csv");
        env.dialogs().saveNames << csv;
        form.ExportButtonClick();
        QFile file(csv);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = file.readAll().split('\n');
        QCOMPARE(lines.size(), 3);  // header, one record, empty rest after the last CR LF
        QVERIFY(lines[0].startsWith("id,uid,session,recorded_at"));
        QVERIFY(lines[1].contains(",SN-1,write-all,"));
    }

    // Items by their caption (with the column of a power pair) and events by
    // their name, in the interface language; newest first.
    void recordsViewShowsCaptionsAndNamesInTheInterfaceLanguage_data() {
        QTest::addColumn<QString>("language");
        QTest::newRow("english") << QStringLiteral("english");
        QTest::newRow("chinese") << QStringLiteral("chinese");
    }
    void recordsViewShowsCaptionsAndNamesInTheInterfaceLanguage() {
        QFETCH(QString, language);
        TestEnvironment env;
        env.writeSettingsLanguage(language);
        OpenLanguage(language == QStringLiteral("chinese") ? kLanguageChinese : kLanguageEnglish);
        ui::RecordEntered(nullptr);
        // Item 10 (TX power, low column), item 9 (its high column), item 79
        // (digital TX power, high column, band 1), item 12 (a CTCSS item).
        struct Change {
            int item, point, offset;
        };
        for (const Change c : {Change{10, 3, 118}, Change{9, 2, 109}, Change{79, 1, 444}, Change{12, 1, 132}}) {
            currentItem = c.item;
            currentPoint = c.point;
            actionCode = action::kValueAdjusted;
            tunerImage[static_cast<std::size_t>(c.offset)] = static_cast<std::uint8_t>(tunerImage[static_cast<std::size_t>(c.offset)] + 1);
            ui::RecordLiveSetAcknowledged();
        }
        ui::RecordSaveAcknowledged(9);
        QCOMPARE(all().size(), std::size_t{6});
        TRecordsForm form;
        QTRY_VERIFY(!form.searching());
        QCOMPARE(form.RecordsGrid->rowCount(), 6);
        const auto cell = [&](int row, int column) { return form.RecordsGrid->item(row, column)->text(); };
        // Newest first: the save, then the four changes backwards, the entry last.
        QCOMPARE(cell(0, 7), Tr("Records", "R0052"));
        QCOMPARE(cell(0, 8), Tr("Param", "P0014"));
        QCOMPARE(cell(1, 8), Tr("TreeView", "T0016"));
        QCOMPARE(cell(2, 8), Tr("TreeView", "T0028"));
        QCOMPARE(cell(3, 8), Tr("Param", "P0014"));
        QCOMPARE(cell(4, 8), Tr("Param", "P0013"));
        QCOMPARE(cell(4, 7), Tr("Records", "R0051"));
        QCOMPARE(cell(5, 7), Tr("Records", "R0050"));
        QCOMPARE(cell(5, 8), QString());
        for (int row = 0; row < 6; ++row) {
            QVERIFY(!cell(row, 7).isEmpty());
            QVERIFY2(cell(row, 7) != QString::fromStdString(all()[static_cast<std::size_t>(5 - row)].event),
                     "an event name, not its stored word");
        }
        QVERIFY(!cell(1, 8).isEmpty());
        QVERIFY(!cell(1, 8).contains(QStringLiteral("12")));
        if (language == QStringLiteral("chinese")) {
            QCOMPARE(cell(3, 8), QStringLiteral("发射功率（高）"));
            QCOMPARE(cell(0, 7), QStringLiteral("保存项目"));
            QCOMPARE(form.EventBox->itemText(form.EventBox->findData(QStringLiteral("live-change"))),
                     QStringLiteral("修改数值"));
        } else {
            QCOMPARE(cell(3, 8), QStringLiteral("TX Power (High)"));
        }
        OpenLanguage(kLanguageEnglish);
    }

    void withoutAStoreTheViewSaysSo() {
        TestEnvironment env;
        CalibrationRecorder().setStore(nullptr);
        TRecordsForm form;
        QVERIFY(!form.searching());
        QCOMPARE(form.RecordsGrid->rowCount(), 0);
        QVERIFY(form.StoreLabel->text().startsWith(TestEnvironment::text("Records", "R0012")));
        // Recording without a store is silent.
        ui::RecordEntered(nullptr);
        QVERIFY(env.dialogs().messages.isEmpty());
    }

    // Line statistics per station: two stations, three runs; the expected
    // figures are counted by hand from the runs below.
    void statisticsViewShowsTheLinePerStation() {
        TestEnvironment env;
        OpenLanguage(kLanguageEnglish);
        struct Point {
            const char* station;
            const char* run;
            const char* when;
            const char* verdict;
            int tries;
            int retests;
        };
        const Point points[] = {
            {"bench-1", "r1", "2026-12-09T08:00:00.000Z", "pass", 2, 0},
            {"bench-1", "r1", "2026-12-09T08:10:00.000Z", "marginal", 4, 0},
            {"bench-1", "r2", "2026-12-09T08:30:00.000Z", "fail", 6, 0},
            {"bench-1", "r2", "2026-12-09T09:00:00.000Z", "pass", 2, 0},
            {"bench-2", "r3", "2026-12-09T08:00:00.000Z", "pass", 3, 1},
            {"bench-2", "r3", "2026-12-09T08:00:00.000Z", "stopped", 3, 1},
            {"bench-2", "r3", "2026-12-09T08:00:00.000Z", "not-reached", 0, 1},
        };
        for (const Point& p : points) {
            CalibrationRecord r;
            r.uid = NewRecordUid();
            r.session = std::string("s-") + p.run;
            r.runId = p.run;
            r.recordedAt = p.when;
            r.station = "host";
            r.stationId = p.station;
            r.operatorName = "kim";
            r.modelName = "VR-7200";
            r.event = record_event::kAlign;
            r.verdict = p.verdict;
            r.tries = p.tries;
            r.retestCount = p.retests;
            QVERIFY(store_->append(r).ok());
        }
        TRecordsForm view;
        QTRY_VERIFY(!view.searching());
        QCOMPARE(view.StatsButton->text(), TestEnvironment::text("Records", "R0060"));
        view.StatsButtonClick();
        QDialog* stats = view.statsView();
        QVERIFY(stats != nullptr);
        QCOMPARE(stats->windowTitle(), TestEnvironment::text("Records", "R0061"));
        QTRY_VERIFY(stats->property("statsReady").toBool());
        auto* grid = stats->findChild<QTableWidget*>(QStringLiteral("StatsGrid"));
        QCOMPARE(grid->horizontalHeaderItem(4)->text(), TestEnvironment::text("Records", "R0067"));
        QCOMPARE(grid->rowCount(), 2);
        // bench-1: 2 radios in the hour from 08:00 to 09:00, one of two first runs passed, 14 tries on 4 points.
        const QStringList bench1 = {"bench-1", "2", "1.00", "2.0", "50.0% (1/2)", "3.50"};
        // bench-2: one radio, a retest (no first run), 6 tries on the 2 points
        // it came to (the point not reached has none and is no point tried).
        const QStringList bench2 = {"bench-2", "1", "0.00", "-", "-", "3.00"};
        for (int c = 0; c < 6; ++c) {
            QCOMPARE(grid->item(0, c)->text(), bench1[c]);
            QCOMPARE(grid->item(1, c)->text(), bench2[c]);
        }
        // Every point once: passed, marginal, failed, stopped, not reached.
        QCOMPARE(grid->horizontalHeaderItem(6)->text(), TestEnvironment::text("Records", "R0090"));
        QCOMPARE(grid->item(0, 6)->text(), QStringLiteral("2 / 1 / 1 / 0 / 0"));
        QCOMPARE(grid->item(1, 6)->text(), QStringLiteral("1 / 0 / 0 / 1 / 1"));
        // By day: one row for the whole line.
        stats->findChild<QComboBox*>(QStringLiteral("StatsByBox"))->setCurrentIndex(1);
        QTRY_VERIFY(stats->property("statsReady").toBool());
        QCOMPARE(grid->rowCount(), 1);
        QCOMPARE(grid->item(0, 0)->text(), QStringLiteral("2026-12-09"));
        QCOMPARE(grid->item(0, 1)->text(), QStringLiteral("3"));
    }
};

QTEST_MAIN(RecordsViewTest)
#include "records_view_test.moc"
