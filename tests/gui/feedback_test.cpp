// What the operator sees of the radio's state: the status bar in every
// state, the loss of the radio while keyed, the keyboard, the decoded log,
// Qt's own texts in Chinese and the chart of the points. Real windows on the
// virtual radio; poll timers are driven by calling their handlers.
#include <QAction>
#include <QApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <cmath>
#include <memory>

#include "ui/FeedbackTexts.h"
#include "app/RadioStatusBar.h"
#include "app/TMainForm.h"
#include "data/Global.h"
#include "ui/Selection.h"
#include "dialogs/TFactroyForm.h"
#include "dialogs/TParamForm.h"
#include "data/ItemTable.h"
#include "lang/Loadlanguage.h"
#include "protocol/Sendcmd.h"
#include "support/TestEnvironment.h"
#include "support/TuningFixture.h"
#include "tuning/HotplugWatch.h"
#include "tuning/PointChart.h"
#include "tuning/TMDIChild.h"
#include "tuning/TuningControls.h"
#include "tuning/TuningFeedback.h"
#include "ui/Plot.h"

using namespace varnel;
using varnel::test::TestEnvironment;

namespace {

QString S(const char* key) { return TestEnvironment::text("Status", key); }
QString Child(const char* key) { return TestEnvironment::text("ChildForm", key); }

// The transmit-power item of band 0 (the low column of sbox_power).
constexpr int kPowerItem = 18;
// Its array: one byte per point from image byte 180 (0xB4) of band half 0.
constexpr int kPowerArray = 0xB4;

const QRegularExpression kTimeOfDay(QStringLiteral(" \\d\\d:\\d\\d:\\d\\d$"));

void RunTimer(QTimer* timer, void (TMDIChild::*tick)(), TMDIChild* w, int max = 400) {
    for (int i = 0; i < max && timer->isActive(); ++i) (w->*tick)();
}

}  // namespace

class FeedbackTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TestEnvironment> env_;

    void useLanguage(const QByteArray& language) {
        env_->writeSettingsLanguage(QString::fromLatin1(language));
    }

    // Keyboard only: Down through the tree until the node of `itemCode` is
    // current, then Enter.
    static bool selectByKeyboard(TMDIChild* w, int itemCode) {
        const QString caption = TestEnvironment::text("TreeView", FindItem(itemCode)->treeKey);
        w->TreeView1()->setFocus(Qt::TabFocusReason);
        for (int i = 0; i < 80; ++i) {
            if (w->TreeView1()->currentItem() != nullptr && w->TreeView1()->currentItem()->text(0) == caption) {
                QTest::keyClick(w->TreeView1(), Qt::Key_Return);
                return true;
            }
            QTest::keyClick(w->TreeView1(), Qt::Key_Down);
        }
        return false;
    }

    // Tuner mode, the power item and point 3, all from the keyboard; the
    // live-sets confirmed.
    TMDIChild* openPowerPointThree(TMainForm& form) {
        if (!test::EnterTunerMode(form)) return nullptr;
        TMDIChild* w = form.tuningWindow;
        RunTimer(test::TimerOf(*w, "TimeOutTimer"), &TMDIChild::TimeOutTimerTimer, w);
        if (!selectByKeyboard(w, kPowerItem)) return nullptr;
        RunTimer(test::TimerOf(*w, "TimeOutTimer"), &TMDIChild::TimeOutTimerTimer, w);
        auto* point3 = w->control<tuning::TPointButton>(QStringLiteral("RadioButton3"));
        point3->setFocus(Qt::TabFocusReason);
        QTest::keyClick(point3, Qt::Key_Space);
        RunTimer(test::TimerOf(*w, "TimeOutTimer"), &TMDIChild::TimeOutTimerTimer, w);
        return w;
    }

    // Factory Settings -> Restore Factory Settings..., agreed: the radio's
    // factory copy comes into the image and the chart.
    bool readFactoryCopy(TMainForm& form) {
        bool read = false;
        env_->dialogs().onDialog = [&](QDialog* dialog) {
            auto* f = qobject_cast<TFactroyForm*>(dialog);
            if (f == nullptr) return int(QDialog::Rejected);
            f->show();
            QTest::mouseClick(f->Button1, Qt::LeftButton);
            for (int i = 0; i < 200 && f->ReadFactroyInfoTimer->isActive(); ++i) f->ReadFactroyInfoTimerTimer();
            read = f->ListBox1->count() == 1 && f->ListBox1->item(0)->text() == TestEnvironment::text("Factroy", "F0003");
            f->hide();
            return int(QDialog::Rejected);
        };
        form.N1->trigger();
        env_->dialogs().onDialog = nullptr;
        return read;
    }

    // Every tick of `axis` at a whole number, labelled with that number.
    static bool ticksAreWhole(QCPAxis* axis, QString* why) {
        const QVector<double> ticks = axis->tickVector();
        const QVector<QString> labels = axis->tickVectorLabels();
        if (ticks.isEmpty() || ticks.size() != labels.size()) {
            *why = QStringLiteral("%1 ticks, %2 labels").arg(ticks.size()).arg(labels.size());
            return false;
        }
        for (int i = 0; i < ticks.size(); ++i) {
            if (std::fabs(ticks[i] - std::round(ticks[i])) > 1e-9 ||
                labels[i] != QString::number(static_cast<long long>(std::llround(ticks[i])))) {
                *why = QStringLiteral("tick at %1 labelled \"%2\"").arg(ticks[i], 0, 'f', 3).arg(labels[i]);
                return false;
            }
        }
        return true;
    }

private slots:
    void init() {
        env_ = std::make_unique<TestEnvironment>();
        env_->backend().setPlugListener([](bool) { HotplugWatch::notifyAll(); });
    }
    void cleanup() { env_.reset(); }

    // ---- status bar ---------------------------------------------------------------

    void statusBarInEveryState_data() {
        QTest::addColumn<QByteArray>("language");
        QTest::newRow("english") << QByteArray("english");
        QTest::newRow("chinese") << QByteArray("chinese");
    }
    void statusBarInEveryState() {
        QFETCH(QByteArray, language);
        useLanguage(language);
        TMainForm form;
        QCoreApplication::processEvents();  // the first scan
        app::RadioStatusBar* bar = form.RadioStatus;
        QVERIFY(bar != nullptr);
        QVERIFY(!S("S0002").isEmpty());

        // Attached, not in tuner mode.
        QCOMPARE(bar->linkText(), S("S0002"));
        QCOMPARE(bar->bandText(), S("S0016") + " 400-470 MHz");
        QCOMPARE(bar->keyingText(), QString());
        QCOMPARE(bar->lastActionText(), QString());

        // Tuner mode: model and firmware from the information block.
        TMDIChild* w = openPowerPointThree(form);
        QVERIFY(w != nullptr);
        form.refreshRadioStatus();
        QCOMPARE(bar->linkText(), S("S0003"));
        const QString model = QString::fromStdString(radioInfo.modelName()).trimmed();
        QVERIFY(!model.isEmpty());
        QCOMPARE(bar->modelText(),
                 model + " · " + S("S0004") + " " + QString::fromStdString(radioInfo.firmwareVersion()).trimmed());

        // Keyed: the transmitter indicator.
        w->control<QPushButton>(QStringLiteral("Button1"))->click();
        RunTimer(test::TimerOf(*w, "TimeOutTimer"), &TMDIChild::TimeOutTimerTimer, w);
        form.refreshRadioStatus();
        QVERIFY(txKeyed);
        QCOMPARE(bar->keyingText(), S("S0006"));
        QVERIFY(!bar->showsFailure());

        // Acknowledged save: "Saved <item>, point 3 ✓ hh:mm:ss".
        w->control<QPushButton>(QStringLiteral("Button2"))->click();
        QVERIFY(test::TimerOf(*w, "SaveTimer")->isActive());
        RunTimer(test::TimerOf(*w, "SaveTimer"), &TMDIChild::SaveItemTimer, w);
        // The low column of the pair, named with its column.
        const QString caption = TestEnvironment::text("TreeView", FindItem(kPowerItem)->treeKey) + " (" +
                                TestEnvironment::text("ChildForm", "C0016") + ")";
        const QString saved = S("K0066") + " " + caption + ", " + S("F0002") + " 3 \u2713";
        QVERIFY2(bar->lastActionText().startsWith(saved), qPrintable(bar->lastActionText()));
        QVERIFY(bar->lastActionText().contains(kTimeOfDay));

        // Lost: no radio, the loss in the warning colour.
        env_->unplugRadio();
        w->ConnetTimerTimer();
        QCOMPARE(bar->linkText(), S("S0001"));
        QVERIFY(bar->showsFailure());
        QVERIFY2(bar->lastActionText().startsWith("\u26A0 " + S("S0008")), qPrintable(bar->lastActionText()));
        QCOMPARE(bar->keyingText(), QString());

        // Back, and a success ends the warning.
        env_->plugRadio();
        w->ConnetTimerTimer();
        QVERIFY(form.radioPresent());
        QVERIFY(test::EnterTunerMode(form));
        QVERIFY(!bar->showsFailure());
        QVERIFY(bar->lastActionText().startsWith(S("K0060") + " \u2713"));
    }

    void noRadioAndAnUnansweredEntry() {
        env_->setRadioPresent(false);
        TMainForm form;
        QCoreApplication::processEvents();
        QCOMPARE(form.RadioStatus->linkText(), S("S0001"));
        env_->setRadioPresent(true);
        env_->radio().setFault(Fault::NoAnswer);
        form.SpeedButton4Click();
        test::RunMainWindowPolls(form);
        QVERIFY(form.RadioStatus->showsFailure());
        QVERIFY(form.RadioStatus->lastActionText().startsWith("\u26A0 " + S("S0009")));
        // The note of panel 1 comes from the language file now.
        QCOMPARE(form.statusPanelText(1), S("S0009"));
    }

    void expertModeIsShown() {
        app::StartupOptions options;
        options.expertMode = true;
        TMainForm form(options);
        form.refreshRadioStatus();
        QCOMPARE(form.RadioStatus->expertText(), S("S0005"));
    }

    // ---- loss of the radio while keyed ----------------------------------------------

    void unplugWhileKeyed_data() { statusBarInEveryState_data(); }
    void unplugWhileKeyed() {
        QFETCH(QByteArray, language);
        useLanguage(language);
        TMainForm form;
        TMDIChild* w = openPowerPointThree(form);
        QVERIFY(w != nullptr);
        auto* keying = w->control<QPushButton>(QStringLiteral("Button1"));
        keying->click();
        RunTimer(test::TimerOf(*w, "TimeOutTimer"), &TMDIChild::TimeOutTimerTimer, w);
        QCOMPARE(keying->text(), Child("C0014"));
        QVERIFY(form.N1->isEnabled());
        const int logLines = w->ListBox1()->count();
        const int messages = env_->dialogs().messages.size();  // M001 at entry

        env_->unplugRadio();
        QVERIFY(test::TimerOf(*w, "ConnetTimer")->isActive());
        w->ConnetTimerTimer();

        // Said without blocking: notice, status bar, log.
        QCOMPARE(env_->dialogs().messages.size(), messages);
        QVERIFY(!w->feedback()->notice()->isHidden());
        QCOMPARE(w->feedback()->notice()->text(), S("S0010"));
        QCOMPARE(form.StatusBar1->currentMessage(), S("S0010"));
        QCOMPARE(w->ListBox1()->count(), logLines + 1);
        QVERIFY(w->ListBox1()->item(logLines)->text().endsWith("  " + S("S0010")));
        // Keying ends and its caption with it.
        QVERIFY(!txKeyed);
        QCOMPARE(keying->text(), Child("C0007"));
        QVERIFY(!test::TimerOf(*w, "CheckTimer")->isActive());
        // Everything that needs the radio is disabled.
        for (const char* name : {"Button1", "Button2", "Button3", "Button4", "Button7", "Button8", "Button9",
                                 "Button10", "Button13", "Button15", "Button16", "Button19", "Button20", "Edit9"}) {
            QVERIFY2(!w->control<QWidget>(QString::fromLatin1(name))->isEnabled(), name);
        }
        QVERIFY(!form.N1->isEnabled());
        // The next ticks say nothing more.
        w->ConnetTimerTimer();
        QCOMPARE(w->ListBox1()->count(), logLines + 1);

        env_->plugRadio();
        w->ConnetTimerTimer();
        QVERIFY(!test::TimerOf(*w, "ConnetTimer")->isActive());
        QCOMPARE(w->feedback()->notice()->text(), S("S0015"));
        QCOMPARE(w->ListBox1()->count(), logLines + 2);
    }

    void unansweredManDownSaveGivesPageAdvice() {
        TMainForm form;
        QVERIFY(test::EnterTunerMode(form));
        TMDIChild* w = form.tuningWindow;
        RunTimer(test::TimerOf(*w, "TimeOutTimer"), &TMDIChild::TimeOutTimerTimer, w);
        QVERIFY(selectByKeyboard(w, 27));
        RunTimer(test::TimerOf(*w, "TimeOutTimer"), &TMDIChild::TimeOutTimerTimer, w);
        env_->radio().setFault(Fault::NoAnswer);
        w->control<QPushButton>(QStringLiteral("Button16"))->click();
        RunTimer(test::TimerOf(*w, "SaveTimer"), &TMDIChild::SaveItemTimer, w, 1000);
        QCOMPARE(env_->dialogs().messages.size(), 2);  // M001 at entry, then this one
        const QString text = env_->dialogs().messages.last().text;
        QVERIFY(text.startsWith(TestEnvironment::text("MessageBox", "M013")));
        QVERIFY(text.endsWith(S("S0013")));
        QVERIFY(form.RadioStatus->showsFailure());
        QVERIFY(form.RadioStatus->lastActionText().startsWith("\u26A0 " + S("S0011") + ": " + S("D0066")));
    }

    // ---- keyboard ----------------------------------------------------------------

    void keyboardSelectsItemAndPoint() {
        TMainForm form;
        form.show();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        TMDIChild* w = openPowerPointThree(form);
        QVERIFY(w != nullptr);
        QCOMPARE(currentItem, kPowerItem);
        QCOMPARE(w->frontPage(), w->page(Page::Power));
        QCOMPARE(currentPoint, 3);
        auto* point3 = w->control<tuning::TPointButton>(QStringLiteral("RadioButton3"));
        QVERIFY(point3->isChecked());
        QVERIFY(point3->focusPolicy() & Qt::TabFocus);
        QVERIFY(w->control<QWidget>(QStringLiteral("Edit9"))->isEnabled());
        QVERIFY(!w->control<QWidget>(QStringLiteral("Edit10"))->isEnabled());
        const auto live = env_->radio().lastLiveSet();
        QVERIFY(live.has_value());
        QCOMPARE(live->item, kPowerItem);
        QCOMPARE(live->point, 3);
        // The selection hands the focus to the row's first value edit; the
        // focused control has the ring around it.
        auto* edit9 = w->control<QWidget>(QStringLiteral("Edit9"));
        QCOMPARE(QApplication::focusWidget(), edit9);
        auto* ring = w->findChild<QWidget*>(QStringLiteral("FocusRing"));
        QVERIFY(ring != nullptr);
        QVERIFY(ring->isVisible());
        QCOMPARE(ring->parentWidget(), edit9->parentWidget());
        QVERIFY(ring->geometry().contains(edit9->geometry()));

        // Enter on point 4 selects it as well.
        auto* point4 = w->control<tuning::TPointButton>(QStringLiteral("RadioButton4"));
        point4->setFocus(Qt::TabFocusReason);
        QCOMPARE(ring->parentWidget(), point4->parentWidget());
        QVERIFY(ring->geometry().contains(point4->geometry()));
        QTest::keyClick(point4, Qt::Key_Return);
        QCOMPARE(currentPoint, 4);
        QVERIFY(w->control<QWidget>(QStringLiteral("Edit10"))->isEnabled());
        QVERIFY(!w->control<QWidget>(QStringLiteral("Edit9"))->isEnabled());
    }

    void singleClickKeepsTheLivePointChecked() {
        TMainForm form;
        TMDIChild* w = openPowerPointThree(form);
        QVERIFY(w != nullptr);
        auto* point3 = w->control<tuning::TPointButton>(QStringLiteral("RadioButton3"));
        auto* point4 = w->control<tuning::TPointButton>(QStringLiteral("RadioButton4"));
        point4->click();
        QVERIFY(point3->isChecked());
        QVERIFY(!point4->isChecked());
        QCOMPARE(currentPoint, 3);
        QVERIFY(w->control<QWidget>(QStringLiteral("Edit9"))->isEnabled());
        QVERIFY(!w->control<QWidget>(QStringLiteral("Edit10"))->isEnabled());
    }

    // ---- the decoded log ------------------------------------------------------------

    void logDecodesEveryCommand() {
        TMainForm form;
        TMDIChild* w = openPowerPointThree(form);
        QVERIFY(w != nullptr);
        w->control<QPushButton>(QStringLiteral("Button2"))->click();  // save
        RunTimer(test::TimerOf(*w, "SaveTimer"), &TMDIChild::SaveItemTimer, w);
        form.SpeedButton1Click();  // write all
        test::RunMainWindowPolls(form);
        QVERIFY(test::LeaveTunerMode(form));

        QStringList decoded;
        for (int i = 0; i < w->ListBox1()->count(); ++i) decoded << w->ListBox1()->item(i)->data(tuning::TuningLog::kDecodedRole).toString();
        const QString dot = QStringLiteral(" \u00B7 ");
        // The low column of the pair, named with its column.
        const QString caption = TestEnvironment::text("TreeView", FindItem(kPowerItem)->treeKey) + " (" +
                                TestEnvironment::text("ChildForm", "C0016") + ")";
        const QString freq = QString::fromStdString(FormatMegahertz(txFrequency(2)));
        const int value = tunerImage[kPowerArray + 2];
        const QStringList expected = {
            S("D0001") + dot + S("D0003"),
            S("D0002") + dot + S("D0003") + dot + "256 " + S("F0005") + ", " + S("F0010"),
            S("D0001") + dot + S("D0060"),
            S("D0002") + dot + S("D0060") + dot + "512 " + S("F0005") + ", " + S("F0010"),
            S("D0001") + dot + S("D0062") + dot + caption + dot + "400-470 MHz" + dot + S("A0001") + dot + S("F0002") +
                " 3" + dot + freq + " MHz" + dot + S("F0003") + " " + QString::number(value),
            S("D0001") + dot + S("D0066") + dot + caption + dot + "400-470 MHz" + dot + "16 " + S("F0005"),
            S("D0002") + dot + S("D0066") + dot + S("F0010"),
            S("D0001") + dot + S("D0063") + dot + "512 " + S("F0005"),
            S("D0002") + dot + S("D0063") + dot + S("F0010"),
            S("D0001") + dot + S("D0061"),
            S("D0002") + dot + S("D0061") + dot + S("F0010"),
        };
        for (const QString& line : expected) QVERIFY2(decoded.contains(line), qPrintable(line + "\n in \n" + decoded.join('\n')));
        // The hexadecimal line itself is unchanged: time, label, bytes.
        QVERIFY(w->ListBox1()->item(0)->text().contains("  " + Child("C0021") + ":   A1  00  03  00  00  00  00  A4  "));
    }

    void logRepliesWithReadingsAndBadFrames() {
        TMainForm form;
        QVERIFY(test::EnterTunerMode(form));
        TMDIChild* w = form.tuningWindow;
        const std::uint8_t ber[] = {0xA1, 0x80, 0x62, 0x00, 0x09, 22, 0, 0, 0, 1, 0, 0, 0, 1, 0x00, 0x18, 0xA4};
        w->LogFrame(ber, sizeof ber, 1);
        const QString dot = QStringLiteral(" \u00B7 ");
        QCOMPARE(w->ListBox1()->item(w->ListBox1()->count() - 1)->data(tuning::TuningLog::kDecodedRole).toString(),
                 S("D0002") + dot + S("D0062") + dot + TestEnvironment::text("TreeView", FindItem(22)->treeKey) + dot +
                     "400-470 MHz" + dot + "264 " + S("F0008") + ", 1 " + S("F0009"));
        const std::uint8_t bad[] = {0xA1, 0x80, 0x62, 0x00, 0x01, 0x00, 0x00, 0x01, 0xA4};
        w->LogFrame(bad, sizeof bad, 1);
        QVERIFY(w->ListBox1()->item(w->ListBox1()->count() - 1)->data(tuning::TuningLog::kDecodedRole).toString().endsWith(S("F0011")));
    }

    void logTimeFollowsTheInterfaceLanguage() {
        useLanguage("chinese");
        TMainForm form;
        QVERIFY(test::EnterTunerMode(form));
        const QString line = form.tuningWindow->ListBox1()->item(0)->text();
        const QString expectedStart = ui::InterfaceLocale().toString(QDate::currentDate(), QLocale::ShortFormat);
        QVERIFY2(line.startsWith(expectedStart), qPrintable(line));
        QCOMPARE(ui::InterfaceLocale().language(), QLocale::Chinese);
    }

    void clearingAsksFirstAndCsvIsOffered() {
        TMainForm form;
        QVERIFY(test::EnterTunerMode(form));
        TMDIChild* w = form.tuningWindow;
        const int lines = w->ListBox1()->count();
        QVERIFY(lines >= 4);
        env_->dialogs().answers << ui::MessageResult::Cancel;
        w->C1()->trigger();
        QCOMPARE(env_->dialogs().messages.size(), 2);  // M001, then the question
        QCOMPARE(env_->dialogs().messages.last().text, S("S0014"));
        QCOMPARE(env_->dialogs().messages.last().buttons, ui::MessageButtons::OkCancel);
        QCOMPARE(w->ListBox1()->count(), lines);

        env_->dialogs().saveNames << env_->filePath("log.csv");
        w->S1()->trigger();
        QCOMPARE(env_->dialogs().saveFilters.last(), QString("TET Files (*.txt)| *.txt|") + TestEnvironment::text("Files", "CsvFilter"));
        const QByteArray csv = env_->readFile("log.csv");
        QVERIFY(csv.startsWith("\xEF\xBB\xBF" + (S("H0001") + "," + S("H0002") + "," + S("H0003")).toUtf8()));
        QCOMPARE(csv.count("\r\n"), lines + 1);
        const QList<QByteArray> rows = csv.split('\n');
        QVERIFY(rows[1].contains(("," + S("D0001") + "," + S("D0003") + ",").toUtf8()));
        QVERIFY(rows[1].trimmed().endsWith("A4"));

        env_->dialogs().answers << ui::MessageResult::Ok;
        w->C1()->trigger();
        QCOMPARE(w->ListBox1()->count(), 0);
    }

    // ---- Qt's own texts in Chinese --------------------------------------------------

    void chineseStandardButtons() {
        TMainForm form;
        QCoreApplication::processEvents();  // the first scan
        QDialogButtonBox english(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
        QCOMPARE(english.button(QDialogButtonBox::Cancel)->text(), QString("Cancel"));
        form.N8Click();
        QDialogButtonBox chinese(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Save);
        QCOMPARE(chinese.button(QDialogButtonBox::Cancel)->text(), QString::fromUtf8("取消"));
        QCOMPARE(chinese.button(QDialogButtonBox::Save)->text(), QString::fromUtf8("保存"));
        QCOMPARE(form.RadioStatus->linkText(), TestEnvironment::text("Status", "S0002"));
        form.English1Click();
        QDialogButtonBox back(QDialogButtonBox::Cancel);
        QCOMPARE(back.button(QDialogButtonBox::Cancel)->text(), QString("Cancel"));
    }

    void openFailureReasonIsTranslated() {
        OpenLanguage(kLanguageChinese);
        OpenError error;
        error.kind = OpenError::Kind::PermissionDenied;
        error.device = "/dev/sg3";
        QCOMPARE(ui::OpenFailureReason(error), S("O0002") + " (/dev/sg3)");
        error.kind = OpenError::Kind::NoRadio;
        QCOMPARE(ui::OpenFailureReason(error), S("O0001"));
    }

    // ---- the chart ------------------------------------------------------------------

    // "This radio" is what the radio runs: after a factory read the program's
    // copy holds the factory values while the radio still runs its own; the
    // chart draws both and names the copy; once the radio is lost nothing is
    // drawn as the radio, and the copy says the radio's values are not known.
    void chartShowsWhatTheRadioRunsAndNamesTheProgramsCopy() {
        TMainForm form;
        TMDIChild* w = openPowerPointThree(form);
        QVERIFY(w != nullptr);
        tuning::PointChart* chart = w->feedback()->chart();
        const int runs = env_->radio().liveImage()[kPowerArray + 2];
        // The factory copy differs from what the radio runs at this point.
        TunerImage factory = env_->radio().factoryImage();
        factory[kPowerArray + 2] = static_cast<std::uint8_t>(runs ^ 0x21);
        env_->radio().setFactoryImage(factory);
        chart->refresh();
        QVERIFY(chart->programCopyValues().isEmpty());  // nothing differs yet
        QVERIFY(readFactoryCopy(form));
        QCOMPARE(int(tunerImage[kPowerArray + 2]), runs ^ 0x21);
        chart->refresh();
        QVERIFY(chart->radioKnown());
        QCOMPARE(chart->currentValues().first()[2], QPointF(3, runs));
        QVERIFY(!chart->programCopyValues().isEmpty());
        QCOMPARE(chart->programCopyValues().first()[2], QPointF(3, runs ^ 0x21));
        const auto named = [chart](const QString& name) {
            for (int i = 0; i < chart->plot()->graphCount(); ++i)
                if (chart->plot()->graph(i)->name() == name) return true;
            return false;
        };
        // What the radio runs, one line per column of the pair ("Low Level"),
        // and the program's copy beside it.
        const QString runsLow = TestEnvironment::text("ChildForm", "C0016");
        QVERIFY(named(runsLow));
        QVERIFY(named(S("S0050")));

        env_->unplugRadio();
        w->ConnetTimerTimer();
        QVERIFY(!inTunerMode);
        chart->refresh();
        QVERIFY(!chart->radioKnown());
        QVERIFY(chart->currentValues().isEmpty());
        QCOMPARE(chart->programCopyValues().first()[2], QPointF(3, runs ^ 0x21));
        QVERIFY(named(S("S0051")));
        QVERIFY(!named(runsLow));
    }

    void chartFollowsALiveChange() {
        TMainForm form;
        TMDIChild* w = openPowerPointThree(form);
        QVERIFY(w != nullptr);
        tuning::PointChart* chart = w->feedback()->chart();
        QVERIFY(chart != nullptr);
        chart->refresh();
        QCOMPARE(chart->shownItem(), kPowerItem);
        // The power pair: the low column (item 18) and the high one (item 19).
        QCOMPARE(chart->currentValues().size(), 2);
        const QList<QPointF> low = chart->currentValues().first();
        QCOMPARE(low.size(), 5);
        const int before = tunerImage[kPowerArray + 2];
        QCOMPARE(low[2], QPointF(3, before));

        const int after = before > 200 ? before - 17 : before + 17;
        auto* edit = w->control<QLineEdit>(QStringLiteral("Edit9"));
        edit->setText(QString::number(after));
        QTest::keyClick(edit, Qt::Key_Return);
        RunTimer(test::TimerOf(*w, "TimeOutTimer"), &TMDIChild::TimeOutTimerTimer, w);
        QCOMPARE(int(tunerImage[kPowerArray + 2]), after);
        chart->refresh();
        QCOMPARE(chart->currentValues().first()[2], QPointF(3, after));
        // The reference (the image at entry, no backup here) keeps the old value.
        QCOMPARE(chart->referenceValues().first()[2], QPointF(3, before));
        QVERIFY(!chart->hasFactory());
    }

    void chartReferenceIsTheNewestBackupOfTheModel() {
        // A backup of this model whose power point 3 differs from the radio.
        QByteArray archive(static_cast<qsizetype>(1104), '\0');
        const RadioInfo info = VirtualPresetInfo(VirtualPreset::Variant0);
        std::copy(info.bytes.begin(), info.bytes.end(), archive.begin());
        TunerImage image = VirtualPresetImage(VirtualPreset::Variant0);
        image[kPowerArray + 2] = static_cast<std::uint8_t>(image[kPowerArray + 2] ^ 0x55);
        std::copy(image.bytes.begin(), image.bytes.end(), archive.begin() + 256);
        QDir().mkpath(env_->defaultDataDirectory() + "backups");
        env_->writeFile("Default Data/backups/old.tdb", archive);
        // A newer backup of exactly the image the radio holds (as entry makes
        // one) is passed over: it would show nothing.
        QByteArray same = archive;
        const TunerImage radioImage = VirtualPresetImage(VirtualPreset::Variant0);
        std::copy(radioImage.bytes.begin(), radioImage.bytes.end(), same.begin() + 256);
        env_->writeFile("Default Data/backups/new.tdb", same);
        QFile older(env_->filePath("Default Data/backups/old.tdb"));
        QVERIFY(older.open(QIODevice::ReadWrite));
        QVERIFY(older.setFileTime(QDateTime::currentDateTime().addSecs(-3600), QFileDevice::FileModificationTime));
        older.close();

        TMainForm form;
        TMDIChild* w = openPowerPointThree(form);
        QVERIFY(w != nullptr);
        tuning::PointChart* chart = w->feedback()->chart();
        chart->refresh();
        QCOMPARE(chart->referenceValues().first()[2], QPointF(3, image[kPowerArray + 2]));
        QVERIFY(chart->currentValues().first()[2] != chart->referenceValues().first()[2]);
    }

    // The axes name the values they stand at: points 1 to 5 on the power
    // item, and only whole values on the value axis, whatever the range the
    // values give (a tick at 100.5 once read "100").
    void chartTicksSitOnWholeNumbers_data() {
        QTest::addColumn<int>("step");
        for (int step : {0, 1, 3, 7, 17, 60}) QTest::newRow(qPrintable(QString::number(step))) << step;
    }
    void chartTicksSitOnWholeNumbers() {
        QFETCH(int, step);
        TMainForm form;
        form.show();
        TMDIChild* w = openPowerPointThree(form);
        QVERIFY(w != nullptr);
        tuning::PointChart* chart = w->feedback()->chart();
        const int before = tunerImage[kPowerArray + 2];
        const int value = before > 127 ? before - step : before + step;
        if (step != 0) {
            auto* edit = w->control<QLineEdit>(QStringLiteral("Edit9"));
            edit->setText(QString::number(value));
            QTest::keyClick(edit, Qt::Key_Return);
            RunTimer(test::TimerOf(*w, "TimeOutTimer"), &TMDIChild::TimeOutTimerTimer, w);
        }
        QCOMPARE(int(tunerImage[kPowerArray + 2]), value);
        chart->refresh();
        chart->plot()->replot();
        QCOMPARE(chart->plot()->xAxis->tickVector(), (QVector<double>{1, 2, 3, 4, 5}));
        QCOMPARE(chart->plot()->xAxis->tickVectorLabels(), (QVector<QString>{"1", "2", "3", "4", "5"}));
        QString why;
        QVERIFY2(ticksAreWhole(chart->plot()->yAxis, &why), qPrintable(why));
        // The value just set lies inside the value axis.
        QVERIFY(chart->plot()->yAxis->range().contains(value));
        // Even a range under two values wide (where a free tick step is 0.5)
        // shows whole values only.
        chart->plot()->yAxis->setRange(value - 0.4, value + 1.4);
        chart->plot()->replot();
        QVERIFY2(ticksAreWhole(chart->plot()->yAxis, &why), qPrintable(why));
        QVERIFY(chart->plot()->yAxis->tickVector().contains(value + 1));
    }

    // After a factory read the legend names all three series (this radio,
    // the reference, the factory copy), and every entry gets the room its
    // text needs inside the chart, in both languages at the bench sizes.
    void chartLegendIsWholeAfterAFactoryRead_data() {
        QTest::addColumn<QByteArray>("language");
        QTest::addColumn<QSize>("size");
        for (const QByteArray& language : {QByteArray("english"), QByteArray("chinese")}) {
            QTest::newRow(language + "-1366") << language << QSize(1366, 768);
            QTest::newRow(language + "-1600") << language << QSize(1600, 900);
        }
    }
    void chartLegendIsWholeAfterAFactoryRead() {
        QFETCH(QByteArray, language);
        QFETCH(QSize, size);
        useLanguage(language);
        TMainForm form;
        form.setWindowState(Qt::WindowNoState);
        form.resize(size);
        form.show();
        TMDIChild* w = openPowerPointThree(form);
        QVERIFY(w != nullptr);
        tuning::PointChart* chart = w->feedback()->chart();
        QVERIFY(!chart->hasFactory());
        // The backup, and the radio's two columns each under its own name.
        QCOMPARE(chart->plot()->legend->itemCount(), 3);
        QVERIFY(readFactoryCopy(form));
        QVERIFY(chart->hasFactory());
        QApplication::processEvents();
        ui::Plot* plot = chart->plot();
        plot->replot();
        QCPLegend* legend = plot->legend;
        // The factory values are in the program's copy, not in the radio: a
        // further entry names that copy.
        QStringList expected{S("S0019"), S("S0020"), TestEnvironment::text("ChildForm", "C0016"),
                             TestEnvironment::text("ChildForm", "C0017")};
        if (!chart->programCopyValues().isEmpty()) expected << S("S0050");
        QCOMPARE(legend->itemCount(), static_cast<int>(expected.size()));
        QStringList names;
        for (int i = 0; i < legend->itemCount(); ++i) {
            auto* entry = qobject_cast<QCPPlottableLegendItem*>(legend->item(i));
            QVERIFY(entry != nullptr);
            names << entry->plottable()->name();
            const QCPLayoutElement* element = entry;
            QVERIFY2(element->outerRect().width() >= element->minimumOuterSizeHint().width() &&
                         element->outerRect().height() >= element->minimumOuterSizeHint().height(),
                     qPrintable(names.last()));
            QVERIFY(legend->outerRect().contains(entry->outerRect()));
        }
        QCOMPARE(names, expected);
        QVERIFY(plot->rect().contains(legend->outerRect()));
        QVERIFY(!plot->axisRect()->outerRect().intersects(legend->outerRect()));
        QVERIFY(plot->width() >= chart->minimumWidth());
    }

    // ---- window title and geometry -------------------------------------------------

    void titleIsNotDoubled() {
        TMainForm form;
        QCOMPARE(form.windowTitle(), TestEnvironment::text("Application", "Title"));
        QCOMPARE(QGuiApplication::applicationDisplayName(), TestEnvironment::text("Application", "Title"));
    }

    void geometryIsRememberedInItsOwnSection() {
        {
            TMainForm form;
            QVERIFY(form.windowState() & Qt::WindowMaximized);  // nothing remembered yet
            form.setWindowState(Qt::WindowNoState);
            form.setGeometry(40, 50, 900, 600);
            form.close();
        }
        const QByteArray ini = env_->readFile("setting.ini");
        QVERIFY(ini.contains("[Window]"));
        QVERIFY(ini.contains("Maximized=0"));
        TMainForm again;
        QVERIFY(!(again.windowState() & Qt::WindowMaximized));
        QCOMPARE(again.size(), QSize(900, 600));
    }

    // ---- pictures -------------------------------------------------------------------

    // With VARNEL_SCREENSHOT_DIR set: the main window keyed and after a save,
    // and after the radio was lost, in both languages; a question box with
    // Qt's standard buttons in Chinese; the parameter editor.
    void pictures() {
        const QString dir = qEnvironmentVariable("VARNEL_SCREENSHOT_DIR");
        if (dir.isEmpty()) QSKIP("VARNEL_SCREENSHOT_DIR not set");
        QDir().mkpath(dir);
        for (const QByteArray& language : {QByteArray("english"), QByteArray("chinese")}) {
            const QString tag = language == "english" ? QStringLiteral("en") : QStringLiteral("zh");
            cleanup();
            init();
            useLanguage(language);
            TMainForm form;
            form.setWindowState(Qt::WindowNoState);
            form.resize(1280, 760);
            form.show();
            TMDIChild* w = openPowerPointThree(form);
            QVERIFY(w != nullptr);
            w->control<QPushButton>(QStringLiteral("Button2"))->click();
            RunTimer(test::TimerOf(*w, "SaveTimer"), &TMDIChild::SaveItemTimer, w);
            w->control<QPushButton>(QStringLiteral("Button1"))->click();
            RunTimer(test::TimerOf(*w, "TimeOutTimer"), &TMDIChild::TimeOutTimerTimer, w);
            auto* edit = w->control<QLineEdit>(QStringLiteral("Edit9"));
            edit->setText(QString::number(tunerImage[kPowerArray + 2] + 12));
            QTest::keyClick(edit, Qt::Key_Return);
            RunTimer(test::TimerOf(*w, "TimeOutTimer"), &TMDIChild::TimeOutTimerTimer, w);
            w->feedback()->chart()->refresh();
            form.refreshRadioStatus();
            QApplication::processEvents();
            QVERIFY(form.grab().save(QStringLiteral("%1/status-keyed-%2.png").arg(dir, tag)));

            TParamForm* param = form.paramForm();
            param->show();
            QApplication::processEvents();
            QVERIFY(param->grab().save(
                QStringLiteral("%1/param-editor%2.png").arg(dir, language == "english" ? QString() : QStringLiteral("-chinese"))));
            param->hide();

            env_->unplugRadio();
            w->ConnetTimerTimer();
            QApplication::processEvents();
            QVERIFY(form.grab().save(QStringLiteral("%1/radio-lost-%2.png").arg(dir, tag)));

            if (language == "chinese") {
                QMessageBox box(QMessageBox::Question, QStringLiteral("Varnel"), S("S0014"),
                                QMessageBox::Ok | QMessageBox::Cancel);
                box.show();
                QApplication::processEvents();
                QVERIFY(box.grab().save(QStringLiteral("%1/question-zh.png").arg(dir)));
            }
        }
    }
};

QTEST_MAIN(FeedbackTest)
#include "feedback_test.moc"
