// What the tuning window and the parameter editor show is what they store
// and send: the editor refuses values it cannot store and its Confirm sends
// nothing; the raw node "1233" shows exactly what it sends and changes no
// other item; arrow keys reach every point; the log and the status texts name
// items by their captions; a language switch keeps the log and the selection.
// Each case on the virtual radio, with the normal path's frames compared
// byte for byte.
#include <QApplication>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTableWidget>
#include <QTest>

#include "dialogs/TParamForm.h"
#include "protocol/FrameDecode.h"
#include "support/TuningFixture.h"
#include "tuning/PageTables.h"
#include "ui/FeedbackTexts.h"

using namespace varnel;
using namespace varnel::tuning;
using namespace varnel::test;

namespace {

std::uint32_t Tx(int point) { return tunerImage.txFrequencyIn(0, point - 1); }
std::uint32_t Rx(int point) { return tunerImage.rxFrequencyIn(0, point - 1); }

// Replaces the cell editor's text by typing `keys` and leaves the cell.
void TypeIntoCell(TParamForm& form, int col, int row, const QString& keys) {
    form.StringGrid1SelectCell(col, row);
    QVERIFY(form.editorOpen());
    form.Edit1->selectAll();
    QTest::keyClick(form.Edit1, Qt::Key_Backspace);
    QTest::keyClicks(form.Edit1, keys);
    form.Edit1Exit();
}

// True when the window's picture has the blue focus ring around `control`.
bool HasRing(TMDIChild& w, QWidget* control) {
    if (control == nullptr) return false;
    const QImage picture = w.grab().toImage();
    if (qEnvironmentVariableIsSet("VARNEL_SHOTS")) {
        picture.save(qEnvironmentVariable("VARNEL_SHOTS") + "/ring-" + control->objectName() + ".png");
    }
    const QRect ring = QRect(control->mapTo(&w, QPoint(0, 0)), control->size()).adjusted(-3, -3, 2, 2);
    int blue = 0;
    for (int x = ring.left(); x <= ring.right(); ++x) {
        for (const int y : {ring.top(), ring.top() + 1, ring.bottom(), ring.bottom() - 1}) {
            if (!picture.rect().contains(x, y)) continue;
            const QColor c = picture.pixelColor(x, y);
            if (c.blue() > 200 && c.red() < 120 && c.green() > 120) ++blue;
        }
    }
    return blue > ring.width() / 2;
}

}  // namespace

class ScreenAndRadioTest : public TuningWindowCase {
    Q_OBJECT

private slots:
    void editorRefusesWhatItCannotStore_data();
    void editorRefusesWhatItCannotStore();
    void editorStoresWholeNumbersOfTheRange();
    void confirmSendsNothing();
    void rawNodeOnlyInExpertMode();
    void rawNodeShowsWhatItSendsAndChangesNoOtherItem();
    void arrowKeysReachEveryPoint();
    void logAndStatusNameTheColumn();
    void receiveItemsLogTheReceiveFrequency();
    void languageSwitchKeepsLogAndSelection();
    void batteryPagesSayWhatTheyAreFor();
    void longFailureLinesKeepTheColumnsInView();
    void pagesFitBesideTheChart_data();
    void pagesFitBesideTheChart();
};

void ScreenAndRadioTest::editorRefusesWhatItCannotStore_data() {
    QTest::addColumn<int>("language");
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("range");
    // Byte cell: row 11 (item 4), point 2 = byte 69; FSK word: row 34 point 1 = 536.
    QTest::newRow("point") << kLanguageEnglish << 11 << QStringLiteral("43.5") << QStringLiteral("255");
    QTest::newRow("too large with point") << kLanguageEnglish << 11 << QStringLiteral("999.9") << QStringLiteral("255");
    QTest::newRow("too large") << kLanguageEnglish << 11 << QStringLiteral("300") << QStringLiteral("255");
    QTest::newRow("letters") << kLanguageEnglish << 11 << QStringLiteral("4a") << QStringLiteral("255");
    QTest::newRow("sign") << kLanguageEnglish << 11 << QStringLiteral("-1") << QStringLiteral("255");
    QTest::newRow("word too large") << kLanguageEnglish << 34 << QStringLiteral("4097") << QStringLiteral("4096");
    QTest::newRow("chinese") << kLanguageChinese << 11 << QStringLiteral("43.5") << QStringLiteral("255");
}

void ScreenAndRadioTest::editorRefusesWhatItCannotStore() {
    QFETCH(int, language);
    QFETCH(int, row);
    QFETCH(QString, typed);
    QFETCH(QString, range);
    OpenLanguage(language);
    radioInfo = VirtualPresetInfo(VirtualPreset::LargeNewFirmware);
    tunerImage = VirtualPresetImage(VirtualPreset::LargeNewFirmware);
    const int col = row == 11 ? 2 : 1;
    const std::size_t at = row == 11 ? 69 : 536;
    const std::uint16_t old = row == 11 ? tunerImage[at] : tunerImage.word(at);
    TParamForm form;
    form.show();
    TypeIntoCell(form, col, row, typed);
    // Nothing typed vanished: the whole text was seen and refused.
    QCOMPARE(env_->dialogs().messages.size(), 1);
    const QString text = env_->dialogs().messages.first().text;
    QVERIFY2(text.contains(typed), qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("0")) && text.contains(range), qPrintable(text));
    QVERIFY2(text.contains(QString::number(old)), qPrintable(text));
    QCOMPARE(text, TestEnvironment::text("Pages", "V0001")
                       .replace("%1", typed).replace("%2", "0").replace("%3", range).replace("%4", QString::number(old)));
    const std::uint16_t kept = row == 11 ? form.editImage[at] : form.editImage.word(at);
    QCOMPARE(kept, old);
    QCOMPARE(form.cellText(col, row), QString::number(old));
    // Confirm stores nothing new either.
    form.Button3Click();
    QCOMPARE(row == 11 ? std::uint16_t{tunerImage[at]} : tunerImage.word(at), old);
}

void ScreenAndRadioTest::editorStoresWholeNumbersOfTheRange() {
    radioInfo = VirtualPresetInfo(VirtualPreset::LargeNewFirmware);
    tunerImage = VirtualPresetImage(VirtualPreset::LargeNewFirmware);
    TParamForm form;
    form.show();
    TypeIntoCell(form, 2, 11, QStringLiteral("255"));  // the top of a byte
    TypeIntoCell(form, 3, 11, QStringLiteral("0"));
    TypeIntoCell(form, 1, 34, QStringLiteral("4096"));  // the top of an FSK word
    QVERIFY(env_->dialogs().messages.isEmpty());
    QCOMPARE(form.editImage[69], std::uint8_t{255});
    QCOMPARE(form.editImage[70], std::uint8_t{0});
    QCOMPARE(form.editImage.word(536), std::uint16_t{4096});
    QCOMPARE(form.cellText(1, 34), QStringLiteral("4096"));
}

void ScreenAndRadioTest::confirmSendsNothing() {
    w_ = OpenTuningWindow(*env_, host_);
    // The operator works on the CTCSS item (key 4) at point 2.
    QVERIFY(SelectNode(*w_, 4));
    w_->PointDoubleClicked(Page::Ctcss, 2);
    SettleVerifyingPolls(*w_);
    radio().clearReceivedFrames();
    const int before = tunerImage[68 + 1];
    TParamForm form;
    form.setConfirmHandler([this] { w_->imageEdited(); });
    form.show();
    const int edited = before == 200 ? 201 : 200;
    TypeIntoCell(form, 2, 11, QString::number(edited));  // item 4, point 2
    form.Button3Click();
    SettleVerifyingPolls(*w_);
    // Nothing went to the radio; the page shows the new value, the point stays.
    QVERIFY2(frames().empty(), "Confirm sent a frame");
    QCOMPARE(tunerImage[69], std::uint8_t(edited));
    QCOMPARE(w_->control<TUpDown>("UpDown24")->position(), edited);
    QCOMPARE(currentItem, 4);
    QCOMPARE(currentPoint, 2);
    // Positive control: choosing the point sends exactly the live-set of
    // the new value (receive item, receive off, transmit frequency of the row).
    w_->PointDoubleClicked(Page::Ctcss, 2);
    SettleVerifyingPolls(*w_);
    QCOMPARE(frames().size(), std::size_t{1});
    QCOMPARE(frames().front(), LiveSet(4, 3, 2, Tx(2), edited));
}

void ScreenAndRadioTest::rawNodeOnlyInExpertMode() {
    expertMode = false;
    w_ = OpenTuningWindow(*env_, host_);
    QVERIFY(NodeWithKey(w_->TreeView1(), 35) == nullptr);
    QVERIFY(NodeWithKey(w_->TreeView1(), 33) != nullptr);  // the power item stays
    w_.reset();
    expertMode = true;
    w_ = OpenTuningWindow(*env_, host_);
    QTreeWidgetItem* raw = NodeWithKey(w_->TreeView1(), 35);
    QVERIFY(raw != nullptr);
    QCOMPARE(raw->text(0), QStringLiteral("1233"));
    expertMode = false;
}

void ScreenAndRadioTest::rawNodeShowsWhatItSendsAndChangesNoOtherItem() {
    expertMode = true;
    w_ = OpenTuningWindow(*env_, host_);
    // T0023 first: its values are what an earlier page would leave standing.
    QVERIFY(SelectNode(*w_, 33));
    SettleVerifyingPolls(*w_);
    tunerImage[196] = 190;  // item 20, point 1 (low column)
    tunerImage[204] = 191;  // item 21, point 1 (high column), shared by 52
    w_->ReloadPageValues();
    const TunerImage before = tunerImage;
    radio().clearReceivedFrames();
    QVERIFY(SelectNode(*w_, 35));
    SettleVerifyingPolls(*w_);
    // The selection sends 52 at point 1 with the value the page shows.
    QCOMPARE(frames().size(), std::size_t{1});
    QCOMPARE(frames().front(), LiveSet(52, 1, 1, Tx(1), 191));
    QCOMPARE(w_->control<QLineEdit>("Edit1")->text(), QStringLiteral("191"));
    QCOMPARE(w_->control<QLineEdit>("Edit7")->text(), QStringLiteral("190"));
    QVERIFY(!w_->control<QPushButton>("Button2")->isEnabled());  // nothing to save
    // Steps in both columns go out under 51 and 52 with the shown value...
    radio().clearReceivedFrames();
    w_->control<TUpDown>("UpDown1")->step(+1);
    SettleVerifyingPolls(*w_);
    w_->control<TUpDown>("UpDown7")->step(-1);
    SettleVerifyingPolls(*w_);
    auto* edit1 = w_->control<QLineEdit>("Edit1");
    EnterText(edit1, QStringLiteral("300"));  // clamped to what the cell shows
    SettleVerifyingPolls(*w_);
    const std::vector<SentLiveSet> sent = SentLiveSets(radio());
    QCOMPARE(sent.size(), std::size_t{3});
    QCOMPARE(sent[0].item, 52);
    QCOMPARE(sent[0].value, 192);
    QCOMPARE(sent[1].item, 51);
    QCOMPARE(sent[1].value, 189);
    QCOMPARE(sent[2].item, 52);
    QCOMPARE(sent[2].value, 255);
    QCOMPARE(edit1->text(), QStringLiteral("255"));
    // ...and no byte of the image changed: items 20 and 21 keep their values.
    QCOMPARE(tunerImage.bytes, before.bytes);
    // Save sends nothing.
    radio().clearReceivedFrames();
    w_->SaveButtonClick(Page::Power);
    QVERIFY(frames().empty());
    // In the second band the node sends nothing at all.
    band = 1;
    radio().clearReceivedFrames();
    QVERIFY(SelectNode(*w_, 35));
    SettleVerifyingPolls(*w_);
    QVERIFY(frames().empty());
    QCOMPARE(tunerImage.bytes, before.bytes);
    band = 0;
    expertMode = false;
}

void ScreenAndRadioTest::arrowKeysReachEveryPoint() {
    w_ = OpenTuningWindow(*env_, host_);
    ShowActive(w_.get());
    QVERIFY(SelectNode(*w_, 4));  // CTCSS, point 1 selected
    SettleVerifyingPolls(*w_);
    auto* point1 = w_->control<TPointButton>("RadioButton13");
    point1->setFocus(Qt::TabFocusReason);
    radio().clearReceivedFrames();
    const char* order[] = {"RadioButton14", "RadioButton15", "RadioButton16", "RadioButton17"};
    for (const char* name : order) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
        QCOMPARE(QApplication::focusWidget()->objectName(), QString::fromLatin1(name));
        // The check stays with the live point until the point is chosen.
        QVERIFY(point1->isChecked());
    }
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);  // the last point: stays
    QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("RadioButton17"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Up);
    QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("RadioButton16"));
    QVERIFY(frames().empty());  // moving sends nothing
    // The focused point shows the ring: blue pixels around it.
    QApplication::processEvents();
    QVERIFY2(HasRing(*w_, QApplication::focusWidget()), "no focus ring around the point");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    SettleVerifyingPolls(*w_);
    QCOMPARE(currentPoint, 4);
    QCOMPARE(frames().size(), std::size_t{1});
    QCOMPARE(frames().front(), LiveSet(4, 3, 4, Tx(4), tunerImage[68 + 3]));
    // Every stop of the page shows where the focus is.
    QWidget* first = QApplication::focusWidget();
    for (int i = 0; i < 12; ++i) {
        QWidget* now = QApplication::focusWidget();
        QVERIFY(now != nullptr);
        // The chart is drawn by its own widget (not a page's control).
        if (now != w_->TreeView1() && now != w_->ListBox1() && !now->objectName().startsWith("PointChart")) {
            QVERIFY2(HasRing(*w_, now), qPrintable(now->objectName()));
        }
        QTest::keyClick(now, Qt::Key_Tab);
        QApplication::processEvents();
        if (QApplication::focusWidget() == first) break;
    }
    // The tree and the log show the focus too.
    for (QWidget* stop : {static_cast<QWidget*>(w_->TreeView1()), static_cast<QWidget*>(w_->ListBox1())}) {
        stop->setFocus(Qt::TabFocusReason);
        QApplication::processEvents();
        auto* view = qobject_cast<QAbstractScrollArea*>(stop);
        const QImage shot = view->viewport()->grab().toImage();
        const QColor corner = shot.pixelColor(1, shot.height() / 2);
        QVERIFY2(corner.blue() > 200 && corner.red() < 120, qPrintable(stop->objectName()));
    }
}

void ScreenAndRadioTest::logAndStatusNameTheColumn() {
    w_ = OpenTuningWindow(*env_, host_);
    QVERIFY(SelectNode(*w_, 32));  // "T0022", pair 18/19
    SettleVerifyingPolls(*w_);
    w_->control<TUpDown>("UpDown1")->step(+1);  // the high column: item 19
    SettleVerifyingPolls(*w_);
    QCOMPARE(currentItem, 19);
    const QString caption = TestEnvironment::text("TreeView", "T0022") + " (" +
                            TestEnvironment::text("ChildForm", "C0017") + ")";
    bool named = false;
    for (int i = 0; i < w_->ListBox1()->count(); ++i) {
        const QString words = w_->ListBox1()->item(i)->data(tuning::TuningLog::kDecodedRole).toString();
        QVERIFY2(!words.contains(QStringLiteral("item 19")), qPrintable(words));
        named = named || words.contains(caption);
    }
    QVERIFY(named);
    // The status bar's words for an acknowledged save of item 9 (high column of
    // the basic power pair), in both languages.
    for (const int language : {kLanguageEnglish, kLanguageChinese}) {
        OpenLanguage(language);
        DecodedFrame save = DecodeFrame(Save(9, std::vector<std::uint8_t>(16, 1)).data(), 23, false);
        const std::string said = DescribeAcknowledged(save, 3, ui::LanguageLookup());
        const QString expected = TestEnvironment::text("TreeView", "T0014") + " (" +
                                 TestEnvironment::text("ChildForm", "C0013") + ")";
        QVERIFY2(QString::fromStdString(said).contains(expected), said.c_str());
    }
}

void ScreenAndRadioTest::receiveItemsLogTheReceiveFrequency() {
    w_ = OpenTuningWindow(*env_, host_);
    QVERIFY(SelectNode(*w_, 4));  // CTCSS: a receive item
    w_->PointDoubleClicked(Page::Ctcss, 3);
    SettleVerifyingPolls(*w_);
    // The frame keeps the transmit frequency of the row (unchanged frames)...
    QCOMPARE(frames().back(), LiveSet(4, 3, 3, Tx(3), tunerImage[68 + 2]));
    // ...and the log says which frequency the radio receives on.
    const QString rx = QString::fromStdString(FormatMegahertz(Rx(3)));
    const QString tx = QString::fromStdString(FormatMegahertz(Tx(3)));
    bool found = false;
    for (int i = 0; i < w_->ListBox1()->count(); ++i) {
        const QString words = w_->ListBox1()->item(i)->data(tuning::TuningLog::kDecodedRole).toString();
        if (qEnvironmentVariableIsSet("VARNEL_SHOTS")) qInfo() << words;
        if (!words.contains(QStringLiteral("3"))) continue;
        QVERIFY2(!words.contains(tx), qPrintable(words));
        found = found || words.contains(rx);
    }
    QVERIFY(found);
}

void ScreenAndRadioTest::languageSwitchKeepsLogAndSelection() {
    w_ = OpenTuningWindow(*env_, host_);
    QVERIFY(SelectNode(*w_, 32));
    w_->PointDoubleClicked(Page::Power, 3);
    SettleVerifyingPolls(*w_);
    w_->KeyingButtonClick(Page::Power);  // keyed
    SettleVerifyingPolls(*w_);
    const int lines = w_->ListBox1()->count();
    QVERIFY(lines > 0);
    radio().clearReceivedFrames();
    OpenLanguage(kLanguageChinese);
    w_->FormShow();  // what the main window runs after the switch
    QVERIFY(frames().empty());
    QCOMPARE(w_->ListBox1()->count(), lines + 0);
    QCOMPARE(currentItem, 18);
    QCOMPARE(currentPoint, 3);
    QVERIFY(txKeyed);
    QCOMPARE(w_->frontPage(), w_->page(Page::Power));
    QCOMPARE(w_->TreeView1()->currentItem()->data(0, tuning::ItemTree::kStateIndexRole).toInt(), 32);
    QCOMPARE(w_->Panel1()->text(), TestEnvironment::text("TreeView", "T0022"));
    QCOMPARE(w_->control<QPushButton>("Button1")->text(), TestEnvironment::text("ChildForm", "C0014"));
    QVERIFY(w_->control<QLineEdit>("Edit9")->isEnabled());
}

void ScreenAndRadioTest::batteryPagesSayWhatTheyAreFor() {
    for (const int language : {kLanguageEnglish, kLanguageChinese}) {
        OpenLanguage(language);
        w_ = OpenTuningWindow(*env_, host_);
        QVERIFY(SelectNode(*w_, 21));  // Low Battery Warning
        auto* hint = w_->control<QLabel>("sbox_vox_hint");
        QVERIFY(hint != nullptr);
        QVERIFY(!hint->isHidden());
        QCOMPARE(hint->text(), TestEnvironment::text("Pages", "H0001"));
        QVERIFY(!hint->text().isEmpty());
        QVERIFY(SelectNode(*w_, 2));  // VOX: no such hint
        QVERIFY(hint->isHidden());
        w_.reset();
    }
}

void ScreenAndRadioTest::longFailureLinesKeepTheColumnsInView() {
    w_ = OpenTuningWindow(*env_, host_);
    QVERIFY(SelectNode(*w_, 32));
    SettleVerifyingPolls(*w_);
    TransferOutcome failed;
    failed.attempted = true;
    failed.requested = 512;
    failed.osError = 5;
    failed.scsiStatus = 0x02;
    failed.senseKey = 0x0B;
    failed.asc = 0x47;
    w_->LogTransferFailure(failed);
    QListWidget* log = w_->ListBox1();
    QListWidgetItem* line = log->item(log->count() - 1);
    const QString words = line->data(tuning::TuningLog::kDecodedRole).toString();
    // A failure's words are longer than the column may grow.
    QVERIFY(QFontMetrics(log->font()).horizontalAdvance(words) > TuningLog::kDecodedColumnMax);
    // The whole text is in the tooltip...
    QVERIFY(line->toolTip().contains(words));
    QVERIFY(line->toolTip().contains(line->text()));
    // ...and no line makes the decoded column wider than its limit.
    QStyleOptionViewItem option;
    option.initFrom(log);
    option.font = log->font();
    const QFontMetrics metrics(log->font());
    for (int i = 0; i < log->count(); ++i) {
        const QModelIndex index = log->model()->index(i, 0);
        const int width = log->itemDelegate()->sizeHint(option, index).width();
        QVERIFY2(width <= TuningLog::kDecodedColumnMax + 24 + metrics.horizontalAdvance(log->item(i)->text()),
                 qPrintable(log->item(i)->text()));
    }
}

void ScreenAndRadioTest::pagesFitBesideTheChart_data() {
    QTest::addColumn<int>("language");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    // The tuning window maximised in the main window at 1366 x 768, and in
    // the program's own picture (1164 wide).
    QTest::newRow("english 1366") << kLanguageEnglish << 1366 << 620;
    QTest::newRow("chinese 1366") << kLanguageChinese << 1366 << 620;
    QTest::newRow("english 1164") << kLanguageEnglish << 1164 << 600;
    QTest::newRow("chinese 1164") << kLanguageChinese << 1164 << 600;
}

void ScreenAndRadioTest::pagesFitBesideTheChart() {
    QFETCH(int, language);
    QFETCH(int, width);
    QFETCH(int, height);
    OpenLanguage(language);
    w_ = OpenTuningWindow(*env_, host_, {.preset = VirtualPreset::LargeNewFirmware});
    w_->resize(width, height);
    w_->show();
    QVERIFY(QTest::qWaitForWindowExposed(w_.get()));
    // The keys of the pages the large radio has: CTCSS, power, squelch,
    // stability, VOX, bit error rate, temperature-free FSK.
    for (const int key : {4, 33, 5, 23, 2, 51, 36}) {
        QVERIFY(SelectNode(*w_, key));
        SettleVerifyingPolls(*w_);
        QApplication::processEvents();
        QScrollArea* page = w_->frontPage();
        QVERIFY(page != nullptr);
        const QString shot = QStringLiteral("/page-%1-%2-%3.png").arg(language).arg(width).arg(page->objectName());
        if (qEnvironmentVariableIsSet("VARNEL_SHOTS")) w_->grab().save(qEnvironmentVariable("VARNEL_SHOTS") + shot);
        QVERIFY2(page->horizontalScrollBar()->maximum() == 0,
                 qPrintable(page->objectName() + QStringLiteral(" needs %1 more pixels")
                                                     .arg(page->horizontalScrollBar()->maximum())));
        // The scale above a bar reads whole.
        if (auto* high = page->findChild<QLabel*>(QStringLiteral("Label79"))) {
            QVERIFY(high->width() >= high->fontMetrics().horizontalAdvance(high->text()));
        }
    }
}

QTEST_MAIN(ScreenAndRadioTest)
#include "screen_and_radio_test.moc"
