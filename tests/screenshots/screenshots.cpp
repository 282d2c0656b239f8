// The pictures of docs/screenshots: not a test (ctest does not run it), a
// program on the shared window fixture that renders the tuning window's pages
// offscreen. Build and run it with
//     cmake --build build --target screenshots
// which writes into build/screenshots (VARNEL_SCREENSHOT_DIR overrides); the
// README's pictures are copies of some of them.
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QListWidget>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QTest>
#include <QTreeWidget>
#include <memory>

#include "data/Global.h"
#include "ui/Selection.h"
#include "lang/Loadlanguage.h"
#include "protocol/Sendcmd.h"
#include "support/FakeHost.h"
#include "support/TestEnvironment.h"
#include "support/TuningFixture.h"
#include "tuning/PageTables.h"
#include "tuning/TMDIChild.h"
#include "app/TMainForm.h"
#include "dialogs/TAlignForm.h"
#include "dialogs/TFactroyForm.h"
#include "dialogs/TParamForm.h"
#include "records/RecordStore.h"
#include "records/Recorder.h"
#include "report/RadioReport.h"
#include "report/ReportPdf.h"
#include "ui/FeedbackTexts.h"
#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QMessageBox>
#include <QProcess>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTemporaryDir>

using namespace varnel;
using namespace varnel::tuning;
using varnel::test::FakeHost;
using varnel::test::TestEnvironment;

namespace {

QString OutputDirectory() {
    QString dir = qEnvironmentVariable("VARNEL_SCREENSHOT_DIR");
    if (dir.isEmpty()) dir = QDir::current().filePath(QStringLiteral("screenshots"));
    QDir().mkpath(dir);
    return dir;
}

void SaveGrab(QWidget* widget, const QString& path) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QVERIFY2(widget->grab().save(path), qPrintable(path));
}

}  // namespace

class Screenshots : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TestEnvironment> env_;
    FakeHost host_;

private slots:
    void init() {
        env_ = std::make_unique<TestEnvironment>();
        OpenLanguage(kLanguageEnglish);
        host_ = FakeHost();
    }
    void cleanup() { env_.reset(); }

    // Every page in both languages for a small, a mobile and a large radio,
    // each reached as the operator reaches it (a tree double-click) where the
    // radio offers it; the window as the operator meets it; a large window.
    void tuningWindowPages() {
        const QString dir = OutputDirectory();
        // Page number -> tree key that brings it to the front.
        const int keys[kPageCount] = {2, 32, 4, 5, 23, 24, 51, 61, 34, 36};
        for (const int language : {kLanguageEnglish, kLanguageChinese}) {
            for (const VirtualPreset preset :
                 {VirtualPreset::Variant0, VirtualPreset::Variant1, VirtualPreset::LargeNewFirmware}) {
                OpenLanguage(language);
                auto w = test::OpenTuningWindow(*env_, host_, {.preset = preset, .linked = false});
                w->show();
                const QString tag = QStringLiteral("%1-%2")
                                        .arg(language == kLanguageEnglish ? "en" : "zh")
                                        .arg(preset == VirtualPreset::Variant0   ? "small"
                                             : preset == VirtualPreset::Variant1 ? "mobile"
                                                                                 : "large");
                for (int n = 0; n < kPageCount; ++n) {
                    band = preset == VirtualPreset::LargeNewFirmware && n == 1 ? 1 : 0;
                    test::SelectNode(*w, keys[n]);
                    w->ShowPage(n);
                    QApplication::processEvents();
                    SaveGrab(w.get(), QStringLiteral("%1/page%2-%3.png").arg(dir).arg(n).arg(tag));
                }
                band = 0;
                if (language == kLanguageEnglish && preset == VirtualPreset::Variant0) {
                    // An item chosen and a few exchanges in the log.
                    test::SelectNode(*w, 26);
                    test::LinkTunerMode(*env_, true);
                    for (int p = 1; p <= 3; ++p) {
                        SendSetItem(currentItem, 1, p, tunerImage[static_cast<std::size_t>(131 + p)], txFrequency(p - 1));
                        std::array<std::uint8_t, 16> reply{};
                        ReadFromRadio(linkHandle.get(), reply.data(), 9);
                        w->LogFrame(reply.data(), 9, 1);
                    }
                    // The replies were read here: the live-set poller has nothing left to wait for.
                    test::TimerOf(*w, "TimeOutTimer")->stop();
                    linkHandle.reset();
                    inTunerMode = false;
                    w->TreeView1()->setFocus();
                    QApplication::processEvents();
                    SaveGrab(w.get(), QStringLiteral("%1/tuning-window.png").arg(dir));
                    w->ListBox1()->setFocus();
                    QApplication::processEvents();
                    SaveGrab(w.get(), QStringLiteral("%1/tuning-window-tree-unfocused.png").arg(dir));
                }
                w->resize(1600, 900);
                w->ShowPage(preset == VirtualPreset::LargeNewFirmware ? 9 : 2);
                QApplication::processEvents();
                SaveGrab(w.get(), QStringLiteral("%1/maximised-%2.png").arg(dir, tag));
            }
        }
    }

    // The pages in the middle of an adjustment: adjust-power.png,
    // adjust-ctcss.png, adjust-fsk.png and adjust-error-rate.png.
    void adjustmentPages() {
        const QString dir = OutputDirectory();
        struct Shot {
            const char* file;
            Page page;
            int treeKey;  // "Digital TX Power", a CTCSS item, "FSK Modulation 1", "Bit Error Rate"
            int point;
        };
        const Shot shots[] = {{"adjust-power.png", Page::Power, 32, 4},
                              {"adjust-ctcss.png", Page::Ctcss, 26, 2},
                              {"adjust-fsk.png", Page::Fsk, 36, 3},
                              {"adjust-error-rate.png", Page::ErrorRate, 51, 2}};
        for (const Shot& shot : shots) {
            auto w = test::OpenTuningWindow(
                *env_, host_,
                {.preset = VirtualPreset::LargeNewFirmware, .image = test::WindowImage::Pattern, .linked = false});
            test::LinkTunerMode(*env_, true);
            w->ShowPage(static_cast<int>(shot.page));
            w->resize(1180, 640);
            w->show();
            test::SelectNode(*w, shot.treeKey);
            w->PointDoubleClicked(shot.page, shot.point);
            auto upDown = [&](const char* name) { return w->control<TUpDown>(QString::fromLatin1(name)); };
            switch (shot.page) {
                case Page::Power: upDown("UpDown4")->step(+1); break;
                case Page::Ctcss:
                    w->ValueScrollBarEndScroll(w->control<QScrollBar>(QStringLiteral("ScrollBar3")), 135);
                    break;
                case Page::Fsk:
                    upDown("UpDown59")->setPosition(1999);
                    upDown("UpDown59")->step(+1);
                    break;
                case Page::ErrorRate:
                    env_->radio().setReading(22, {0, 0, 0x0F, 0xA0, 0, 0, 0, 42});
                    w->CheckTimerTimer();
                    for (int i = 0; i < 10 && test::TimerOf(*w, "ErrorRateTimer")->isActive(); ++i) w->ErrorRateTimerTimer();
                    break;
                default: break;
            }
            QCoreApplication::processEvents();
            SaveGrab(w.get(), dir + QLatin1Char('/') + QLatin1String(shot.file));
        }
    }

    // The power page keyed at point 4, and again after un-keying.
    void powerPageKeyed() {
        const QString dir = OutputDirectory();
        auto w = test::OpenTuningWindow(*env_, host_);
        QVERIFY(test::KeyPowerPageAtPointFour(*w));
        SaveGrab(w->page(Page::Power), QDir(dir).filePath("keying-power-point4-keyed.png"));
        w->KeyingButtonClick(Page::Power);
        test::SettleVerifyingPolls(*w);
        SaveGrab(w->page(Page::Power), QDir(dir).filePath("keying-power-point4-unkeyed.png"));
    }

    // The main window's own windows as the operator meets them, in both
    // languages: the grid editor (eight points of the 136-174 MHz band), the
    // factory dialog, the status bar keyed on point 3 after a save, the
    // notice after the cable was pulled, and a question with Qt's buttons.
    void operatorWindows() {
        const QString dir = OutputDirectory();
        for (const int language : {kLanguageEnglish, kLanguageChinese}) {
            const QString zh = language == kLanguageChinese ? QStringLiteral("-zh") : QString();
            env_.reset();
            env_ = std::make_unique<TestEnvironment>(VirtualPreset::LargeNewFirmware);
            env_->writeSettingsLanguage(language == kLanguageChinese ? QStringLiteral("chinese")
                                                                      : QStringLiteral("english"));
            TMainForm form;
            form.attachVirtualRadio(&env_->backend());
            form.setWindowState(Qt::WindowNoState);
            form.resize(1366, 768);
            form.show();
            QVERIFY(QTest::qWaitForWindowExposed(&form));
            QVERIFY(test::EnterTunerMode(form));
            TMDIChild* w = form.tuningWindow;
            QVERIFY(w != nullptr);
            // The grid editor and the factory dialog, shown as their menu
            // items show them.
            env_->dialogs().onDialog = [&](QDialog* dialog) -> int {
                dialog->show();
                (void)QTest::qWaitForWindowExposed(dialog);
                if (auto* param = qobject_cast<TParamForm*>(dialog)) {
                    param->ComboBox1->setCurrentIndex(1);
                    param->ComboBox1Select(1);
                    QCoreApplication::processEvents();
                    SaveGrab(dialog, QDir(dir).filePath(QStringLiteral("param-editor%1.png").arg(zh)));
                    param->ComboBox1Select(0);
                } else {
                    QCoreApplication::processEvents();
                    SaveGrab(dialog, QDir(dir).filePath(QStringLiteral("factory-dialog%1.png").arg(zh)));
                }
                dialog->hide();
                return int(QDialog::Rejected);
            };
            form.ParamItemClick();
            form.N1Click();
            env_->dialogs().onDialog = {};
            // Keyed on point 3 of the power item, after its save.
            QVERIFY(test::SelectNode(*w, 32));
            w->PointDoubleClicked(Page::Power, 3);
            test::SettleVerifyingPolls(*w);
            w->KeyingButtonClick(Page::Power);
            test::SettleVerifyingPolls(*w);
            w->SaveButtonClick(Page::Power);
            test::SettleVerifyingPolls(*w);
            form.refreshRadioStatus();
            QCoreApplication::processEvents();
            SaveGrab(&form, QDir(dir).filePath(QStringLiteral("status-keyed%1.png").arg(zh.isEmpty() ? "-en" : zh)));
            // A question as the real dialogs ask it.
            {
                QMessageBox box(&form);
                box.setWindowTitle(QStringLiteral("Varnel"));
                box.setIcon(QMessageBox::Question);
                box.setText(QString::fromStdString(Text("Pages", "E0001")));
                box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
                box.show();
                QVERIFY(QTest::qWaitForWindowExposed(&box));
                SaveGrab(&box, QDir(dir).filePath(QStringLiteral("question%1.png").arg(zh.isEmpty() ? "-en" : zh)));
            }
            // The cable pulled.
            env_->unplugRadio();
            w->ConnetTimerTimer();
            QCoreApplication::processEvents();
            SaveGrab(&form, QDir(dir).filePath(QStringLiteral("radio-lost%1.png").arg(zh.isEmpty() ? "-en" : zh)));
            env_->plugRadio();
            form.close();
        }
        OpenLanguage(kLanguageEnglish);
        ui::InstallQtCatalogue(kLanguageEnglish);
    }

    // The Auto Align window after a whole run of the large model's procedure
    // on the virtual radio and the virtual test set, and the PDF page of that
    // run, in both languages.
    void autoAlign() {
        const QString dir = OutputDirectory();
        env_.reset();
        env_ = std::make_unique<TestEnvironment>(VirtualPreset::LargeNewFirmware);
        // The run's records, for its PDF page.
        QTemporaryDir records;
        Result<std::unique_ptr<RecordStore>> opened =
            OpenSqliteStore((records.path() + QStringLiteral("/records.sqlite")).toStdString());
        QVERIFY(opened.ok());
        CalibrationRecorder().setStore(std::shared_ptr<RecordStore>(std::move(opened.value())));
        CalibrationRecorder().setSerial("SN-0042");
        TMainForm form;
        form.attachVirtualRadio(&env_->backend());
        form.show();
        auto* item = form.findChild<QAction*>(QStringLiteral("AutoAlignItem"));
        QVERIFY(item != nullptr);
        item->trigger();
        auto* align = form.findChild<TAlignForm*>(QStringLiteral("TAlignForm"));
        QVERIFY(align != nullptr);
        align->resize(980, 640);
        QSignalSpy finished(align, &TAlignForm::runFinished);
        QTest::mouseClick(align->RunButton, Qt::LeftButton);
        QVERIFY(finished.count() == 1 || finished.wait(60000));
        QCoreApplication::processEvents();
        SaveGrab(align, QDir(dir).filePath("auto-align.png"));
        form.N8->trigger();  // the window follows the language while open
        QCoreApplication::processEvents();
        SaveGrab(align, QDir(dir).filePath("auto-align-zh.png"));
        form.English1->trigger();
        // The PDF page of the run, drawn and turned into a picture.
        RecordStore* store = CalibrationRecorder().store();
        QVERIFY(store != nullptr);
        (void)store->drain(std::chrono::seconds(5));
        RecordFilter filter;
        filter.event = record_event::kAlign;
        std::int64_t last = 0;
        (void)store->forEach(filter, [&](const CalibrationRecord& r) {
            last = r.id;
            return true;
        });
        QVERIFY(last > 0);
        for (const int language : {kLanguageEnglish, kLanguageChinese}) {
            OpenLanguage(language);
            Result<RadioReport> report = BuildRadioReport(*store, ReportRequest{"", last});
            QVERIFY(report.ok());
            const QString tag = language == kLanguageEnglish ? QStringLiteral("en") : QStringLiteral("zh");
            const QString pdf = QDir(dir).filePath(QStringLiteral("report-%1.pdf").arg(tag));
            QVERIFY(WriteReportPdf(report.value(), std::filesystem::path(pdf.toStdString())).ok());
            const int status = QProcess::execute(QStringLiteral("pdftoppm"),
                                                 {QStringLiteral("-png"), QStringLiteral("-r"), QStringLiteral("90"),
                                                  QStringLiteral("-singlefile"), pdf,
                                                  QDir(dir).filePath(QStringLiteral("report-page-%1").arg(tag))});
            QVERIFY2(status == 0, "pdftoppm (poppler-utils) turns the PDF page into a picture");
        }
        OpenLanguage(kLanguageEnglish);
        CalibrationRecorder().setStore(nullptr);
        CalibrationRecorder().setSerial({});
    }
};

QTEST_MAIN(Screenshots)
#include "screenshots.moc"
