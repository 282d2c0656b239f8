// The communication log: line layout, the senders' log hook, clear and save.
#include <QAction>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QLocale>
#include <QMenu>
#include <QStringEncoder>
#include <QScrollBar>
#include <QTest>
#include <QTimer>

#include "support/TuningFixture.h"

using namespace varnel;
using varnel::test::TestEnvironment;

namespace {
// Short date and long time in the interface language (English as in the
// United States, Chinese as in China).
QString DateTimeNow() {
    const QLocale locale = varnel::languageIndex == varnel::kLanguageChinese ? QLocale(QLocale::Chinese, QLocale::China)
                                                                              : QLocale(QLocale::English, QLocale::UnitedStates);
    const QDateTime now = QDateTime::currentDateTime();
    return locale.toString(now.date(), QLocale::ShortFormat) + " " + locale.toString(now.time(), QLocale::LongFormat);
}

// A live-set frame of item 0x0A at point 3, 435.05 MHz, value 0x7F.
const std::uint8_t kSetItemFrame[16] = {0xA1, 0x00, 0x62, 0x00, 0x08, 0x0A, 0x05, 0x03,
                                        0x19, 0xEE, 0x56, 0x10, 0x7F, 0x01, 0xFE, 0xA4};

}  // namespace

class LogPanelTest : public test::TuningWindowCase {
    Q_OBJECT

private:
    std::unique_ptr<TMDIChild> makeWindow() {
        return test::OpenTuningWindow(*env_, host_, {.image = test::WindowImage::Kept, .linked = false});
    }

    // Appends a line and checks that what precedes `body` is the local date
    // and time of the moment it was written.
    void logAndCheck(TMDIChild& w, const std::uint8_t* bytes, std::uint16_t length, int direction,
                     const QString& body) {
        const QString before = DateTimeNow();
        w.LogFrame(bytes, length, direction);
        const QString after = DateTimeNow();
        const QString line = w.ListBox1()->item(w.ListBox1()->count() - 1)->text();
        QVERIFY2(line.endsWith(body), qPrintable(line));
        const QString stamp = line.left(line.size() - body.size());
        QVERIFY2(stamp == before || stamp == after, qPrintable(stamp));
        QVERIFY(!stamp.isEmpty());
    }

private slots:
    // ---- line layout ---------------------------------------------------------

    void sentFrameLine() {
        auto w = makeWindow();
        const QString label = TestEnvironment::text("ChildForm", "C0021");
        QCOMPARE(label, QString("Send"));
        logAndCheck(*w, kSetItemFrame, 16, 0,
                    "  Send:   A1  00  62  00  08  0A  05  03  19  EE  56  10  7F  01  FE  A4  ");
    }

    void receivedFrameLineUsesTheExpectedLength() {
        auto w = makeWindow();
        // The buffer holds more than the command expects; only 9 bytes show.
        std::uint8_t reply[16] = {0xA1, 0x80, 0x62, 0x00, 0x01, 0x00, 0x00, 0x00, 0xA4, 0xDE, 0xAD, 0xBE, 0xEF};
        logAndCheck(*w, reply, 9, 1, "  Receive:   A1  80  62  00  01  00  00  00  A4  ");
        // Any direction other than 0 is a received frame.
        logAndCheck(*w, reply, 2, 7, "  Receive:   A1  80  ");
        QCOMPARE(w->ListBox1()->count(), 2);
    }

    void chineseLabels() {
        OpenLanguage(kLanguageChinese);
        auto w = makeWindow();
        const QString sent = TestEnvironment::text("ChildForm", "C0021");
        const QString received = TestEnvironment::text("ChildForm", "C0020");
        QVERIFY(!sent.isEmpty() && sent != "Send");
        logAndCheck(*w, kSetItemFrame, 3, 0, "  " + sent + ":   A1  00  62  ");
        logAndCheck(*w, kSetItemFrame, 1, 1, "  " + received + ":   A1  ");
    }

    void missingLabelLeavesTheSeparators() {
        env_->writeFile("english.lang", "[ChildForm]\r\nC0020=Receive\r\n");
        auto w = makeWindow();
        logAndCheck(*w, kSetItemFrame, 2, 0, "  :   A1  00  ");
        logAndCheck(*w, kSetItemFrame, 0, 0, "  :   ");
    }

    void theListFollowsItsNewestLine() {
        auto w = makeWindow();
        w->resize(600, 400);
        w->show();
        for (int i = 0; i < 300; ++i) {
            const std::uint8_t b = static_cast<std::uint8_t>(i);
            w->LogFrame(&b, 1, i % 2);
            QCOMPARE(w->ListBox1()->currentRow(), i);
        }
        QCOMPARE(w->ListBox1()->count(), 300);
        QVERIFY(w->ListBox1()->item(299)->isSelected());
        QVERIFY(w->ListBox1()->item(299)->text().endsWith(":   2B  "));
        QVERIFY(w->ListBox1()->verticalScrollBar()->value() == w->ListBox1()->verticalScrollBar()->maximum());
    }

    void sendersLogThroughTheWindow() {
        auto w = makeWindow();
        QCOMPARE(ScanRadioDrives(), std::uint16_t{1});
        linkHandle = OpenRadio();
        QVERIFY(linkHandle);
        SendSetItem(10, 5, 3, 0x7F, 435050000u);
        QCOMPARE(w->ListBox1()->count(), 1);
        QVERIFY(w->ListBox1()->item(0)->text().endsWith(
            "  Send:   A1  00  62  00  08  0A  05  03  19  EE  56  10  7F  01  FE  A4  "));
        QVERIFY(test::TimerOf(*w, "TimeOutTimer")->isActive());
        // The main window's commands are not logged.
        SendExitTunerMode();
        QCOMPARE(w->ListBox1()->count(), 1);
        // Once the window is gone the senders log nowhere.
        w.reset();
        SendSetItem(10, 5, 3, 0x7F, 435050000u);
        QVERIFY(!CurrentSenderHooks().logFrame);
    }

    // ---- clear ---------------------------------------------------------------

    void clearEmptiesTheList() {
        auto w = makeWindow();
        for (int i = 0; i < 3; ++i) w->LogFrame(kSetItemFrame, 16, 0);
        w->C1()->trigger();  // asks first; the scripted answer is OK
        QCOMPARE(w->ListBox1()->count(), 0);
        QCOMPARE(env_->dialogs().messages.size(), 1);
        QCOMPARE(env_->dialogs().messages.first().kind, ui::MessageKind::Question);
        // A reply after the clear is the only line.
        w->LogFrame(kSetItemFrame, 9, 1);
        QCOMPARE(w->ListBox1()->count(), 1);
    }

    void contextMenuOffersClearAndSave() {
        auto w = makeWindow();
        w->show();
        emit w->ListBox1()->customContextMenuRequested(QPoint(5, 5));
        QVERIFY(w->PopupMenu1()->isVisible());
        w->PopupMenu1()->hide();
        QCOMPARE(w->C1()->text(), TestEnvironment::text("ChildForm", "C0022"));
        QCOMPARE(w->S1()->text(), TestEnvironment::text("ChildForm", "C0023"));
    }

    // ---- save ----------------------------------------------------------------

    void saveEmptyLogCreatesAnEmptyFile() {
        auto w = makeWindow();
        const QString path = env_->filePath("empty.txt");
        env_->dialogs().saveNames << path;
        w->S1()->trigger();
        // The text file first, a CSV table beside it.
        // The text file's filter is the design's; the table's is in the
        // interface language.
        QCOMPARE(env_->dialogs().saveFilters,
                 QStringList{QStringLiteral("TET Files (*.txt)| *.txt|") + TestEnvironment::text("Files", "CsvFilter")});
        QCOMPARE(env_->dialogs().saveSuffixes, QStringList{".txt"});
        QCOMPARE(env_->dialogs().saveConfirmsOverwrite, QList<bool>{false});  // replaced without a question
        QVERIFY(QFile::exists(path));
        QCOMPARE(env_->readFile("empty.txt"), QByteArray());
        QVERIFY(env_->dialogs().messages.isEmpty());
    }

    void saveThreeLines() {
        auto w = makeWindow();
        w->LogFrame(kSetItemFrame, 16, 0);
        w->LogFrame(kSetItemFrame, 9, 1);
        w->LogFrame(kSetItemFrame, 1, 0);
        QStringList lines;
        for (int i = 0; i < 3; ++i) lines << w->ListBox1()->item(i)->text();
        env_->writeFile("log.txt", QByteArray(4000, 'x'));  // replaced without a question
        env_->dialogs().saveNames << env_->filePath("log.txt");
        w->S1Click();
        const QByteArray bytes = env_->readFile("log.txt");
        QByteArray expected;
        for (const QString& line : lines) expected += line.toLatin1() + "\r\n";
        QCOMPARE(bytes, expected);
        QVERIFY(!bytes.startsWith("\xEF\xBB\xBF"));
        QCOMPARE(bytes.count("\r\n"), 3);
        QCOMPARE(bytes.count('\n'), 3);
        QVERIFY(bytes.endsWith(":   A1  \r\n"));
        // The log itself is unchanged.
        QCOMPARE(w->ListBox1()->count(), 3);
        QVERIFY(env_->dialogs().messages.isEmpty());
    }

    void saveUsesTheSystemCodePage() {
        OpenLanguage(kLanguageChinese);
        auto w = makeWindow();
        w->LogFrame(kSetItemFrame, 4, 0);
        const QString line = w->ListBox1()->item(0)->text();
        env_->dialogs().saveNames << env_->filePath("zh.txt");
        w->S1Click();
        QStringEncoder encoder(QStringConverter::System);
        QCOMPARE(env_->readFile("zh.txt"), QByteArray(encoder.encode(line)) + "\r\n");
    }

    void cancelWritesNothing() {
        auto w = makeWindow();
        w->LogFrame(kSetItemFrame, 16, 0);
        const QStringList before = QDir(env_->programDirectory()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
        w->S1Click();  // no scripted name: the operator cancels
        QCOMPARE(env_->dialogs().saveFilters.size(), 1);
        QCOMPARE(QDir(env_->programDirectory()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), before);
        QVERIFY(env_->dialogs().messages.isEmpty());
        QCOMPARE(w->ListBox1()->count(), 1);
    }

    void fileErrorShowsTheReasonAndKeepsTheLog() {
        auto w = makeWindow();
        w->LogFrame(kSetItemFrame, 16, 0);
        w->LogFrame(kSetItemFrame, 9, 1);
        const QString first = w->ListBox1()->item(0)->text();
        env_->dialogs().saveNames << env_->filePath("no such folder/log.txt");
        w->S1Click();
        QCOMPARE(env_->dialogs().messages.size(), 1);
        const auto& box = env_->dialogs().messages.first();
        QCOMPARE(box.kind, ui::MessageKind::Error);
        QCOMPARE(box.caption, QString("Varnel"));
        QCOMPARE(box.buttons, ui::MessageButtons::Ok);
        QVERIFY(!box.text.isEmpty());
        QCOMPARE(w->ListBox1()->count(), 2);
        QCOMPARE(w->ListBox1()->item(0)->text(), first);
        QVERIFY(!QFile::exists(env_->filePath("no such folder/log.txt")));
    }
};

QTEST_MAIN(LogPanelTest)
#include "log_panel_test.moc"
