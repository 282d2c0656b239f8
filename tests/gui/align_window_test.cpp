// The Auto Align window on the virtual radio and the virtual test set: one
// click aligns the radio and shows the report; Stop unkeys; a procedure with
// a mistake is refused before anything is sent.
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <cmath>

#include "app/TMainForm.h"
#include "data/Global.h"
#include "dialogs/AlignPlot.h"
#include "dialogs/TAlignForm.h"
#include "support/TestEnvironment.h"

using namespace varnel;
using varnel::test::TestEnvironment;

namespace {

QString Tr(const char* key) { return TestEnvironment::text("Align", key); }

TAlignForm* OpenAlignWindow(TMainForm& form) {
    auto* item = form.findChild<QAction*>(QStringLiteral("AutoAlignItem"));
    if (item == nullptr) return nullptr;
    if (!form.TunerAndTest->actions().contains(item)) return nullptr;
    item->trigger();
    return form.findChild<TAlignForm*>(QStringLiteral("TAlignForm"));
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

}  // namespace

class AlignWindowTest : public QObject {
    Q_OBJECT
private slots:
    void oneClickAlignsTheVirtualRadio();
    void stopUnkeys();
    void badProcedureIsRefusedWithItsLine();
};

void AlignWindowTest::oneClickAlignsTheVirtualRadio() {
    TestEnvironment env(VirtualPreset::LargeNewFirmware);
    TMainForm form;
    form.attachVirtualRadio(&env.backend());
    form.show();
    TAlignForm* align = OpenAlignWindow(form);
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
    QVERIFY2(report.complete(), report.error.Text().c_str());
    QCOMPARE(report.failed(), 0);
    QCOMPARE(align->ResultTable->rowCount(), static_cast<int>(report.points.size()));
    QVERIFY(align->ResultTable->rowCount() >= 40);
    for (int row = 0; row < align->ResultTable->rowCount(); ++row)
        QCOMPARE(align->ResultTable->item(row, 6)->text(), Tr("A0018"));
    for (int row = 0; row < align->StepTable->rowCount(); ++row) {
        auto* bar = qobject_cast<QProgressBar*>(align->StepTable->cellWidget(row, 1));
        QVERIFY(bar != nullptr);
        QCOMPARE(bar->value(), bar->maximum());
    }
    QCOMPARE(align->StatusLabel->text(), Tr("A0024").arg(report.passed()).arg(0));
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
    form.attachVirtualRadio(&env.backend());
    form.show();
    TAlignForm* align = OpenAlignWindow(form);
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
    QCOMPARE(align->StatusLabel->text(), Tr("A0025"));
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
}

QTEST_MAIN(AlignWindowTest)
#include "align_window_test.moc"
