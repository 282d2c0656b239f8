// Calibration records in the desktop program: the events of a session through
// the main window, the serial-number prompt, live changes, and the records
// view with its filter and CSV export.
#include <QAction>
#include <QApplication>
#include <QPointer>
#include <QPushButton>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>
#include <qcustomplot.h>
#include <QToolButton>

#include "ui/Records.h"
#include "app/RadioStatusBar.h"
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
        std::size_t framesAtPrompt = 99;
        env.radio().clearReceivedFrames();
        env.dialogs().onDialog = [&](QDialog* dialog) {
            auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("SerialEdit"));
            if (edit == nullptr) return 0;
            ++asked;
            // Asked before anything is sent to the radio.
            framesAtPrompt = env.radio().receivedFrames().size();
            edit->setText(QStringLiteral("  SN-0077 "));
            return static_cast<int>(QDialog::Accepted);
        };
        QVERIFY(test::EnterTunerMode(form));
        QCOMPARE(asked, 1);
        QCOMPARE(framesAtPrompt, std::size_t{0});
        auto records = all();
        QCOMPARE(records.size(), std::size_t{1});
        QCOMPARE(QString::fromStdString(records[0].serial), QStringLiteral("SN-0077"));
        // Shown while the radio is in tuner mode, and in the backup's name.
        form.refreshRadioStatus();
        QCOMPARE(form.RadioStatus->serialText(), TestEnvironment::text("Status", "S0025") + QStringLiteral(" SN-0077"));
        const QStringList backups =
            QDir(env.defaultDataDirectory() + QStringLiteral("backups")).entryList({QStringLiteral("*.tdb")}, QDir::Files);
        QCOMPARE(backups.size(), 1);
        const QString model = QString::fromStdString(radioInfo.modelName());
        QVERIFY2(backups.first().startsWith(model + QStringLiteral("_SN-0077_")), qPrintable(backups.first()));

        // Skipped: no serial.
        QVERIFY(test::LeaveTunerMode(form));
        env.dialogs().onDialog = [&](QDialog*) { return static_cast<int>(QDialog::Rejected); };
        QVERIFY(test::EnterTunerMode(form));
        records = all();
        QCOMPARE(QString::fromStdString(records.back().event), QStringLiteral("enter"));
        QCOMPARE(QString::fromStdString(records.back().serial), QString());
        form.refreshRadioStatus();
        QCOMPARE(form.RadioStatus->serialText(), QString());
    }

    // A serial that does not fit the line's pattern, with no example set:
    // the refusal says only that it is not the line's format, never the pattern.
    void refusedSerialWithoutAnExampleNamesNoPattern() {
        TestEnvironment env;
        env.writeSettings("[setup]\r\nlanguage=english\r\n[line]\r\nserialPattern=SN[0-9]{4}\r\n");
        TMainForm form;  // reads setting.ini
        QStringList typed = {QStringLiteral(" XX-1 ")};
        env.dialogs().onDialog = [&](QDialog* dialog) {
            auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("SerialEdit"));
            if (edit == nullptr || typed.isEmpty()) return static_cast<int>(QDialog::Rejected);
            edit->setText(typed.takeFirst());
            return static_cast<int>(QDialog::Accepted);
        };
        env.dialogs().messages.clear();
        QVERIFY(!ui::AskRadioSerial(nullptr).has_value());  // refused once, then cancelled
        QCOMPARE(env.dialogs().messages.size(), 1);
        QCOMPARE(env.dialogs().messages.first().text,
                 TestEnvironment::text("Records", "R0082").arg(QStringLiteral("XX-1")));
        QVERIFY(!env.dialogs().messages.first().text.contains(QStringLiteral("[0-9]")));
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
    // The control charts of a model: one chart per step and point, the
    // final values over the radios with the centre line and the 3-sigma
    // limits, the radio that breaks a run rule marked, and the line alarm.
    void controlChartShowsTheModelsPointsAndTheAlarm() {
        TestEnvironment env;
        env.writeSettingsLanguage(QStringLiteral("english"));
        OpenLanguage(kLanguageEnglish);
        // Twenty radios alternate between 150 and 152 (centre 151, MR-bar 2,
        // sigma 1.773, limits 145.68 to 156.32); the 21st and 22nd need 170
        // on both points: beyond 3 sigma twice, the line alarm.
        for (int radio = 1; radio <= 22; ++radio) {
            for (int point = 1; point <= 2; ++point) {
                CalibrationRecord r;
                r.uid = NewRecordUid();
                r.session = "s-" + std::to_string(radio);
                r.runId = "r-" + std::to_string(radio);
                r.recordedAt = "2026-12-09T08:" + std::to_string(10 + radio) + ":0" + std::to_string(point) + ".000Z";
                r.station = "host";
                r.modelName = "VR-7200";
                r.serial = "SN-" + std::to_string(radio);
                r.event = record_event::kAlign;
                r.item = 19;
                r.band = 0;
                r.point = point;
                r.step = "High power";
                r.unit = "dBm";
                r.newValue = radio > 20 ? 170 : (radio % 2 == 0 ? 150 : 152);
                r.reading = radio % 2 == 0 ? 36.99 : 37.01;
                r.limitLow = 36.8;
                r.limitHigh = 37.2;
                r.verdict = "pass";
                QVERIFY(store_->append(r).ok());
            }
        }
        TRecordsForm view;
        QTRY_VERIFY(!view.searching());
        QCOMPARE(view.ChartButton->text(), TestEnvironment::text("Records", "R0090"));
        view.ModelEdit->setText(QStringLiteral("VR-7200"));
        view.ChartButtonClick();
        QDialog* chart = view.chartView();
        QVERIFY(chart != nullptr);
        QTRY_VERIFY(chart->property("chartReady").toBool());
        auto* box = chart->findChild<QComboBox*>(QStringLiteral("ChartPointBox"));
        QVERIFY(box != nullptr);
        QCOMPARE(box->count(), 2);
        QVERIFY2(box->itemText(0).contains(TRecordsForm::itemCaption(19)), qPrintable(box->itemText(0)));
        QVERIFY(box->itemText(0).contains(QStringLiteral("400-470 MHz")));
        auto* plot = chart->findChild<QCustomPlot*>(QStringLiteral("ControlChartPlot"));
        QVERIFY(plot != nullptr);
        // Values, centre line, two limits, the marked radio.
        QCOMPARE(plot->graphCount(), 5);
        QCOMPARE(plot->graph(0)->data()->size(), 22);
        QCOMPARE(plot->graph(1)->data()->at(0)->value, 151.0);
        QVERIFY(std::fabs(plot->graph(2)->data()->at(0)->value - 156.3191) < 1e-3);
        QVERIFY(std::fabs(plot->graph(3)->data()->at(0)->value - 145.6809) < 1e-3);
        QCOMPARE(plot->graph(4)->data()->size(), 2);
        QCOMPARE(plot->graph(4)->data()->at(0)->key, 21.0);
        QCOMPARE(plot->graph(4)->data()->at(1)->key, 22.0);
        // Cpk of the readings (mean 37.0, s about 0.01: far above 1) and the alarm.
        const QString summary = chart->findChild<QLabel*>(QStringLiteral("ChartSummary"))->text();
        QVERIFY(view.drift() != nullptr);
        QCOMPARE(view.drift()->alarms.size(), std::size_t{1});
        QVERIFY2(summary.contains(TestEnvironment::text("Records", "R0101")
                                      .arg(QString::fromStdString(DriftAlarmText(view.drift()->alarms[0])))),
                 qPrintable(summary));
        QVERIFY2(summary.contains(QStringLiteral("Cpk 6.")), qPrintable(summary));
    }

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
        QCOMPARE(grid->horizontalHeaderItem(6)->text(), TestEnvironment::text("Records", "R0110"));
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
