// The Auto Align window on the virtual radio and the virtual test set: one
// click aligns the radio and shows the report; Stop unkeys; a procedure with
// a mistake is refused before anything is sent.
#include <QAction>
#include <QComboBox>
#include <QDate>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QSignalSpy>
#include <QTest>
#include <QTemporaryDir>
#include <QTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <algorithm>
#include <cmath>

#include "app/RadioStatusBar.h"
#include "app/TMainForm.h"
#include "data/Global.h"
#include "data/ItemTable.h"
#include "dialogs/AlignPlot.h"
#include "dialogs/TAlignForm.h"
#include "protocol/RadioValues.h"
#include "records/Recorder.h"
#include "records/RecordStore.h"
#include "report/ReportPdf.h"
#include "support/TestEnvironment.h"
#include "support/TuningFixture.h"
#include "ui/Records.h"
#include "ui/Selection.h"

using namespace varnel;
using varnel::test::TestEnvironment;

namespace {

QString Tr(const char* key) { return TestEnvironment::text("Align", key); }
QString Tr(const char* section, const char* key) { return TestEnvironment::text(section, key); }

TAlignForm* OpenAlignWindow(TMainForm& form) {
    auto* item = form.findChild<QAction*>(QStringLiteral("AutoAlignItem"));
    if (item == nullptr) return nullptr;
    if (!form.TunerAndTest->actions().contains(item)) return nullptr;
    item->trigger();
    return form.findChild<TAlignForm*>(QStringLiteral("TAlignForm"));
}

// The main window on the environment's virtual radio, shown, with the Auto
// Align window opened from its menu.
TAlignForm* ShowAlignWindow(TMainForm& form, TestEnvironment& env) {
    form.attachVirtualRadio(&env.backend());
    form.show();
    return OpenAlignWindow(form);
}

const char* const kFivePoints = R"({
  "name": "High power only",
  "steps": [
    {"name": "High power 400-470 MHz", "item": 19, "points": [1, 2, 3, 4, 5], "keying": "transmit",
     "setup": "transmit", "measure": "power", "target": 37.0, "tolerance": 0.2, "unit": "dBm",
     "settle_ms": 25}
  ]
}
)";

// The window's count line for a report: each point counted once.
QString CountsText(const AlignReport& report) {
    const PointCounts c = report.counts();
    return Tr("A0061").arg(c.passed).arg(c.marginal).arg(c.failed).arg(c.stopped).arg(c.notReached).arg(c.total());
}

}  // namespace

class AlignWindowTest : public QObject {
    Q_OBJECT
private slots:
    void oneClickAlignsTheVirtualRadio();
    void stopUnkeys();
    void badProcedureIsRefusedWithItsLine();
    void stopPutsThePointBackAndSaysStopped();
    void keyedTuningWindowRefusesTheRun();
    void scannedSerialMustMatchThePattern();
    void overdueInstrumentWarnsOrIsRefused();
    void reportButtonWritesThePdfOfTheRun();
    void laterRadioStartsFromTheRadiosBefore();
    void driftOfTheLineRaisesTheAlarm();
    void stoppedStepKeepsItsPassedPointsInTheRadio();
    void exitTuningAsksAboutValuesTheRunLeftUnsaved();
};

namespace {

// Every line of the window's log.
QStringList LogLines(const TAlignForm& align) {
    QStringList lines;
    for (int i = 0; i < align.LogList->count(); ++i) lines << align.LogList->item(i)->text();
    return lines;
}

bool LogHas(const TAlignForm& align, const QString& text) {
    for (const QString& line : LogLines(align))
        if (line.endsWith(text)) return true;
    return false;
}

}  // namespace

void AlignWindowTest::oneClickAlignsTheVirtualRadio() {
    TestEnvironment env(VirtualPreset::LargeNewFirmware);
    TMainForm form;
    TAlignForm* align = ShowAlignWindow(form, env);
    QVERIFY(align != nullptr);
    QVERIFY(align->isVisible());
    QCOMPARE(align->windowTitle(), Tr("A0003"));
    QCOMPARE(align->InstrumentBox->currentText(), QStringLiteral("virtual"));
    QVERIFY(align->ProcedureBox->currentText().endsWith(QStringLiteral("large.json")));

    QSignalSpy finished(align, &TAlignForm::runFinished);
    QTest::mouseClick(align->RunButton, Qt::LeftButton);
    QCOMPARE(finished.count(), 1);

    // Tuner mode was entered through the main window, and left keyed nowhere.
    QVERIFY(inTunerMode);
    QVERIFY(!env.radio().transmitting());
    QVERIFY(!env.radio().receiving());
    const AlignReport& report = align->lastReport();
    QVERIFY2(report.complete(), report.error.text().c_str());
    QCOMPARE(report.failed(), 0);
    QCOMPARE(align->ResultTable->rowCount(), static_cast<int>(report.points.size()));
    QVERIFY(align->ResultTable->rowCount() >= 40);
    for (int row = 0; row < align->ResultTable->rowCount(); ++row) {
        const PointResult& p = report.points[static_cast<std::size_t>(row)];
        QCOMPARE(align->ResultTable->item(row, 6)->text(), Tr(MarginalPass(p) ? "A0062" : "A0018"));
    }
    for (int row = 0; row < align->StepTable->rowCount(); ++row) {
        auto* bar = qobject_cast<QProgressBar*>(align->StepTable->cellWidget(row, 1));
        QVERIFY(bar != nullptr);
        QCOMPARE(bar->value(), bar->maximum());
    }
    QCOMPARE(align->StatusLabel->text(), Tr("A0060").arg(CountsText(report)));
    QCOMPARE(report.counts().passed + report.counts().marginal, static_cast<int>(report.points.size()));
    // The chart shows the tries of the last point.
    QCOMPARE(align->ChartView->tryCount(), report.points.back().tries);
    // The target across the whole value range, and values on whole numbers.
    QCOMPARE(align->ChartView->target(), report.points.back().target);
    QCOMPARE(align->ChartView->targetLine()->dataCount(), 2);
    QCOMPARE(align->ChartView->targetLine()->data()->at(0)->value, report.points.back().target);
    QCOMPARE(align->ChartView->targetLine()->data()->at(1)->key, 255.0);
    align->ChartView->replot();
    const QVector<double> ticks = align->ChartView->xAxis->tickVector();
    QVERIFY(!ticks.isEmpty());
    for (int i = 0; i < ticks.size(); ++i) {
        QCOMPARE(ticks[i], std::round(ticks[i]));
        QCOMPARE(align->ChartView->xAxis->tickVectorLabels()[i], QString::number(std::lround(ticks[i])));
    }
    // The values are in the radio's flash: item 19, point 1 (byte 188).
    QCOMPARE(static_cast<int>(env.radio().storedImage()[188]), report.points.front().finalValue);
    if (!qEnvironmentVariableIsEmpty("VARNEL_ALIGN_GRAB")) align->grab().save(qEnvironmentVariable("VARNEL_ALIGN_GRAB"));
    align->close();
}

void AlignWindowTest::stopUnkeys() {
    TestEnvironment env(VirtualPreset::Variant0);
    env.writeFile(QStringLiteral("five.json"), kFivePoints);
    TMainForm form;
    TAlignForm* align = ShowAlignWindow(form, env);
    QVERIFY(align != nullptr);
    align->ProcedureBox->setEditText(env.filePath(QStringLiteral("five.json")));
    // Stop on the second reading of the second point, while the transmitter is keyed.
    bool keyedWhenStopped = false;
    connect(align->ChartView, &AlignPlot::tryAdded, align, [&](int index) {
        if (index == 1 && align->ResultTable->rowCount() == 1 && align->running()) {
            keyedWhenStopped = env.radio().transmitting();
            QTest::mouseClick(align->StopButton, Qt::LeftButton);
        }
    });
    QTest::mouseClick(align->RunButton, Qt::LeftButton);
    QVERIFY(!align->running());
    QVERIFY(keyedWhenStopped);
    QVERIFY(align->lastReport().stopped);
    QVERIFY(!env.radio().transmitting());
    QVERIFY(align->lastReport().points.size() < 5u);
    QCOMPARE(align->StatusLabel->text(), Tr("A0025") + QStringLiteral("; ") + CountsText(align->lastReport()));
    QVERIFY(align->RunButton->isEnabled());
    QVERIFY(!align->StopButton->isEnabled());
}

void AlignWindowTest::badProcedureIsRefusedWithItsLine() {
    TestEnvironment env(VirtualPreset::Variant0);
    QByteArray text(kFivePoints);
    text.replace("\"tolerance\": 0.2", "\"tolerance\": 0");
    env.writeFile(QStringLiteral("bad.json"), text);
    TMainForm form;
    form.attachVirtualRadio(&env.backend());
    TAlignForm* align = OpenAlignWindow(form);
    QVERIFY(align != nullptr);
    align->ProcedureBox->setEditText(env.filePath(QStringLiteral("bad.json")));
    env.radio().clearReceivedFrames();
    QTest::mouseClick(align->RunButton, Qt::LeftButton);
    QCOMPARE(env.dialogs().messages.size(), 1);
    QVERIFY2(env.dialogs().messages.first().text.contains(QStringLiteral("bad.json:5:")),
             qPrintable(env.dialogs().messages.first().text));
    QCOMPARE(env.dialogs().messages.first().kind, ui::MessageKind::Error);
    QVERIFY(env.radio().receivedFrames().empty());
    QVERIFY(align->RunButton->isEnabled());

    // A number beyond a double, nesting without end, and a model that has
    // not the step's measurement: each refused with its line, the radio
    // untouched.
    QByteArray overflow(kFivePoints);
    overflow.replace("\"target\": 37.0", "\"target\": 1e400");
    env.writeFile(QStringLiteral("overflow.json"), overflow);
    env.writeFile(QStringLiteral("deep.json"), "{\"name\": \"deep\",\n\"steps\": " + QByteArray(50000, '[') +
                                                  QByteArray(50000, ']') + "}");
    env.writeFile(QStringLiteral("five.json"), kFivePoints);
    env.writeFile(QStringLiteral("meter.json"), "{\"name\": \"Voltmeter\", \"identity\": \"VARNEL\",\n"
                                                   "\"measurements\": {\"voltage\": {\"query\": \"MEAS:VOLT?\"}}}");
    struct Case {
        const char* procedure;
        const char* model;
        const char* says;
    };
    for (const Case c : {Case{"overflow.json", "", "overflow.json:5:"}, Case{"deep.json", "", "deep.json:2: arrays and objects nest deeper"},
                         Case{"five.json", "meter.json", "five.json:4: step 1"}}) {
        env.dialogs().messages.clear();
        align->ProcedureBox->setEditText(env.filePath(QString::fromLatin1(c.procedure)));
        align->ModelEdit->setText(*c.model ? env.filePath(QString::fromLatin1(c.model)) : QString());
        QTest::mouseClick(align->RunButton, Qt::LeftButton);
        QCOMPARE(env.dialogs().messages.size(), 1);
        QVERIFY2(env.dialogs().messages.first().text.contains(QString::fromLatin1(c.says)),
                 qPrintable(env.dialogs().messages.first().text));
        QVERIFY(env.radio().receivedFrames().empty());
        QVERIFY(align->RunButton->isEnabled());
    }
}

// The large model's procedure stopped on the second reading of its first
// point: the table says "stopped" (not in the fail colour) with the value the
// point had, the radio and the image hold that value again, the last
// adjustment sent carried it, and the stopped point is in the records.
void AlignWindowTest::stopPutsThePointBackAndSaysStopped() {
    TestEnvironment env(VirtualPreset::LargeNewFirmware);
    TMainForm form;
    form.attachVirtualRadio(&env.backend());
    form.show();
    QTemporaryDir dir;
    Result<std::unique_ptr<RecordStore>> opened =
        OpenSqliteStore((dir.path() + QStringLiteral("/records.sqlite")).toStdString());
    QVERIFY(opened.ok());
    std::shared_ptr<RecordStore> store(std::move(opened.value()));
    CalibrationRecorder().setStore(store);
    TAlignForm* align = OpenAlignWindow(form);
    QVERIFY(align != nullptr);
    QVERIFY(align->ProcedureBox->currentText().endsWith(QStringLiteral("large.json")));
    QList<int> tried;
    connect(align->ChartView, &AlignPlot::tryAdded, align, [&](int index) {
        tried << static_cast<int>(align->ChartView->tries()->data()->at(index)->key);
        if (index == 1 && align->ResultTable->rowCount() == 0 && align->running())
            QTest::mouseClick(align->StopButton, Qt::LeftButton);
    });
    QTest::mouseClick(align->RunButton, Qt::LeftButton);
    QVERIFY(!align->running());
    const AlignReport& report = align->lastReport();
    QVERIFY(report.stopped);
    QCOMPARE(report.points.size(), std::size_t{1});
    const PointResult& p = report.points.front();
    const int before = p.startValue;
    QCOMPARE(tried.size(), 2);
    QVERIFY(tried[1] != before);  // the value had been moved

    // Item 19, point 1: image byte 188.
    QCOMPARE(p.item, 19);
    QCOMPARE(p.point, 1);
    QCOMPARE(static_cast<int>(env.radio().liveImage()[188]), before);
    QCOMPARE(static_cast<int>(tunerImage[188]), before);
    const std::optional<VirtualRadio::LiveSet>& last = env.radio().lastLiveSet();
    QVERIFY(last.has_value());
    QCOMPARE(last->action, static_cast<int>(action::kTransmitOff));
    // The adjustment before the transmit-off put the value back.
    int restored = -1;
    const auto& frames = env.radio().receivedFrames();
    for (auto it = frames.rbegin(); it != frames.rend(); ++it) {
        if (it->size() >= 16 && (*it)[2] == 0x62 && (*it)[6] == action::kValueAdjusted) {
            restored = (*it)[12];
            break;
        }
    }
    QCOMPARE(restored, before);
    QVERIFY(!env.radio().transmitting());

    // The stopped point, then every point the run did not come to.
    QCOMPARE(align->ResultTable->rowCount(), 1 + static_cast<int>(report.notReached.size()));
    for (int row = 1; row < align->ResultTable->rowCount(); ++row)
        QCOMPARE(align->ResultTable->item(row, 6)->text(), Tr("A0064"));
    QTableWidgetItem* result = align->ResultTable->item(0, 6);
    QCOMPARE(result->text(), Tr("A0030"));
    QVERIFY(result->text() != Tr("A0019"));
    QVERIFY(result->foreground().color() != QColor(Qt::red));
    QCOMPARE(align->ResultTable->item(0, 3)->text(), QString::number(before));
    QCOMPARE(align->StatusLabel->text(), Tr("A0025") + QStringLiteral("; ") + CountsText(report));
    auto* bar = qobject_cast<QProgressBar*>(align->StepTable->cellWidget(0, 1));
    QVERIFY(bar != nullptr);
    QCOMPARE(bar->value(), 0);  // nothing of the step was done

    RecordFilter filter;
    filter.event = record_event::kAlign;
    Result<std::vector<CalibrationRecord>> records = store->list(filter);
    CalibrationRecorder().setStore(nullptr);
    QVERIFY(records.ok());
    // The stopped point first (in run order), the rest were not reached.
    QCOMPARE(records->size(), 1 + report.notReached.size());
    std::stable_partition(records->begin(), records->end(),
                          [](const CalibrationRecord& r) { return r.verdict == record_verdict::kStopped; });
    QCOMPARE(QString::fromStdString(records->front().verdict), QStringLiteral("stopped"));
    for (std::size_t i = 1; i < records->size(); ++i)
        QCOMPARE(QString::fromStdString((*records)[i].verdict), QStringLiteral("not-reached"));
    QCOMPARE(records->front().point, 1);
    QCOMPARE(records->front().oldValue, before);
    QCOMPARE(records->front().newValue, before);
    QVERIFY2(records->front().detail.rfind("stopped: ", 0) == 0, records->front().detail.c_str());
    if (!qEnvironmentVariableIsEmpty("VARNEL_ALIGN_GRAB_STOPPED"))
        align->grab().save(qEnvironmentVariable("VARNEL_ALIGN_GRAB_STOPPED"));
    align->close();
}

// With the transmitter keyed in the tuning window the run is refused and
// nothing is sent; unkeyed, the run goes, the tuning window takes no input
// while it runs, and afterwards its captions, the status bar and the radio
// agree that nothing is keyed.
void AlignWindowTest::keyedTuningWindowRefusesTheRun() {
    TestEnvironment env(VirtualPreset::Variant0);
    env.writeFile(QStringLiteral("five.json"), kFivePoints);
    TMainForm form;
    form.attachVirtualRadio(&env.backend());
    form.show();
    QVERIFY(test::EnterTunerMode(form));
    TMDIChild* w = form.tuningWindow;
    QVERIFY(w != nullptr);
    test::KeyPowerPageAtPointFour(*w);
    QVERIFY(txKeyed);
    QVERIFY(env.radio().transmitting());
    auto* keying = w->control<QPushButton>(QStringLiteral("Button1"));
    QCOMPARE(keying->text(), Tr("ChildForm", "C0014"));

    TAlignForm* align = OpenAlignWindow(form);
    QVERIFY(align != nullptr);
    align->ProcedureBox->setEditText(env.filePath(QStringLiteral("five.json")));
    env.radio().clearReceivedFrames();
    env.dialogs().messages.clear();  // entering tuner mode's
    QSignalSpy finished(align, &TAlignForm::runFinished);
    QTest::mouseClick(align->RunButton, Qt::LeftButton);
    QCOMPARE(finished.count(), 0);
    QCOMPARE(env.dialogs().messages.size(), 1);
    QCOMPARE(env.dialogs().messages.first().text, Tr("A0027").arg(Tr("A0031")));
    QVERIFY(env.radio().receivedFrames().empty());
    QVERIFY(env.radio().transmitting());  // the operator's keying, untouched
    QCOMPARE(keying->text(), Tr("ChildForm", "C0014"));

    // Unkeyed in the tuning window, the run goes.
    w->KeyingButtonClick(Page::Power);
    test::SettleVerifyingPolls(*w);
    QVERIFY(!txKeyed);
    QVERIFY(!env.radio().transmitting());
    bool lockedWhileRunning = true;
    bool keyingShown = true;
    int checks = 0;
    connect(align->ChartView, &AlignPlot::tryAdded, align, [&] {
        ++checks;
        lockedWhileRunning = lockedWhileRunning && !w->isEnabled();
        keyingShown = keyingShown && txKeyed == env.radio().transmitting();
    });
    QTest::mouseClick(align->RunButton, Qt::LeftButton);
    QCOMPARE(finished.count(), 1);
    QVERIFY2(align->lastReport().complete(), align->lastReport().error.text().c_str());
    QCOMPARE(align->lastReport().passed(), 5);
    QVERIFY(checks >= 5);
    QVERIFY(lockedWhileRunning);
    QVERIFY(keyingShown);
    QVERIFY(w->isEnabled());
    QVERIFY(!txKeyed);
    QVERIFY(!rxKeyed);
    QVERIFY(!env.radio().transmitting());
    QCOMPARE(keying->text(), Tr("ChildForm", "C0007"));
    form.refreshRadioStatus();
    QCOMPARE(form.RadioStatus->keyingText(), QString());
    align->close();
}

// A scanner types a serial that does not fit the line's pattern: the prompt
// says so, naming the pattern, and asks again; the good one is taken and the
// run goes with it.
void AlignWindowTest::scannedSerialMustMatchThePattern() {
    TestEnvironment env(VirtualPreset::Variant0);
    env.writeSettings("[setup]\r\nlanguage=english\r\n[line]\r\nserialPattern=SN[0-9]{6}\r\nserialExample=SN004200\r\n");
    env.writeFile(QStringLiteral("five.json"), kFivePoints);
    TMainForm form;
    TAlignForm* align = ShowAlignWindow(form, env);
    QVERIFY(align != nullptr);
    align->ProcedureBox->setEditText(env.filePath(QStringLiteral("five.json")));
    CalibrationRecorder().setSerial({});
    // A misscan, a scan of 20,000 characters (said by its length), a good one.
    QStringList typed = {QStringLiteral("SN12"), QString(20000, QLatin1Char('7')), QStringLiteral("SN123456")};
    int prompts = 0;
    std::size_t framesAtPrompt = 0;
    env.radio().clearReceivedFrames();
    env.dialogs().onDialog = [&](QDialog* dialog) {
        if (dialog->objectName() != QStringLiteral("SerialDialog")) return int(QDialog::Rejected);
        ++prompts;
        framesAtPrompt += env.radio().receivedFrames().size();  // asked before the radio is touched
        auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("SerialEdit"));
        if (edit == nullptr || typed.isEmpty()) return int(QDialog::Rejected);
        edit->setText(typed.takeFirst());
        return int(QDialog::Accepted);
    };
    env.dialogs().messages.clear();
    QSignalSpy finished(align, &TAlignForm::runFinished);
    QTest::mouseClick(align->RunButton, Qt::LeftButton);
    QCOMPARE(prompts, 3);
    QCOMPARE(framesAtPrompt, std::size_t{0});
    // One refusal said with the line's example, never the raw pattern
    // (entering tuner mode has its own box), one naming the longest serial
    // taken.
    const QString refusal = Tr("Records", "R0018").arg(QStringLiteral("SN12"), QStringLiteral("SN004200"));
    const QString tooLong = Tr("Records", "R0019").arg(64);
    QVERIFY(tooLong.contains(QStringLiteral("64")));
    int refusals = 0, tooLongs = 0;
    for (const test::RecordedMessage& m : env.dialogs().messages) {
        refusals += m.text == refusal ? 1 : 0;
        tooLongs += m.text == tooLong ? 1 : 0;
        QVERIFY2(!m.text.contains(QStringLiteral("[0-9]")), qPrintable(m.text));
    }
    QCOMPARE(refusals, 1);
    QCOMPARE(tooLongs, 1);
    QCOMPARE(QString::fromStdString(CalibrationRecorder().serial()), QStringLiteral("SN123456"));
    QCOMPARE(finished.count(), 1);
    QVERIFY2(align->lastReport().complete(), align->lastReport().error.text().c_str());
    QCOMPARE(align->lastReport().passed(), 5);
    QVERIFY2(LogHas(*align, Tr("A0035").arg(QStringLiteral("SN123456"))), qPrintable(LogLines(*align).join('\n')));

    // A second run of the same radio: its serial fits, nothing is asked.
    QTest::mouseClick(align->RunButton, Qt::LeftButton);
    QCOMPARE(prompts, 3);
    QCOMPARE(finished.count(), 2);
}

// The instrument's calibration due date from setting.ini: overdue is a
// warning in the window's log and the run goes; in strict mode the run is
// refused before anything is sent to the radio.
void AlignWindowTest::overdueInstrumentWarnsOrIsRefused() {
    const QString yesterday = QDate::currentDate().addDays(-1).toString(Qt::ISODate);
    struct Case {
        const char* name;
        bool strict;
    };
    for (const Case c : {Case{"warns", false}, Case{"strict", true}}) {
        TestEnvironment env(VirtualPreset::Variant0);
        env.writeFile(QStringLiteral("five.json"), kFivePoints);
        env.writeFile(QStringLiteral("fx.csv"), "400,1.5\n470,2.5\n");
        env.writeSettings(QStringLiteral("[setup]\r\nlanguage=english\r\n[fixture]\r\nid=FX-07\r\npathLoss=fx.csv\r\n"
                                         "[instrument]\r\ncalibrationDue=%1\r\n[line]\r\nstrict=%2\r\n")
                              .arg(yesterday)
                              .arg(c.strict ? 1 : 0)
                              .toUtf8());
        TMainForm form;
        TAlignForm* align = ShowAlignWindow(form, env);
        QVERIFY(align != nullptr);
        align->ProcedureBox->setEditText(env.filePath(QStringLiteral("five.json")));
        env.radio().clearReceivedFrames();
        QSignalSpy finished(align, &TAlignForm::runFinished);
        QTest::mouseClick(align->RunButton, Qt::LeftButton);
        if (c.strict) {
            QCOMPARE(finished.count(), 0);
            QCOMPARE(env.dialogs().messages.size(), 1);
            QCOMPARE(env.dialogs().messages.first().text, Tr("A0027").arg(Tr("A0033").arg(yesterday)));
            QVERIFY(env.radio().receivedFrames().empty());
        } else {
            QCOMPARE(finished.count(), 1);
            QVERIFY2(align->lastReport().complete(), align->lastReport().error.text().c_str());
            QVERIFY2(LogHas(*align, Tr("A0032").arg(yesterday)), qPrintable(LogLines(*align).join('\n')));
            // Where the operator looks: the status line and the run's header (in red).
            QVERIFY2(align->StatusLabel->text().contains(Tr("A0052").arg(yesterday)), qPrintable(align->StatusLabel->text()));
            QVERIFY(align->HeaderLabel->property("overdue").toBool());
            QVERIFY2(align->HeaderLabel->text().contains(yesterday + QStringLiteral(" (") + Tr("A0047") + QLatin1Char(')')),
                     qPrintable(align->HeaderLabel->text()));
            QVERIFY(LogHas(*align, Tr("A0034").arg(QStringLiteral("FX-07"), QStringLiteral("400.000:1.50;470.000:2.50"))));
        }
    }
}

// Report: off until the radio has an alignment record; after a run it asks
// for a file through the dialogs and writes the run's page there. A radio
// with a serial is reported by its serial, one without by the run's session.
void AlignWindowTest::reportButtonWritesThePdfOfTheRun() {
    if (!PdfReportsAvailable()) QSKIP("this build has no PDF reports (cairo was not found)");
    if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty()) QSKIP("pdftotext (poppler-utils) missing");
    const char* const serials[] = {"SN-GUI-7", ""};
    for (const char* serial : serials) {
        TestEnvironment env(VirtualPreset::Variant0);
        env.writeFile(QStringLiteral("five.json"), kFivePoints);
        QTemporaryDir dir;
        Result<std::unique_ptr<RecordStore>> opened =
            OpenSqliteStore((dir.path() + QStringLiteral("/records.sqlite")).toStdString());
        QVERIFY(opened.ok());
        CalibrationRecorder().setStore(std::shared_ptr<RecordStore>(std::move(opened.value())));
        CalibrationRecorder().setSerial(serial);
        TMainForm form;
        TAlignForm* align = ShowAlignWindow(form, env);
        QVERIFY(align != nullptr);
        auto* report = align->findChild<QPushButton*>(QStringLiteral("btn_report"));
        QVERIFY(report == align->ReportButton);
        QCOMPARE(report->text(), Tr("Report", "P0031"));
        QVERIFY2(!report->isEnabled(), "no record yet");
        align->ProcedureBox->setEditText(env.filePath(QStringLiteral("five.json")));
        QTest::mouseClick(align->RunButton, Qt::LeftButton);
        QVERIFY2(align->lastReport().complete(), align->lastReport().error.text().c_str());
        QVERIFY(report->isEnabled());

        const QString pdf = dir.path() + QStringLiteral("/radio report.pdf");
        env.dialogs().saveNames << pdf;
        QTest::mouseClick(report, Qt::LeftButton);
        QCOMPARE(env.dialogs().saveFilters.size(), 1);
        QCOMPARE(env.dialogs().saveFilters.front(), Tr("Report", "P0036"));
        QVERIFY2(QFileInfo::exists(pdf), qPrintable(align->StatusLabel->text()));
        QCOMPARE(align->StatusLabel->text(), Tr("Report", "P0034").arg(QDir::toNativeSeparators(pdf)));
        QProcess text;
        text.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
        QVERIFY(text.waitForFinished(30000));
        const QString page = QString::fromUtf8(text.readAllStandardOutput());
        // The serial, else the model the radio named.
        const QString expected = *serial ? QString::fromLatin1(serial) : QString::fromStdString(radioInfo.modelName());
        QVERIFY(!expected.isEmpty());
        QVERIFY2(page.contains(expected), qPrintable(page));
        QVERIFY(page.contains(Tr("Report", "P0001")));
        // Five points of one step, each with its reading.
        for (const PointResult& p : align->lastReport().points)
            QVERIFY2(page.contains(QString::number(*p.reading, 'f', 2)), qPrintable(page));
        // Cancelling the file dialog writes nothing.
        QVERIFY(QFile::remove(pdf));
        QTest::mouseClick(report, Qt::LeftButton);
        QVERIFY(!QFileInfo::exists(pdf));
        align->close();
        CalibrationRecorder().setStore(nullptr);
        CalibrationRecorder().setSerial({});
    }
}

// Stop on the third point of a five-point step: the two points that passed
// are saved in the radio (the save acknowledged before the run ends), the
// stopped one is back at its value, the last two are listed as not
// reached, and the counts say so.
void AlignWindowTest::stoppedStepKeepsItsPassedPointsInTheRadio() {
    TestEnvironment env(VirtualPreset::Variant0);
    env.writeFile(QStringLiteral("five.json"), kFivePoints);
    TMainForm form;
    TAlignForm* align = ShowAlignWindow(form, env);
    QVERIFY(align != nullptr);
    align->ProcedureBox->setEditText(env.filePath(QStringLiteral("five.json")));
    const TunerImage storedBefore = env.radio().storedImage();
    connect(align->ChartView, &AlignPlot::tryAdded, align, [&](int index) {
        if (index == 1 && align->ResultTable->rowCount() == 2 && align->running())
            QTest::mouseClick(align->StopButton, Qt::LeftButton);
    });
    QTest::mouseClick(align->RunButton, Qt::LeftButton);
    const AlignReport& report = align->lastReport();
    QVERIFY(report.stopped);
    QCOMPARE(report.points.size(), std::size_t{3});
    // Item 19 (high power), points 1 to 5: image bytes 188 to 192 of the small model's band 0.
    const std::size_t at = static_cast<std::size_t>(PointByteOfCode(19, 1));
    for (int i = 0; i < 2; ++i) {
        const PointResult& p = report.points[static_cast<std::size_t>(i)];
        QVERIFY(p.pass);
        QCOMPARE(int(env.radio().storedImage()[at + static_cast<std::size_t>(i)]), p.finalValue);
        QCOMPARE(align->ResultTable->item(i, 3)->text(), QString::number(p.finalValue));
    }
    QCOMPARE(env.radio().storedImage()[at + 2], storedBefore[at + 2]);
    QCOMPARE(env.radio().liveImage()[at + 2], storedBefore[at + 2]);
    QCOMPARE(align->ResultTable->rowCount(), 5);
    QCOMPARE(align->ResultTable->item(2, 6)->text(), Tr("A0030"));
    QCOMPARE(align->ResultTable->item(3, 6)->text(), Tr("A0064"));
    QCOMPARE(align->ResultTable->item(4, 6)->text(), Tr("A0064"));
    const PointCounts c = report.counts();
    QCOMPARE(c.passed + c.marginal, 2);
    QCOMPARE(c.failed, 0);
    QCOMPARE(c.stopped, 1);
    QCOMPARE(c.notReached, 2);
    QCOMPARE(align->StatusLabel->text(), Tr("A0025") + QStringLiteral("; ") + CountsText(report));
    // Nothing the radio runs is unsaved: leaving asks nothing.
    QVERIFY(form.tuningWindow != nullptr);
    QVERIFY(form.tuningWindow->unsavedLiveChanges().isEmpty());
    align->close();
}

// A procedure that saves nothing leaves the radio running values it does not
// store: Exit Tuning asks about them as about values moved by hand, and
// "Save" stores them before the radio leaves tuner mode.
void AlignWindowTest::exitTuningAsksAboutValuesTheRunLeftUnsaved() {
    TestEnvironment env(VirtualPreset::Variant0);
    QByteArray text(kFivePoints);
    text.replace("\"points\": [1, 2, 3, 4, 5]", "\"points\": [1, 2], \"save\": \"none\"");
    env.writeFile(QStringLiteral("unsaved.json"), text);
    TMainForm form;
    TAlignForm* align = ShowAlignWindow(form, env);
    QVERIFY(align != nullptr);
    align->ProcedureBox->setEditText(env.filePath(QStringLiteral("unsaved.json")));
    const TunerImage storedBefore = env.radio().storedImage();
    QTest::mouseClick(align->RunButton, Qt::LeftButton);
    const AlignReport& report = align->lastReport();
    QVERIFY2(report.complete(), report.error.text().c_str());
    QCOMPARE(report.points.size(), std::size_t{2});
    const std::size_t at = static_cast<std::size_t>(PointByteOfCode(19, 1));
    QVERIFY(report.points[0].finalValue != storedBefore[at]);
    QCOMPARE(env.radio().storedImage()[at], storedBefore[at]);
    align->close();

    TMDIChild* w = form.tuningWindow;
    QVERIFY(w != nullptr);
    const QStringList unsaved = w->unsavedLiveChanges();
    QCOMPARE(unsaved.size(), 2);
    env.dialogs().messages.clear();
    env.dialogs().answers << ui::MessageResult::Ok;  // Save them
    form.SpeedButton4Click();
    for (int i = 0; i < 2000 && (inTunerMode || form.pollRunning()); ++i) {
        QCoreApplication::processEvents();
        test::RunMainWindowPolls(form, 1);
        for (const char* name : {"SaveTimer", "SaveItemTimer2"}) {
            QTimer* timer = test::TimerOf(*w, name);
            if (!timer->isActive()) continue;
            if (QByteArray(name) == "SaveTimer") w->SaveItemTimer(); else w->SaveItemTimer2Timer();
        }
    }
    QVERIFY(!env.dialogs().messages.isEmpty());
    QCOMPARE(env.dialogs().messages[0].buttons, ui::MessageButtons::SaveDiscardCancel);
    QVERIFY(env.dialogs().messages[0].text.startsWith(Tr("Tuner", "U0001")));
    for (const QString& line : unsaved) QVERIFY2(env.dialogs().messages[0].text.contains(line), qPrintable(line));
    QVERIFY(!inTunerMode);
    QCOMPARE(int(env.radio().storedImage()[at]), report.points[0].finalValue);
    QCOMPARE(int(env.radio().storedImage()[at + 1]), report.points[1].finalValue);
}

QTEST_MAIN(AlignWindowTest)
#include "align_window_test.moc"

// The window learns from the records as the command line does: the first
// radio of a model has no history and each point starts at its own value;
// the next radio of the model starts every point from the first one's final
// value (a history of one radio) and still ends on target.
void AlignWindowTest::laterRadioStartsFromTheRadiosBefore() {
    QTemporaryDir dir;
    Result<std::unique_ptr<RecordStore>> opened =
        OpenSqliteStore((dir.path() + QStringLiteral("/records.sqlite")).toStdString());
    QVERIFY(opened.ok());
    CalibrationRecorder().setStore(std::shared_ptr<RecordStore>(std::move(opened.value())));
    std::vector<int> firstFinals;
    for (const char* serial : {"SN-HIST-1", "SN-HIST-2"}) {
        TestEnvironment env(VirtualPreset::Variant0);
        env.writeFile(QStringLiteral("five.json"), kFivePoints);
        CalibrationRecorder().setSerial(serial);
        TMainForm form;
        TAlignForm* align = ShowAlignWindow(form, env);
        QVERIFY(align != nullptr);
        align->ProcedureBox->setEditText(env.filePath(QStringLiteral("five.json")));
        QTest::mouseClick(align->RunButton, Qt::LeftButton);
        const AlignReport& report = align->lastReport();
        QVERIFY2(report.complete(), report.error.text().c_str());
        QCOMPARE(report.passed(), 5);
        const bool first = firstFinals.empty();
        QVERIFY2(LogHas(*align, Tr(first ? "A0043" : "A0042")), qPrintable(LogLines(*align).join('\n')));
        for (std::size_t i = 0; i < report.points.size(); ++i) {
            const PointResult& p = report.points[i];
            if (first) {
                QCOMPARE(p.historySize, 0);
                QVERIFY(!p.predictedValue.has_value());
                firstFinals.push_back(p.finalValue);
            } else {
                QCOMPARE(p.historySize, 1);
                QVERIFY(p.predictedValue.has_value());
                // Another radio of the same build needs what the first one
                // needed: its first reading passes; the readings' noise may
                // leave it off the middle, which one more try centres, and
                // that radio's offset moves the next predictions by as much
                // (half the tolerance and the noise of two readings, 0.14 dB,
                // is four value steps here).
                QVERIFY2(std::abs(*p.predictedValue - firstFinals[i]) <= 4,
                         qPrintable(QStringLiteral("%1 %2").arg(*p.predictedValue).arg(firstFinals[i])));
                QVERIFY2(p.tries <= 2, qPrintable(QString::number(p.tries)));
                QVERIFY(p.pass);
            }
        }
        align->close();
    }
    CalibrationRecorder().setStore(nullptr);
    CalibrationRecorder().setSerial({});
}

// Twenty radios of the model ended their five points at 60 or 62, the 21st
// at 200; this one needs far more than 62 too (37 dBm is near the top of the
// curve): the line chart of dBm signals again, the line alarm. The window
// says so, the main window's status bar shows it, and the alarm is a record
// of its own.
void AlignWindowTest::driftOfTheLineRaisesTheAlarm() {
    QTemporaryDir dir;
    Result<std::unique_ptr<RecordStore>> opened =
        OpenSqliteStore((dir.path() + QStringLiteral("/records.sqlite")).toStdString());
    QVERIFY(opened.ok());
    std::shared_ptr<RecordStore> store(std::move(opened.value()));
    CalibrationRecorder().setStore(store);
    TestEnvironment env(VirtualPreset::Variant0);
    env.writeFile(QStringLiteral("five.json"), kFivePoints);
    TMainForm form;
    TAlignForm* align = ShowAlignWindow(form, env);
    QVERIFY(align != nullptr);
    align->ProcedureBox->setEditText(env.filePath(QStringLiteral("five.json")));
    QVERIFY(!align->AlarmLabel->isVisible());
    // The history: the model and firmware of the virtual radio, as a run records them.
    const std::string model = env.radio().info().modelName(), firmware = env.radio().info().firmwareVersion();
    for (int radio = 1; radio <= 21; ++radio) {
        for (int point = 1; point <= 5; ++point) {
            CalibrationRecord r;
            r.uid = NewRecordUid();
            r.session = "history-" + std::to_string(radio);
            r.recordedAt = "2026-12-01T08:00:00.000Z";
            r.modelName = model;
            r.firmware = firmware;
            r.serial = "H-" + std::to_string(radio);
            r.event = record_event::kAlign;
            r.item = 19;
            r.band = 0;
            r.point = point;
            r.step = "High power 400-470 MHz";
            r.unit = "dBm";
            r.newValue = radio == 21 ? 200 : radio % 2 == 0 ? 60 : 62;
            r.reading = 37.0;
            r.verdict = "pass";
            r.detail = "pass: history";
            QVERIFY(store->append(r).ok());
        }
    }
    CalibrationRecorder().setSerial("SN-DRIFT");
    QTest::mouseClick(align->RunButton, Qt::LeftButton);
    QVERIFY2(align->lastReport().complete(), align->lastReport().error.text().c_str());
    QVERIFY(align->AlarmLabel->isVisible());
    QVERIFY2(align->AlarmLabel->text().contains(QStringLiteral("dBm: 1 beyond 3 sigma, final values rising")),
             qPrintable(align->AlarmLabel->text()));
    QVERIFY(LogHas(*align, align->AlarmLabel->text()));
    form.refreshRadioStatus();
    QVERIFY2(form.RadioStatus->lineAlarmText().contains(Tr("Status", "S0026")), qPrintable(form.RadioStatus->lineAlarmText()));
    RecordFilter filter;
    filter.event = record_event::kLineAlarm;
    Result<std::vector<CalibrationRecord>> alarms = store->list(filter);
    QVERIFY(alarms.ok());
    QCOMPARE(alarms->size(), std::size_t{1});
    QCOMPARE(QString::fromStdString(alarms->front().flags), QStringLiteral("line-drift"));
    QCOMPARE(QString::fromStdString(alarms->front().serial), QStringLiteral("SN-DRIFT"));
    align->close();
    ui::SetLineAlarm({});
    CalibrationRecorder().setStore(nullptr);
    CalibrationRecorder().setSerial({});
}
