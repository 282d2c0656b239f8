// The factory dialog against the virtual radio: reading the factory copy
// into the tuner image, a radio that does not answer, the retry after such an
// expiry, and the hidden write. The poll timers are driven by calling their
// handlers, one call per tick.
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "data/Global.h"
#include "dialogs/TFactroyForm.h"
#include "lang/Loadlanguage.h"
#include "protocol/Sendcmd.h"
#include "support/RadioFrames.h"
#include "support/TestEnvironment.h"

using namespace varnel;
using varnel::test::TestEnvironment;
using varnel::test::Tr;
using varnel::test::FrameCode;

Q_DECLARE_METATYPE(varnel::VirtualPreset)
Q_DECLARE_METATYPE(varnel::Fault)

namespace {

// Ticks the timer's handler while the timer runs; returns the number of ticks.
int RunPoll(QTimer* timer, TFactroyForm& form, void (TFactroyForm::*tick)(), int maxTicks = 1000) {
    int ticks = 0;
    while (timer->isActive() && ticks < maxTicks) {
        (form.*tick)();
        ++ticks;
    }
    return ticks;
}

// A factory copy that differs from everything else in the test.
TunerImage FactoryPattern() {
    TunerImage image;
    for (std::size_t i = 0; i < TunerImage::kSize; ++i) image[i] = static_cast<std::uint8_t>(i * 3 + 11);
    return image;
}

TunerImage ProgramPattern() {
    TunerImage image;
    for (std::size_t i = 0; i < TunerImage::kSize; ++i) image[i] = static_cast<std::uint8_t>(0xA0 ^ (i * 5));
    return image;
}

// The link that entering tuner mode leaves open.
void OpenLinkAsTunerModeDoes() {
    ScanRadioDrives();
    linkHandle = OpenRadio();
    QVERIFY(linkHandle != nullptr);
}

}  // namespace

class FactoryDialogTest : public QObject {
    Q_OBJECT

private slots:
    void showSetsTextsAndEmptiesTheList_data();
    void showSetsTextsAndEmptiesTheList();
    void readReplacesTheBandHalvesAndStaysOpen_data();
    void readReplacesTheBandHalvesAndStaysOpen();
    void lateAnswerStillMatches();
    void noAnswerLeavesTheDialogOpen_data();
    void noAnswerLeavesTheDialogOpen();
    void retryAfterExpiryOpensTheRadioAgain();
    void retryWithoutRadioShowsTheOpenError();
    void hiddenWriteSendsTheWholeImage();
};

void FactoryDialogTest::showSetsTextsAndEmptiesTheList_data() {
    QTest::addColumn<int>("language");
    QTest::addColumn<int>("points");
    QTest::newRow("english") << kLanguageEnglish << 8;
    QTest::newRow("chinese") << kLanguageChinese << 10;
}

void FactoryDialogTest::showSetsTextsAndEmptiesTheList() {
    QFETCH(int, language);
    QFETCH(int, points);
    TestEnvironment env;
    OpenLanguage(language);
    TFactroyForm form;
    form.ListBox1->addItem(QStringLiteral("left over"));
    form.show();
    // The caption comes from the language file (the design's "Factroy" was
    // shown untranslated and misspelt).
    QCOMPARE(form.windowTitle(), Tr("Tuner", "F0001"));
    QVERIFY(!form.windowTitle().isEmpty());
    QCOMPARE(form.font().pointSize(), points);
    QVERIFY(!Tr("Factroy", "F0001").isEmpty());
    QCOMPARE(form.Button1->text(), Tr("Factroy", "F0001"));
    QCOMPARE(form.Button2->text(), Tr("Factroy", "F0002"));
    QVERIFY(form.Button1->isVisible());
    QVERIFY(!form.Button2->isVisible());
    QCOMPARE(form.ListBox1->count(), 0);
    QCOMPARE(form.size(), QSize(336, 331));
    QVERIFY(!form.ReadFactroyInfoTimer->isActive());
    QVERIFY(!form.WriteFactroyInfoTimer->isActive());
    QCOMPARE(form.ReadFactroyInfoTimer->interval(), 10);
    QCOMPARE(form.WriteFactroyInfoTimer->interval(), 10);
}

void FactoryDialogTest::readReplacesTheBandHalvesAndStaysOpen_data() {
    QTest::addColumn<VirtualPreset>("preset");
    QTest::newRow("small model") << VirtualPreset::Variant0;
    QTest::newRow("large model") << VirtualPreset::LargeNewFirmware;
}

void FactoryDialogTest::readReplacesTheBandHalvesAndStaysOpen() {
    QFETCH(VirtualPreset, preset);
    TestEnvironment env(preset);
    OpenLanguage(kLanguageEnglish);
    OpenLinkAsTunerModeDoes();
    const TunerImage factory = FactoryPattern();
    env.radio().setFactoryImage(factory);
    tunerImage = ProgramPattern();
    const TunerImage before = tunerImage;

    TFactroyForm form;
    int calls = 0;
    bool replacedBeforeHook = false;
    form.setFactoryReadHandler([&] {
        ++calls;
        replacedBeforeHook = std::equal(factory.bytes.begin(), factory.bytes.begin() + 512, tunerImage.bytes.begin());
    });
    form.show();
    env.radio().clearReceivedFrames();
    form.Button1Click();
    QVERIFY(form.ReadFactroyInfoTimer->isActive());
    // One frame: 0x0065 with no payload, and a 521-byte reply expected.
    QCOMPARE(env.radio().receivedFrames().size(), std::size_t{1});
    const std::vector<std::uint8_t> expected{0xA1, 0x00, 0x65, 0x00, 0x00, 0x00, 0x00, 0xA4};
    QCOMPARE(env.radio().receivedFrames().front(), expected);
    QCOMPARE(pendingReplyLength, std::uint16_t{521});

    const int ticks = RunPoll(form.ReadFactroyInfoTimer, form, &TFactroyForm::ReadFactroyInfoTimerTimer);
    QCOMPARE(ticks, 1);
    QVERIFY(!form.ReadFactroyInfoTimer->isActive());
    QVERIFY(std::equal(factory.bytes.begin(), factory.bytes.begin() + 512, tunerImage.bytes.begin()));
    QVERIFY(std::equal(before.bytes.begin() + 512, before.bytes.end(), tunerImage.bytes.begin() + 512));
    QCOMPARE(calls, 1);
    QVERIFY(replacedBeforeHook);
    QCOMPARE(form.ListBox1->count(), 1);
    QCOMPARE(form.ListBox1->item(0)->text(), Tr("Factroy", "F0003"));
    // The dialog stays open so that its result can be read.
    QVERIFY(form.isVisible());
    QCOMPARE(pollTicks, std::uint16_t{0});
    QCOMPARE(pollRetries, std::uint8_t{0});
    QVERIFY(linkHandle != nullptr);  // the link stays for the tuning window
    // The one message is the consent asked before the read.
    QCOMPARE(env.dialogs().messages.size(), 1);
    QCOMPARE(env.dialogs().messages.first().kind, ui::MessageKind::Question);
}

void FactoryDialogTest::lateAnswerStillMatches() {
    TestEnvironment env;
    OpenLinkAsTunerModeDoes();
    const TunerImage factory = FactoryPattern();
    env.radio().setFactoryImage(factory);
    env.radio().setFault(Fault::AnswerAfterReads, 7);
    TFactroyForm form;
    form.show();
    form.Button1Click();
    QCOMPARE(RunPoll(form.ReadFactroyInfoTimer, form, &TFactroyForm::ReadFactroyInfoTimerTimer), 7);
    QCOMPARE(tunerImage[511], factory[511]);
    QVERIFY(form.isVisible());
    QCOMPARE(form.ListBox1->count(), 1);
}

void FactoryDialogTest::noAnswerLeavesTheDialogOpen_data() {
    QTest::addColumn<Fault>("fault");
    QTest::newRow("no answer") << Fault::NoAnswer;
    QTest::newRow("wrong checksum") << Fault::WrongChecksum;
    QTest::newRow("wrong command code") << Fault::WrongCommandCode;
}

void FactoryDialogTest::noAnswerLeavesTheDialogOpen() {
    QFETCH(Fault, fault);
    TestEnvironment env;
    OpenLanguage(kLanguageEnglish);
    OpenLinkAsTunerModeDoes();
    env.radio().setFactoryImage(FactoryPattern());
    env.radio().setFault(fault);
    tunerImage = ProgramPattern();
    const TunerImage before = tunerImage;
    TFactroyForm form;
    int calls = 0;
    form.setFactoryReadHandler([&] { ++calls; });
    form.show();
    form.Button1Click();
    QCOMPARE(RunPoll(form.ReadFactroyInfoTimer, form, &TFactroyForm::ReadFactroyInfoTimerTimer), 100);
    QVERIFY(!form.ReadFactroyInfoTimer->isActive());
    QVERIFY(form.isVisible());
    QCOMPARE(form.ListBox1->count(), 0);
    QVERIFY(linkHandle == nullptr);
    QCOMPARE(pollTicks, std::uint16_t{0});
    QCOMPARE(pollRetries, std::uint8_t{0});
    QCOMPARE(tunerImage.bytes, before.bytes);
    QCOMPARE(calls, 0);
    // Silent: the only message is the consent asked before the read.
    QCOMPARE(env.dialogs().messages.size(), 1);
    QCOMPARE(env.dialogs().messages.first().kind, ui::MessageKind::Question);
}

void FactoryDialogTest::retryAfterExpiryOpensTheRadioAgain() {
    TestEnvironment env;
    OpenLanguage(kLanguageEnglish);
    OpenLinkAsTunerModeDoes();
    const TunerImage factory = FactoryPattern();
    env.radio().setFactoryImage(factory);
    env.radio().setFault(Fault::NoAnswer);
    TFactroyForm form;
    int calls = 0;
    form.setFactoryReadHandler([&] { ++calls; });
    form.show();
    form.Button1Click();
    RunPoll(form.ReadFactroyInfoTimer, form, &TFactroyForm::ReadFactroyInfoTimerTimer);
    QVERIFY(linkHandle == nullptr);

    // The radio answers again; the second press scans and opens it anew.
    env.radio().setFault(Fault::None);
    const int opensBefore = env.backend().openCount();
    env.radio().clearReceivedFrames();
    form.Button1Click();
    QCOMPARE(env.backend().openCount(), opensBefore + 1);
    QVERIFY(linkHandle != nullptr);
    QCOMPARE(env.radio().receivedFrames().size(), std::size_t{1});
    QCOMPARE(FrameCode(env.radio().receivedFrames().front()), cmd::kReadFactory);
    // A full budget: the expiry left the counters at zero.
    QCOMPARE(RunPoll(form.ReadFactroyInfoTimer, form, &TFactroyForm::ReadFactroyInfoTimerTimer), 1);
    QVERIFY(std::equal(factory.bytes.begin(), factory.bytes.begin() + 512, tunerImage.bytes.begin()));
    QCOMPARE(calls, 1);
    QVERIFY(form.isVisible());  // the result stays readable
    // Only the consent asked before each press.
    QCOMPARE(env.dialogs().messages.size(), 2);
    for (const auto& m : env.dialogs().messages) QCOMPARE(m.kind, ui::MessageKind::Question);
}

void FactoryDialogTest::retryWithoutRadioShowsTheOpenError() {
    TestEnvironment env;
    OpenLanguage(kLanguageEnglish);
    OpenLinkAsTunerModeDoes();
    env.radio().setFault(Fault::NoAnswer);
    TFactroyForm form;
    form.show();
    form.Button1Click();
    RunPoll(form.ReadFactroyInfoTimer, form, &TFactroyForm::ReadFactroyInfoTimerTimer);
    QVERIFY(linkHandle == nullptr);

    env.setRadioPresent(false);
    env.radio().clearReceivedFrames();
    env.dialogs().messages.clear();
    form.Button1Click();
    QVERIFY(linkHandle == nullptr);
    QVERIFY(!form.ReadFactroyInfoTimer->isActive());
    QVERIFY(env.radio().receivedFrames().empty());
    // The consent, then the error.
    QCOMPARE(env.dialogs().messages.size(), 2);
    const varnel::test::RecordedMessage& box = env.dialogs().messages.back();
    QCOMPARE(box.kind, ui::MessageKind::Error);
    QCOMPARE(box.caption, QStringLiteral("Varnel"));
    QVERIFY(!Tr("MessageBox", "M010").isEmpty());
    QCOMPARE(box.text, Tr("MessageBox", "M010"));
    QCOMPARE(box.buttons, ui::MessageButtons::Ok);
    QVERIFY(form.isVisible());

    // A press while the link is open does not scan again.
    env.setRadioPresent(true);
    form.Button1Click();  // opens
    const int opens = env.backend().openCount();
    form.ReadFactroyInfoTimer->stop();
    form.Button1Click();
    QCOMPARE(env.backend().openCount(), opens);
}

void FactoryDialogTest::hiddenWriteSendsTheWholeImage() {
    TestEnvironment env(VirtualPreset::LargeNewFirmware);
    OpenLanguage(kLanguageEnglish);
    OpenLinkAsTunerModeDoes();
    tunerImage = ProgramPattern();
    TFactroyForm form;
    form.show();
    env.radio().clearReceivedFrames();
    form.Button2Click();
    QVERIFY(form.WriteFactroyInfoTimer->isActive());
    QCOMPARE(env.radio().receivedFrames().size(), std::size_t{1});
    const std::vector<std::uint8_t>& frame = env.radio().receivedFrames().front();
    QCOMPARE(FrameCode(frame), cmd::kWriteFactory);
    QCOMPARE(frame.size(), std::size_t{848 + 8});
    QCOMPARE(RunPoll(form.WriteFactroyInfoTimer, form, &TFactroyForm::WriteFactroyInfoTimerTimer), 1);
    QCOMPARE(env.radio().factoryImage().bytes, tunerImage.bytes);
    QCOMPARE(form.ListBox1->count(), 1);
    QCOMPARE(form.ListBox1->item(0)->text(), Tr("Factroy", "F0004"));
    QVERIFY(form.isVisible());  // a write does not end the dialog
    QCOMPARE(pollTicks, std::uint16_t{0});

    // No answer to the write: silent expiry, link closed.
    env.radio().setFault(Fault::NoAnswer);
    form.Button2Click();
    QCOMPARE(RunPoll(form.WriteFactroyInfoTimer, form, &TFactroyForm::WriteFactroyInfoTimerTimer), 100);
    QVERIFY(linkHandle == nullptr);
    QCOMPARE(form.ListBox1->count(), 1);
    QVERIFY(env.dialogs().messages.isEmpty());
}

QTEST_MAIN(FactoryDialogTest)
#include "factory_dialog_test.moc"
