// Nothing reaches the radio that the operator did not see and mean: every
// case that used to put a wrong value into a radio, overwrite an image with
// another model's or throw work away, through the real windows on the
// virtual radio, and next to it the normal path with exactly its frames.
#include <functional>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScrollArea>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidgetItem>
#include <cstring>

#include "app/TMainForm.h"
#include "data/Filemanage.h"
#include "data/Global.h"
#include "ui/Selection.h"
#include "data/Safety.h"
#include "dialogs/TFactroyForm.h"
#include "dialogs/TParamForm.h"
#include "protocol/Sendcmd.h"
#include "support/MainWindowCase.h"
#include "support/RadioFrames.h"
#include "support/TestEnvironment.h"
#include "support/TuningFixture.h"
#include "tuning/TMDIChild.h"
#include "tuning/TuningControls.h"

using namespace varnel;
using varnel::test::Frame;
using varnel::test::TestEnvironment;
using varnel::test::Tr;
using varnel::test::FrameCode;
using varnel::test::FrameCodes;
using varnel::test::NodeWithKey;

namespace {

// The tree double-click on the node with state index `key`, as the mouse does it.
void Select(TMDIChild& w, int key) {
    QTreeWidgetItem* node = NodeWithKey(w.TreeView1(), key);
    QVERIFY2(node != nullptr, qPrintable(QString::number(key)));
    w.TreeView1()->scrollToItem(node);
    const QRect rect = w.TreeView1()->visualItemRect(node);
    QTest::mouseClick(w.TreeView1()->viewport(), Qt::LeftButton, {}, rect.center());
    QTest::mouseDClick(w.TreeView1()->viewport(), Qt::LeftButton, {}, rect.center());
}

// An archive of `preset`'s radio: its information block and its image.
QByteArray ArchiveOf(VirtualPreset preset) {
    QByteArray bytes(static_cast<qsizetype>(kArchiveSize), '\0');
    const RadioInfo info = VirtualPresetInfo(preset);
    const TunerImage image = VirtualPresetImage(preset);
    std::memcpy(bytes.data(), info.bytes.data(), RadioInfo::kSize);
    std::memcpy(bytes.data() + RadioInfo::kSize, image.bytes.data(), TunerImage::kSize);
    return bytes;
}

// True when `w` lies on a page of the tuning window that is not in front.
bool OnCoveredPage(TMDIChild& window, QWidget* w) {
    for (QScrollArea* page : window.pageList()) {
        if (page != window.frontPage() && page->isAncestorOf(w)) return true;
    }
    return false;
}

bool LogHas(TMDIChild& w, const QString& text) {
    for (int i = 0; i < w.ListBox1()->count(); ++i) {
        if (w.ListBox1()->item(i)->text().contains(text)) return true;
    }
    return false;
}

// The parameter editor as the operator uses it: switch to `newBand`, then
// Confirm or Cancel.
std::function<int(QDialog*)> SwitchBandInEditor(int newBand, bool confirm) {
    return [newBand, confirm](QDialog* dialog) {
        auto* p = qobject_cast<TParamForm*>(dialog);
        if (p == nullptr) return int(QDialog::Rejected);
        p->show();
        p->ComboBox1Select(newBand);
        if (confirm) {
            p->Button3Click();
        } else {
            p->Button4Click();
        }
        return p->result();
    };
}

}  // namespace

class SafetyTest : public test::MainWindowCase {
    Q_OBJECT

private slots:
    // 1. A page never acts for an item it does not show.
    void powerNodeWithoutPageLeavesNoPageToSend();
    void powerNodeWithPageSendsTheItem();
    void coveredPageTakesNoKeys();
    // 2. Man-down save sends what the page shows.
    void mandownSaveSendsTheShownValue();
    // 3. and 9. Write all with consent and identity; implausible archives.
    void writeAllAsksOnceAndSendsTheImage();
    void writeAllWithoutAcknowledgementIsAnUnknownOutcome_data();
    void writeAllWithoutAcknowledgementIsAnUnknownOutcome();
    void writeAllRefusedByTheOperatorSendsNothing();
    void writeAllToAnotherModelIsRefused();
    void expertOverrideNeedsTwoAnswers();
    void implausibleArchiveWarnsAndNeedsExpertMode();
    // 4. Factory read with consent.
    void factoryReadAsksAndSendsNoLiveValue();
    // 5. One tuning window drives the radio.
    void archiveOpenRefusedWhileTunedIsCancelled();
    void documentCommandsFollowTheTuningWindow();
    // 6. No silent loss of work.
    void modifiedMarkerAndQuestions();
    void enteringOverAModifiedImageAsks();
    // 7. Automatic backup on entry.
    void entryLeavesABackup();
    void failedBackupIsShownAndTuningGoesOn();
    // 8. The parameter editor and the band.
    void parameterEditorCancelRestoresTheBandShownInTheWindow();
    // Both languages.
    void chineseTexts();
};

// ---------------------------------------------------------------------------
// 1.

void SafetyTest::powerNodeWithoutPageLeavesNoPageToSend() {
    start(VirtualPreset::Variant2);
    QVERIFY(tune(Shown::Active));
    TMDIChild& w = tuned();
    Select(w, 5);  // RX sensitivity: sbox_sql in front, its point 1 selected
    QCOMPARE(w.frontPage(), w.pageList().at(static_cast<int>(Page::Sql)));
    env().radio().clearReceivedFrames();

    Select(w, 24);  // "T0014": this model has no power page
    QCOMPARE(currentItem, 10);
    QVERIFY(w.frontPage() == nullptr);
    QVERIFY(w.NoPage()->isVisible());
    QCOMPARE(w.NoPage()->text(), Tr("Safety", "Z0001"));
    QVERIFY(env().radio().receivedFrames().empty());

    // A double-click where the squelch page's first point was lands on the
    // neutral page: item 10 never gets the squelch page's values.
    auto* point = w.control<QWidget>(QStringLiteral("RadioButton12"));
    QTest::mouseDClick(point, Qt::LeftButton);
    QVERIFY(env().radio().receivedFrames().empty());
    // Nor can the keyboard reach the covered page.
    w.TreeView1()->setFocus();
    for (int i = 0; i < 80; ++i) {
        QVERIFY(QApplication::focusWidget() != nullptr);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QVERIFY(!OnCoveredPage(w, QApplication::focusWidget()));
    }
    QVERIFY(env().radio().receivedFrames().empty());
}

void SafetyTest::powerNodeWithPageSendsTheItem() {
    start(VirtualPreset::Variant0);
    QVERIFY(tune(Shown::Yes));
    TMDIChild& w = tuned();
    env().radio().clearReceivedFrames();
    Select(w, 24);
    QCOMPARE(w.frontPage(), w.pageList().at(static_cast<int>(Page::Power)));
    // Item 10, transmit off (1), point 1, its transmit frequency, its byte 116.
    QCOMPARE(env().radio().receivedFrames().size(), std::size_t{1});
    QCOMPARE(env().radio().receivedFrames().front(),
             test::LiveSet(10, 1, 1, tunerImage.txFrequencyIn(0, 0), tunerImage[116]));
}

void SafetyTest::coveredPageTakesNoKeys() {
    start(VirtualPreset::Variant0);
    QVERIFY(tune(Shown::Active));
    TMDIChild& w = tuned();
    auto* edit23 = w.control<QLineEdit>(QStringLiteral("Edit23"));

    // Normal path: CTCSS item 12 at point 1, 7 typed and Enter.
    Select(w, 26);
    QTest::mouseDClick(w.control<QWidget>(QStringLiteral("RadioButton13")), Qt::LeftButton);
    QVERIFY(edit23->isEnabled());
    env().radio().clearReceivedFrames();
    edit23->setFocus();
    edit23->selectAll();
    QTest::keyClicks(edit23, QStringLiteral("7"));
    QTest::keyClick(edit23, Qt::Key_Return);
    QCOMPARE(env().radio().receivedFrames().size(), std::size_t{1});
    QCOMPARE(env().radio().receivedFrames().front(), test::LiveSet(12, 1, 1, tunerImage.txFrequencyIn(0, 0), 7));
    QCOMPARE(tunerImage[132], std::uint8_t{7});

    // The power page in front: the CTCSS edit is covered and keeps its
    // enabled state, but neither Tab nor typing reaches it.
    Select(w, 32);
    QCOMPARE(w.frontPage(), w.pageList().at(static_cast<int>(Page::Power)));
    env().radio().clearReceivedFrames();
    const TunerImage before = tunerImage;
    QVERIFY(edit23->isEnabled());
    w.control<QWidget>(QStringLiteral("RadioButton1"))->setFocus();
    for (int i = 0; i < 80; ++i) {
        QVERIFY(QApplication::focusWidget() != nullptr);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QVERIFY2(!OnCoveredPage(w, QApplication::focusWidget()),
                 qPrintable(QApplication::focusWidget()->objectName()));
    }
    QTest::keyClicks(edit23, QStringLiteral("7"));
    QTest::keyClick(edit23, Qt::Key_Return);
    QVERIFY(env().radio().receivedFrames().empty());
    QCOMPARE(tunerImage.bytes, before.bytes);
}

// ---------------------------------------------------------------------------
// 2.

void SafetyTest::mandownSaveSendsTheShownValue() {
    start(VirtualPreset::Variant0);
    TunerImage stored = env().radio().storedImage();
    stored[232] = 140;  // item 27, band 0
    env().radio().setStoredImage(stored);
    QVERIFY(tune(Shown::Yes));
    TMDIChild& w = tuned();
    Select(w, 51);  // the bit-error page leaves currentValue at 0
    QCOMPARE(currentValue, 0);
    Select(w, 61);  // "T0041"
    auto* save = w.control<QPushButton>(QStringLiteral("Button16"));
    QCOMPARE(w.control<QLabel>(QStringLiteral("Label113"))->text(), QStringLiteral("140"));
    QVERIFY(save->isEnabled());
    env().radio().clearReceivedFrames();
    QTest::mouseClick(save, Qt::LeftButton);
    QCOMPARE(env().radio().receivedFrames().size(), std::size_t{1});
    QCOMPARE(env().radio().receivedFrames().front(), test::Save(27, {140}));

    // Another item: no value on the man-down page, and no save.
    Select(w, 5);
    QVERIFY(!save->isEnabled());
}

// ---------------------------------------------------------------------------
// 3. and 9.

void SafetyTest::writeAllAsksOnceAndSendsTheImage() {
    start(VirtualPreset::Variant0);
    QVERIFY(tune());
    env().radio().clearReceivedFrames();
    env().dialogs().messages.clear();
    form().SpeedButton1->click();
    test::RunMainWindowPolls(form());

    QCOMPARE(env().dialogs().messages.size(), 2);
    const test::RecordedMessage question = env().dialogs().messages.first();
    QCOMPARE(question.kind, ui::MessageKind::Question);
    QCOMPARE(question.buttons, ui::MessageButtons::OkCancel);
    QVERIFY(question.text.contains(QStringLiteral("VR-D200")));
    QVERIFY(question.text.contains(Tr("Safety", "W0007").section(QStringLiteral("%1"), 0, 0)));
    QCOMPARE(env().dialogs().messages.last().text, Tr("MessageBox", "M012"));
    // The identity read, then exactly the write-all frame of 512 image bytes.
    QCOMPARE(FrameCodes(env().radio()), (QList<std::uint16_t>{cmd::kReadInfo, cmd::kWriteAll}));
    const Frame image(tunerImage.bytes.begin(), tunerImage.bytes.begin() + 512);
    QCOMPARE(env().radio().receivedFrames().back(), test::BuiltFrame(cmd::kWriteAll, image));
    QVERIFY(LogHas(*form().tuningWindow, Tr("Safety", "L0003")));
}

void SafetyTest::writeAllWithoutAcknowledgementIsAnUnknownOutcome_data() {
    QTest::addColumn<bool>("readBack");
    QTest::newRow("read back") << true;
    QTest::newRow("not read back") << false;
}

// The radio takes the image and its acknowledgement is lost: the window never
// says it was written or sent; it names the outcome unknown and offers the
// read-back, which compares the radio's image with the image sent.
void SafetyTest::writeAllWithoutAcknowledgementIsAnUnknownOutcome() {
    QFETCH(bool, readBack);
    start(VirtualPreset::Variant0);
    QVERIFY(tune());
    // A changed value, so that the radio's image tells whether it took the write.
    tunerImage[118] = static_cast<std::uint8_t>(tunerImage[118] + 5);
    env().radio().clearReceivedFrames();
    env().dialogs().messages.clear();
    env().dialogs().answers << ui::MessageResult::Ok << (readBack ? ui::MessageResult::Ok : ui::MessageResult::Cancel);
    env().dialogs().onMessage = [this](const test::RecordedMessage& m) {
        LinkFaults faults;
        // Consent given: the write's reply is dropped; the question after it: replies again.
        if (m.text.startsWith(Tr("Safety", "W0006").section(QStringLiteral("%1"), 0, 0))) faults.dropReply = 1.0;
        env().radio().setLinkFaults(faults);
    };
    form().SpeedButton1->click();
    test::RunMainWindowPolls(form());
    env().dialogs().onMessage = {};

    const QString radioName = QString::fromStdString(DescribeRadio(radioInfo));
    const auto filled = [](QString text, const QStringList& args) {
        for (int i = 0; i < args.size(); ++i) text.replace(QStringLiteral("%") + QString::number(i + 1), args[i]);
        return text;
    };
    QVERIFY(env().dialogs().messages.size() >= 2);
    const test::RecordedMessage question = env().dialogs().messages[1];
    QCOMPARE(question.kind, ui::MessageKind::Question);
    QCOMPARE(question.buttons, ui::MessageButtons::OkCancel);
    QCOMPARE(question.text, filled(Tr("Safety", "W0010"), {radioName}));
    for (const test::RecordedMessage& m : env().dialogs().messages)
        QVERIFY2(m.text != Tr("MessageBox", "M012"), "never called written");
    QVERIFY(!LogHas(*form().tuningWindow, Tr("Safety", "L0003")));
    QVERIFY(!LogHas(*form().tuningWindow, Tr("Safety", "L0002").section(QStringLiteral("%1"), 0, 0)));
    QVERIFY(LogHas(*form().tuningWindow, filled(Tr("Safety", "L0011"), {radioName})));
    // The write went once: it is not sent again.
    QList<std::uint16_t> codes{cmd::kReadInfo, cmd::kWriteAll};
    if (readBack) codes << cmd::kEnterTunerMode;  // the radio's image, read back; it stays in tuner mode
    QCOMPARE(FrameCodes(env().radio()), codes);
    if (!readBack) {
        QCOMPARE(env().dialogs().messages.size(), 2);
        return;
    }
    // The radio holds the image sent: the read-back says so.
    QCOMPARE(env().dialogs().messages.size(), 3);
    QCOMPARE(int(env().radio().storedImage()[118]), int(tunerImage[118]));
    QCOMPARE(env().dialogs().messages[2].kind, ui::MessageKind::Information);
    QCOMPARE(env().dialogs().messages[2].text, filled(Tr("Safety", "L0012"), {radioName, QStringLiteral("512")}));
    QVERIFY(LogHas(*form().tuningWindow, env().dialogs().messages[2].text));
}

void SafetyTest::writeAllRefusedByTheOperatorSendsNothing() {
    start(VirtualPreset::Variant0);
    QVERIFY(tune());
    const TunerImage radioBefore = env().radio().storedImage();
    env().radio().clearReceivedFrames();
    env().dialogs().answers << ui::MessageResult::Cancel;
    form().SpeedButton1->click();
    test::RunMainWindowPolls(form());
    QCOMPARE(FrameCodes(env().radio()), QList<std::uint16_t>{cmd::kReadInfo});
    QCOMPARE(env().radio().storedImage().bytes, radioBefore.bytes);
    QVERIFY(!form().pollRunning());
}

void SafetyTest::writeAllToAnotherModelIsRefused() {
    start(VirtualPreset::Variant0);
    env().writeFile(QStringLiteral("mobile.tdb"), ArchiveOf(VirtualPreset::Variant1));
    QVERIFY(open());
    QVERIFY(form().OpenArchive(env().filePath(QStringLiteral("mobile.tdb"))));
    QVERIFY(env().dialogs().messages.isEmpty());  // a plausible archive opens quietly
    const TunerImage radioBefore = env().radio().storedImage();
    env().radio().clearReceivedFrames();
    form().SpeedButton1->click();
    test::RunMainWindowPolls(form());

    QCOMPARE(env().dialogs().messages.size(), 1);
    const test::RecordedMessage box = env().dialogs().messages.first();
    QCOMPARE(box.kind, ui::MessageKind::Error);
    QVERIFY(box.text.contains(Tr("Safety", "W0001")));
    QVERIFY(box.text.contains(QString::fromStdString(DescribeRadio(VirtualPresetInfo(VirtualPreset::Variant0)))));
    QVERIFY(box.text.contains(QString::fromStdString(DescribeRadio(VirtualPresetInfo(VirtualPreset::Variant1)))));
    QCOMPARE(FrameCodes(env().radio()), QList<std::uint16_t>{cmd::kReadInfo});
    QCOMPARE(env().radio().storedImage().bytes, radioBefore.bytes);
}

void SafetyTest::expertOverrideNeedsTwoAnswers() {
    start(VirtualPreset::Variant0);
    env().writeFile(QStringLiteral("mobile.tdb"), ArchiveOf(VirtualPreset::Variant1));
    app::StartupOptions options;
    options.expertMode = true;
    QVERIFY(open(Shown::No, options));
    QVERIFY(expertMode);
    QVERIFY(form().OpenArchive(env().filePath(QStringLiteral("mobile.tdb"))));
    env().radio().clearReceivedFrames();

    // Yes to the first question, no to the second: nothing written.
    env().dialogs().answers << ui::MessageResult::Ok << ui::MessageResult::Cancel;
    form().SpeedButton1->click();
    test::RunMainWindowPolls(form());
    QCOMPARE(env().dialogs().messages.size(), 2);
    QCOMPARE(env().dialogs().messages[0].kind, ui::MessageKind::Question);
    QVERIFY(env().dialogs().messages[0].text.contains(Tr("Safety", "W0004")));
    QVERIFY(env().dialogs().messages[1].text.contains(QStringLiteral("VR-D200 ")));
    QCOMPARE(FrameCodes(env().radio()), QList<std::uint16_t>{cmd::kReadInfo});

    // Yes to both: the image goes out as it is (512 bytes).
    env().dialogs().messages.clear();
    env().radio().clearReceivedFrames();
    form().SpeedButton1->click();
    test::RunMainWindowPolls(form());
    QCOMPARE(FrameCodes(env().radio()), (QList<std::uint16_t>{cmd::kReadInfo, cmd::kWriteAll}));
    QCOMPARE(env().dialogs().messages.last().text, Tr("MessageBox", "M012"));
}

void SafetyTest::implausibleArchiveWarnsAndNeedsExpertMode() {
    start(VirtualPreset::Variant0);
    QByteArray bytes = ArchiveOf(VirtualPreset::Variant0);
    bytes[89] = 7;  // modelVariant
    // Point 2 of band half 0: transmit 43.5 MHz (0x0297C1E0), big-endian at image byte 4.
    const char tx[] = {0x02, char(0x97), char(0xC1), char(0xE0)};
    std::memcpy(bytes.data() + RadioInfo::kSize + 4, tx, 4);
    env().writeFile(QStringLiteral("odd.tdb"), bytes);
    QVERIFY(open());
    QVERIFY(form().OpenArchive(env().filePath(QStringLiteral("odd.tdb"))));
    QCOMPARE(form().openTuningWindows().size(), 1);  // it opens, with a warning
    QCOMPARE(env().dialogs().messages.size(), 1);
    const QString warning = env().dialogs().messages.first().text;
    QVERIFY(warning.contains(Tr("Safety", "P0001")));
    QVERIFY(warning.contains(Tr("Safety", "P0003").arg(7)));
    QVERIFY(warning.contains(Tr("Safety", "P0004").arg(0).arg(2).arg(QStringLiteral("43.500000"))));

    // The attached radio has the same identity fields but variant 7 differs:
    // make the radio's block match so that only plausibility speaks.
    RadioInfo odd = env().radio().info();
    odd.bytes[89] = 7;
    env().radio().setInfo(odd);
    env().dialogs().messages.clear();
    env().radio().clearReceivedFrames();
    form().SpeedButton1->click();
    test::RunMainWindowPolls(form());
    QCOMPARE(env().dialogs().messages.size(), 1);
    QCOMPARE(env().dialogs().messages.first().kind, ui::MessageKind::Error);
    QVERIFY(env().dialogs().messages.first().text.contains(Tr("Safety", "W0008")));
    QCOMPARE(FrameCodes(env().radio()), QList<std::uint16_t>{cmd::kReadInfo});
}

// ---------------------------------------------------------------------------
// 4.

void SafetyTest::factoryReadAsksAndSendsNoLiveValue() {
    start(VirtualPreset::Variant0);
    TunerImage factory = env().radio().factoryImage();
    factory[116] = 33;  // item 10, point 1
    env().radio().setFactoryImage(factory);
    QVERIFY(tune(Shown::Yes));
    TMDIChild& w = tuned();
    Select(w, 24);  // the power page, item 10 sent at point 1
    // A change of the operator's own: one step up in the low column.
    QTest::keyClick(w.control<QLineEdit>(QStringLiteral("Edit7")), Qt::Key_Up);
    QVERIFY(ImageModified(tunerImage));

    bool refusedAsked = false;
    bool readDone = false;
    env().dialogs().onDialog = [&](QDialog* dialog) {
        auto* f = qobject_cast<TFactroyForm*>(dialog);
        if (f == nullptr) return int(QDialog::Rejected);
        f->show();
        // Refused: nothing sent, the image as it was.
        const TunerImage before = tunerImage;
        env().radio().clearReceivedFrames();
        env().dialogs().messages.clear();
        env().dialogs().answers << ui::MessageResult::Cancel;
        QTest::mouseClick(f->Button1, Qt::LeftButton);
        refusedAsked = env().dialogs().messages.size() == 1 &&
                       env().dialogs().messages.first().text.contains(Tr("Safety", "F0002"));
        if (!env().radio().receivedFrames().empty() || tunerImage.bytes != before.bytes) return int(QDialog::Rejected);
        // Agreed: the factory copy comes in and is shown, not sent.
        QTest::mouseClick(f->Button1, Qt::LeftButton);
        for (int i = 0; i < 200 && f->ReadFactroyInfoTimer->isActive(); ++i) f->ReadFactroyInfoTimerTimer();
        readDone = f->isVisible() && f->ListBox1->count() == 1 &&
                   f->ListBox1->item(0)->text() == Tr("Factroy", "F0003");
        f->hide();
        return int(QDialog::Rejected);
    };
    form().N1->trigger();
    QVERIFY(refusedAsked);
    QVERIFY(readDone);
    QCOMPARE(FrameCodes(env().radio()), QList<std::uint16_t>{cmd::kReadFactory});
    QCOMPARE(tunerImage[116], std::uint8_t{33});
    QCOMPARE(w.control<tuning::TUpDown>(QStringLiteral("UpDown7"))->position(), 33);
    QVERIFY(LogHas(w, Tr("Safety", "L0004")));
    QVERIFY(w.windowTitle().endsWith(QLatin1Char('*')));
}

// ---------------------------------------------------------------------------
// 5.

void SafetyTest::archiveOpenRefusedWhileTunedIsCancelled() {
    start(VirtualPreset::Variant0);
    env().writeFile(QStringLiteral("mobile.tdb"), ArchiveOf(VirtualPreset::Variant1));
    QVERIFY(tune());
    TMDIChild* window = form().tuningWindow;
    const RadioInfo info = radioInfo;
    const TunerImage image = tunerImage;
    env().radio().clearReceivedFrames();
    env().dialogs().messages.clear();

    // "Leave tuner mode?" answered Cancel: the open is cancelled.
    env().dialogs().openNames << env().filePath(QStringLiteral("mobile.tdb"));
    env().dialogs().answers << ui::MessageResult::Cancel;
    form().SpeedButton2->click();
    QCOMPARE(env().dialogs().messages.size(), 1);
    QCOMPARE(env().dialogs().messages.first().text, Tr("MessageBox", "M011"));
    QCOMPARE(form().openTuningWindows(), QList<TMDIChild*>{window});
    QCOMPARE(form().tuningWindow.data(), window);
    QVERIFY(radioInfo.bytes == info.bytes);
    QVERIFY(tunerImage.bytes == image.bytes);
    QVERIFY(inTunerMode);
    QVERIFY(env().radio().receivedFrames().empty());
    QVERIFY(form().SpeedButton1->isEnabled());

    // Answered OK: tuner mode is left, then the archive opens.
    env().dialogs().openNames << env().filePath(QStringLiteral("mobile.tdb"));
    form().SpeedButton2->click();
    QCOMPARE(form().openTuningWindows().size(), 1);
    QVERIFY(!inTunerMode);
    QCOMPARE(radioInfo.modelVariant(), 1);
    QCOMPARE(form().tuningWindow->windowTitle(), QStringLiteral("mobile.tdb"));
    QCOMPARE(FrameCodes(env().radio()), QList<std::uint16_t>{cmd::kExitTunerMode});
}

void SafetyTest::documentCommandsFollowTheTuningWindow() {
    start(VirtualPreset::Variant0);
    env().writeFile(QStringLiteral("a.tdb"), ArchiveOf(VirtualPreset::Variant0));
    QVERIFY(open());
    const auto on = [this] {
        return form().SpeedButton1->isEnabled() && form().SpeedButton3->isEnabled() && form().FileSaveItem->isEnabled() &&
               form().FileSaveAsItem->isEnabled() && form().ParamItem->isEnabled();
    };
    const auto off = [this] {
        return !form().SpeedButton1->isEnabled() && !form().SpeedButton3->isEnabled() &&
               !form().FileSaveItem->isEnabled() && !form().FileSaveAsItem->isEnabled() && !form().ParamItem->isEnabled();
    };
    QVERIFY(off());
    QVERIFY(form().OpenArchive(env().filePath(QStringLiteral("a.tdb"))));
    QVERIFY(on());
    QVERIFY(form().OpenArchive(env().filePath(QStringLiteral("a.tdb"))));  // the window is replaced
    QVERIFY(on());
    QVERIFY(form().tuningWindow->close());
    QVERIFY(off());
}

// ---------------------------------------------------------------------------
// 6.

void SafetyTest::modifiedMarkerAndQuestions() {
    start(VirtualPreset::Variant0);
    QVERIFY(tune(Shown::Yes));
    TMDIChild& w = tuned();
    QCOMPARE(w.windowTitle(), QStringLiteral("Untitled.tdb"));
    QVERIFY(LogHas(w, Tr("Safety", "L0001").arg(QString::fromStdString(DescribeRadio(radioInfo)))));
    Select(w, 32);  // selecting sends the stored value: nothing changes
    QCOMPARE(w.windowTitle(), QStringLiteral("Untitled.tdb"));
    QTest::keyClick(w.control<QLineEdit>(QStringLiteral("Edit7")), Qt::Key_Up);
    QCOMPARE(w.windowTitle(), QStringLiteral("Untitled.tdb*"));

    // Closing asks: Cancel keeps the window and the image.
    env().dialogs().messages.clear();
    env().dialogs().answers << ui::MessageResult::Cancel;
    QVERIFY(!w.close());
    QCOMPARE(env().dialogs().messages.size(), 1);
    QCOMPARE(env().dialogs().messages.first().text, Tr("Safety", "M0001"));
    QCOMPARE(env().dialogs().messages.first().buttons, ui::MessageButtons::SaveDiscardCancel);
    QVERIFY(inTunerMode);

    // So does closing the program; Save with a name saves and goes on to
    // the tuner-mode question, answered Cancel here.
    const QString path = env().defaultDataDirectory() + QStringLiteral("kept.tdb");
    env().dialogs().messages.clear();
    env().dialogs().saveNames << path;
    env().dialogs().answers << ui::MessageResult::Ok << ui::MessageResult::Cancel;
    QVERIFY(!form().close());
    QCOMPARE(env().dialogs().messages.size(), 2);
    QCOMPARE(env().dialogs().messages[1].text, Tr("MessageBox", "M011"));
    QVERIFY(QFileInfo::exists(path));
    QCOMPARE(w.windowTitle(), QStringLiteral("kept.tdb"));
    QVERIFY(!ImageModified(tunerImage));
}

void SafetyTest::enteringOverAModifiedImageAsks() {
    start(VirtualPreset::Variant0);
    QVERIFY(tune(Shown::Yes));
    TMDIChild& w = tuned();
    Select(w, 32);
    QTest::keyClick(w.control<QLineEdit>(QStringLiteral("Edit7")), Qt::Key_Up);
    QVERIFY(test::LeaveTunerMode(form()));
    const TunerImage changed = tunerImage;
    env().radio().clearReceivedFrames();
    env().dialogs().messages.clear();

    env().dialogs().answers << ui::MessageResult::Cancel;
    form().SpeedButton4->click();
    QCOMPARE(env().dialogs().messages.size(), 1);
    QCOMPARE(env().dialogs().messages.first().text, Tr("Safety", "M0001"));
    QVERIFY(env().radio().receivedFrames().empty());
    QCOMPARE(tunerImage.bytes, changed.bytes);
    QCOMPARE(form().tuningWindow.data(), &w);

    // Discard: entry goes on with the usual frames and reads the radio anew.
    env().dialogs().answers << ui::MessageResult::Discard;
    QVERIFY(test::EnterTunerMode(form()));
    QCOMPARE(FrameCodes(env().radio()), (QList<std::uint16_t>{cmd::kReadInfo, cmd::kEnterTunerMode}));
    QVERIFY(!ImageModified(tunerImage));
    QCOMPARE(form().tuningWindow->windowTitle(), QStringLiteral("Untitled.tdb"));
}

// ---------------------------------------------------------------------------
// 7.

void SafetyTest::entryLeavesABackup() {
    start(VirtualPreset::LargeNewFirmware);
    QVERIFY(tune());
    const QDir folder(env().defaultDataDirectory() + QStringLiteral("backups"));
    const QStringList files = folder.entryList(QDir::Files);
    QCOMPARE(files.size(), 1);
    QVERIFY(files.first().startsWith(QStringLiteral("VR-D500_")));
    QVERIFY(files.first().endsWith(QStringLiteral(".tdb")));
    QCOMPARE(form().lastBackupPath(), folder.filePath(files.first()));
    QFile file(folder.filePath(files.first()));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QCOMPARE(bytes.size(), qsizetype(1104));
    QVERIFY(std::memcmp(bytes.constData(), env().radio().info().bytes.data(), 256) == 0);
    QVERIFY(std::memcmp(bytes.constData() + 256, env().radio().storedImage().bytes.data(), 848) == 0);
    QVERIFY(LogHas(*form().tuningWindow, files.first()));
}

void SafetyTest::failedBackupIsShownAndTuningGoesOn() {
    start(VirtualPreset::Variant0);
    // A file where the backup folder should be.
    env().writeFile(QStringLiteral("Default Data/backups"), QByteArray("in the way"));
    QVERIFY(tune());
    QVERIFY(form().tuningWindow != nullptr);
    QVERIFY(form().lastBackupPath().isEmpty());
    QVERIFY(form().statusPanelText(1).startsWith(Tr("Safety", "B0002").section(QStringLiteral("%1"), 0, 0)));
}

// ---------------------------------------------------------------------------
// 8.

void SafetyTest::parameterEditorCancelRestoresTheBandShownInTheWindow() {
    start(VirtualPreset::Variant0);
    QVERIFY(tune());
    TMDIChild& w = tuned();
    QCOMPARE(w.BandLabel()->text(), Tr("Safety", "K0001").arg(QStringLiteral("400-470 MHz")));

    env().dialogs().onDialog = SwitchBandInEditor(1, /*confirm=*/false);
    form().ParamItem->trigger();
    QCOMPARE(band, 0);
    QCOMPARE(w.BandLabel()->text(), Tr("Safety", "K0001").arg(QStringLiteral("400-470 MHz")));

    env().dialogs().onDialog = SwitchBandInEditor(1, /*confirm=*/true);
    form().ParamItem->trigger();
    QCOMPARE(band, 1);
    QCOMPARE(w.BandLabel()->text(), Tr("Safety", "K0001").arg(QStringLiteral("136-174 MHz")));
}

// ---------------------------------------------------------------------------

void SafetyTest::chineseTexts() {
    start(VirtualPreset::Variant2);
    env().writeSettingsLanguage(QStringLiteral("chinese"));
    QVERIFY(tune(Shown::Yes));
    TMDIChild& w = tuned();
    const QString noPage = Tr("Safety", "Z0001");
    QVERIFY(noPage.contains(QStringLiteral("机型")));
    Select(w, 24);
    QCOMPARE(w.NoPage()->text(), noPage);
    QCOMPARE(w.BandLabel()->text(), Tr("Safety", "K0001").arg(QStringLiteral("400-470 MHz")));

    env().dialogs().messages.clear();
    env().dialogs().answers << ui::MessageResult::Cancel;
    form().SpeedButton1->click();
    test::RunMainWindowPolls(form());
    QCOMPARE(env().dialogs().messages.size(), 1);
    QVERIFY(env().dialogs().messages.first().text.contains(Tr("Safety", "W0007").section(QStringLiteral("%1"), 0, 0)));
    QVERIFY(env().dialogs().messages.first().text.startsWith(QStringLiteral("将全部调测数据")));
}

QTEST_MAIN(SafetyTest)
#include "safety_test.moc"
