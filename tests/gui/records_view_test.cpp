// Calibration records in the desktop program: the events of a session through
// the main window, the serial-number prompt, live changes, and the records
// view with its filter and CSV export.
#include <QAction>
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
#include "records/Recorder.h"
#include "support/TestEnvironment.h"

using namespace varnel;
using varnel::test::TestEnvironment;

class RecordsViewTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir_;
    std::shared_ptr<RecordStore> store_;

    std::vector<CalibrationRecord> all() {
        auto list = store_->List({});
        if (!list) return {};
        return *list;
    }

private slots:
    void init() {
        auto opened = OpenSqliteStore((dir_.path() + QStringLiteral("/records-%1.sqlite")
                                                         .arg(QString::fromLatin1(QTest::currentTestFunction())))
                                          .toStdString());
        QVERIFY(opened.ok());
        store_ = std::move(*opened);
        CalibrationRecorder().SetStore(store_);
        CalibrationRecorder().SetSerial({});
    }
    void cleanup() {
        CalibrationRecorder().SetStore(nullptr);
        CalibrationRecorder().SetSerial({});
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
        bool shown = false;
        env.dialogs().onDialog = [&](QDialog* dialog) {
            shown = qobject_cast<TRecordsForm*>(dialog) != nullptr;
            return 0;
        };
        entry->trigger();
        QVERIFY(shown);
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
        for (const char* serial : {"SN-1", "SN-2", "SN-1"}) {
            CalibrationRecorder().SetSerial(serial);
            ui::RecordEntered(nullptr);
        }
        ui::RecordWroteAll();  // SN-1
        TRecordsForm form;
        QCOMPARE(form.RecordsGrid->rowCount(), 4);
        QVERIFY(form.StoreLabel->text().contains(QStringLiteral("SQLite")));
        QCOMPARE(form.RecordsGrid->horizontalHeaderItem(6)->text(), TestEnvironment::text("Records", "R0026"));
        form.SerialEdit->setText(QStringLiteral("SN-1"));
        form.SearchButtonClick();
        QCOMPARE(form.RecordsGrid->rowCount(), 3);
        QCOMPARE(form.RecordsGrid->item(0, 6)->text(), QStringLiteral("SN-1"));
        form.EventBox->setCurrentIndex(form.EventBox->findData(QStringLiteral("write-all")));
        form.SearchButtonClick();
        QCOMPARE(form.RecordsGrid->rowCount(), 1);
        QCOMPARE(form.RecordsGrid->item(0, 7)->text(), QStringLiteral("write-all"));

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

    void withoutAStoreTheViewSaysSo() {
        TestEnvironment env;
        CalibrationRecorder().SetStore(nullptr);
        TRecordsForm form;
        QCOMPARE(form.RecordsGrid->rowCount(), 0);
        QVERIFY(form.StoreLabel->text().startsWith(TestEnvironment::text("Records", "R0012")));
        // Recording without a store is silent.
        ui::RecordEntered(nullptr);
        QVERIFY(env.dialogs().messages.isEmpty());
    }
};

QTEST_MAIN(RecordsViewTest)
#include "records_view_test.moc"
