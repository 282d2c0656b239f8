// What the operator is told, and how the keyboard reaches every command:
// the status bar says where a file went and that an archive was read again,
// Esc in the grid editor asks before edited cells are dropped, the Auto
// Align window follows a language switch while it is open and closes with
// Close or Esc, the frame names the program once, Help → Command Line is in
// the interface language, and no two commands of one window share a
// mnemonic in either language.
#include <QAction>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTableWidget>
#include <QTest>

#include "app/TAboutBox.h"
#include "app/TCommandLineBox.h"
#include "app/TMainForm.h"
#include "data/Global.h"
#include "data/ItemTable.h"
#include "dialogs/TAlignForm.h"
#include "dialogs/TFactroyForm.h"
#include "dialogs/TParamForm.h"
#include "dialogs/TRecordsForm.h"
#include "support/MainWindowCase.h"
#include "tuning/TMDIChild.h"

using namespace varnel;
using varnel::test::TestEnvironment;

namespace {

QString Tr(const char* section, const char* key) { return TestEnvironment::text(section, key); }

// The mnemonic of a caption ("Save &As..." -> 'A', "文件(&F)" -> 'F'), or
// nothing; "&&" is a literal ampersand.
QChar Mnemonic(const QString& text) {
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != QLatin1Char('&')) continue;
        if (text[i + 1] == QLatin1Char('&')) {
            ++i;
            continue;
        }
        return text[i + 1].toUpper();
    }
    return {};
}

// Names the captions among `captions` that share a mnemonic; empty when
// every mnemonic is unique.
QStringList Clashes(const QString& where, const QStringList& captions) {
    QHash<QChar, QString> seen;
    QStringList clashes;
    for (const QString& caption : captions) {
        const QChar key = Mnemonic(caption);
        if (key.isNull()) continue;
        if (seen.contains(key)) clashes << where + QStringLiteral(": \"") + seen[key] + QStringLiteral("\" and \"") +
                                               caption + QStringLiteral("\" share Alt+") + key;
        seen.insert(key, caption);
    }
    return clashes;
}

// The captions a menu's items show (its submenus' titles included).
QStringList MenuCaptions(const QMenu* menu) {
    QStringList captions;
    for (const QAction* action : menu->actions()) {
        if (!action->isSeparator()) captions << action->text();
    }
    return captions;
}

// Every menu of `window` on its own, and the menu bar together with the
// window's buttons (Alt reaches both from the same window).
QStringList WindowClashes(const QString& where, QWidget* window) {
    QStringList clashes;
    QStringList level;
    if (auto* main = qobject_cast<QMainWindow*>(window); main != nullptr && main->menuBar() != nullptr) {
        for (const QAction* action : main->menuBar()->actions()) level << action->text();
    }
    for (const QAbstractButton* button : window->findChildren<QAbstractButton*>()) {
        if (button->window() == window) level << button->text();
    }
    for (const QLabel* label : window->findChildren<QLabel*>()) {
        if (label->buddy() != nullptr && label->window() == window) level << label->text();
    }
    clashes << Clashes(where, level);
    for (const QMenu* menu : window->findChildren<QMenu*>()) {
        clashes << Clashes(where + QStringLiteral(" / ") + menu->objectName(), MenuCaptions(menu));
    }
    return clashes;
}

// Runs the modal forms the window opens without blocking: each is shown,
// gets its texts, and is closed again.
int ShowAndClose(QDialog* dialog) {
    dialog->show();
    QCoreApplication::processEvents();
    dialog->hide();
    return int(QDialog::Rejected);
}

}  // namespace

class OperatorFeedbackTest : public varnel::test::MainWindowCase {
    Q_OBJECT
private slots:
    void everyMnemonicIsUniquePerWindow_data();
    void everyMnemonicIsUniquePerWindow();
    void statusBarSaysWhereTheArchiveWent();
    void reopeningTheOpenArchiveIsSaid();
    void savedLogIsSaid();
    void escInTheGridEditorAsksWhenCellsChanged();
    void alignWindowFollowsTheLanguageAndCloses();
    void frameNamesTheProgramOnce();
    void commandLineBoxIsInTheInterfaceLanguage();
    void refBytesRowIsExplained();
    void scrollBarScaleIsExplained();
};

void OperatorFeedbackTest::everyMnemonicIsUniquePerWindow_data() {
    QTest::addColumn<QString>("language");
    QTest::newRow("English") << QStringLiteral("english");
    QTest::newRow("Chinese") << QStringLiteral("chinese");
}

void OperatorFeedbackTest::everyMnemonicIsUniquePerWindow() {
    QFETCH(QString, language);
    start().writeSettingsLanguage(language);
    env().dialogs().onDialog = ShowAndClose;
    QVERIFY(open(Shown::Yes));
    form().attachVirtualRadio(&env().backend());
    QVERIFY(varnel::test::EnterTunerMode(form()));
    // Menus take their texts when they open.
    for (QMenu* menu : form().menuBar()->findChildren<QMenu*>()) emit menu->aboutToShow();

    QStringList clashes = WindowClashes(QStringLiteral("main window"), &form());
    // The windows the main window opens, each with its own texts.
    form().findChild<QAction*>(QStringLiteral("AutoAlignItem"))->trigger();
    auto* align = form().findChild<TAlignForm*>(QStringLiteral("TAlignForm"));
    QVERIFY(align != nullptr);
    clashes << WindowClashes(QStringLiteral("Auto Align"), align);
    TRecordsForm* records = TRecordsForm::showRecordsView(&form());
    QVERIFY(records != nullptr);
    clashes << WindowClashes(QStringLiteral("records"), records);
    form().ParamItemClick();
    clashes << WindowClashes(QStringLiteral("grid editor"), form().paramForm());
    form().N1Click();
    clashes << WindowClashes(QStringLiteral("factory"), form().factoryForm());
    form().HelpAbout1Execute();
    clashes << WindowClashes(QStringLiteral("about"), form().aboutBox());
    form().HelpCommandLineItemClick();
    auto* help = form().findChild<TCommandLineBox*>(QStringLiteral("TCommandLineBox"));
    QVERIFY(help != nullptr);
    clashes << WindowClashes(QStringLiteral("command line"), help);
    QVERIFY2(clashes.isEmpty(), qPrintable(clashes.join(QLatin1Char('\n'))));
    // The walk saw the menus it is about: the bar holds seven, the
    // virtual radio's among them.
    QCOMPARE(form().menuBar()->actions().size(), 7);
    records->close();
    align->close();
}

void OperatorFeedbackTest::statusBarSaysWhereTheArchiveWent() {
    start();
    QVERIFY(tune());
    const QString path = env().filePath(QStringLiteral("saved.tdb"));
    env().dialogs().saveNames << path;
    form().FileSaveAsItemClick();
    QVERIFY(QFile::exists(path));
    const QString said = form().StatusBar1->currentMessage();
    QVERIFY2(said.contains(QDir::toNativeSeparators(path)), qPrintable(said));
    QVERIFY(said.startsWith(Tr("Files", "Saved").section(QStringLiteral("%1"), 0, 0)));

    // Save again to the same file: said again.
    form().StatusBar1->clearMessage();
    form().FileSaveItemClick();
    QVERIFY(form().StatusBar1->currentMessage().contains(QDir::toNativeSeparators(path)));

    // A save that fails says nothing of the kind: an error box instead.
    form().StatusBar1->clearMessage();
    env().dialogs().saveNames << env().filePath(QStringLiteral("no-such-folder/x.tdb"));
    form().FileSaveAsItemClick();
    QVERIFY2(form().StatusBar1->currentMessage().isEmpty(), qPrintable(form().StatusBar1->currentMessage()));
    QVERIFY(!env().dialogs().messages.isEmpty());
    QCOMPARE(env().dialogs().messages.last().kind, ui::MessageKind::Error);
}

void OperatorFeedbackTest::reopeningTheOpenArchiveIsSaid() {
    start();
    QVERIFY(tune());
    const QString path = env().filePath(QStringLiteral("a.tdb"));
    env().dialogs().saveNames << path;
    form().FileSaveAsItemClick();
    QVERIFY(QFile::exists(path));
    // Leave tuner mode and close the window, so that the archive is opened
    // afresh first.
    form().SpeedButton4Click();
    QTRY_VERIFY(!inTunerMode);
    form().FileCloseItemClick();
    QTRY_VERIFY(form().tuningWindow == nullptr);
    QVERIFY(form().OpenArchive(path));
    const QString first = form().StatusBar1->currentMessage();
    QVERIFY2(first.contains(QDir::toNativeSeparators(path)), qPrintable(first));
    QVERIFY2(first.startsWith(Tr("Files", "Opened").section(QStringLiteral("%1"), 0, 0)), qPrintable(first));
    QVERIFY(form().tuningWindow != nullptr);
    form().tuningWindow->LogNote(QStringLiteral("a line before the reload"));
    QVERIFY(form().OpenArchive(path));
    const QString again = form().StatusBar1->currentMessage();
    QVERIFY2(again.startsWith(Tr("Files", "Reopened").section(QStringLiteral("%1"), 0, 0)), qPrintable(again));
    QVERIFY(again.contains(QDir::toNativeSeparators(path)));
    QVERIFY(again != first);
}

void OperatorFeedbackTest::savedLogIsSaid() {
    start();
    QVERIFY(tune());
    auto* log = form().tuningWindow->findChild<QMenu*>(QStringLiteral("PopupMenu1"));
    QVERIFY(log != nullptr);
    const QString path = env().filePath(QStringLiteral("log.csv"));
    env().dialogs().saveNames << path;
    QAction* save = nullptr;
    for (QAction* action : log->actions()) {
        if (action->objectName() == QLatin1String("S1")) save = action;
    }
    QVERIFY(save != nullptr);
    save->trigger();
    QVERIFY(QFile::exists(path));
    QVERIFY(form().StatusBar1->currentMessage().contains(QDir::toNativeSeparators(path)));
    // The CSV entry of the filter is in the interface language; the text
    // file's is the design's.
    const QString filter = env().dialogs().saveFilters.last();
    QVERIFY2(filter.startsWith(QStringLiteral("TET Files (*.txt)| *.txt|")), qPrintable(filter));
    QVERIFY(filter.endsWith(Tr("Files", "CsvFilter")));
}

void OperatorFeedbackTest::escInTheGridEditorAsksWhenCellsChanged() {
    start();
    QVERIFY(tune());
    TParamForm* param = form().paramForm();
    bool changedSeen = false;
    int questionsWhileOpen = 0;
    env().dialogs().onDialog = [&](QDialog* dialog) {
        dialog->show();
        auto* grid = dialog->findChild<QTableWidget*>(QStringLiteral("StringGrid1"));
        // Esc with nothing changed closes at once, without a question.
        const qsizetype before = env().dialogs().messages.size();
        QTest::keyClick(dialog, Qt::Key_Escape);
        if (dialog->isVisible() || env().dialogs().messages.size() != before) return int(QDialog::Accepted);
        dialog->show();
        // Row 11 (RX sensitivity), point 1: typed, then left.
        param->StringGrid1SelectCell(1, 11);
        const int old = param->Edit1->text().toInt();
        param->Edit1->selectAll();
        QTest::keyClick(param->Edit1, Qt::Key_Backspace);
        QTest::keyClicks(param->Edit1, QString::number(old > 0 ? old - 1 : 1));
        param->Edit1Exit();
        changedSeen = param->cellsChanged();
        // Esc asks; Cancel keeps the editor open with the edit.
        env().dialogs().answers << ui::MessageResult::Cancel;
        QTest::keyClick(grid != nullptr ? static_cast<QWidget*>(grid) : dialog, Qt::Key_Escape);
        questionsWhileOpen = static_cast<int>(env().dialogs().messages.size() - before);
        if (!dialog->isVisible() || !param->cellsChanged()) return int(QDialog::Accepted);
        // OK throws the edit away and closes.
        env().dialogs().answers << ui::MessageResult::Ok;
        QTest::keyClick(dialog, Qt::Key_Escape);
        return dialog->isVisible() ? int(QDialog::Accepted) : dialog->result();
    };
    const std::uint8_t before = tunerImage.bytes[0x44];
    form().ParamItemClick();
    QVERIFY(changedSeen);
    QCOMPARE(questionsWhileOpen, 1);
    QVERIFY(env().dialogs().messages.size() >= 2);
    const auto& asked = env().dialogs().messages.last();
    QCOMPARE(asked.kind, ui::MessageKind::Question);
    QCOMPARE(asked.text, Tr("Pages", "E0001"));
    QVERIFY(!param->isVisible());
    QCOMPARE(tunerImage.bytes[0x44], before);  // dropped, not confirmed
}

void OperatorFeedbackTest::alignWindowFollowsTheLanguageAndCloses() {
    start();
    QVERIFY(open(Shown::Yes));
    form().findChild<QAction*>(QStringLiteral("AutoAlignItem"))->trigger();
    auto* align = form().findChild<TAlignForm*>(QStringLiteral("TAlignForm"));
    QVERIFY(align != nullptr);
    QVERIFY(align->isVisible());
    QCOMPARE(align->RunButton->text(), Tr("Align", "A0008"));
    const QString englishRun = align->RunButton->text();

    form().N8->trigger();  // Chinese, with the window open
    QCOMPARE(align->windowTitle(), Tr("Align", "A0003"));
    QCOMPARE(align->RunButton->text(), Tr("Align", "A0008"));
    QVERIFY(align->RunButton->text() != englishRun);
    QCOMPARE(align->StopButton->text(), Tr("Align", "A0009"));
    QCOMPARE(align->ReportButton->text(), Tr("Report", "P0031"));
    QCOMPARE(align->CloseButton->text(), Tr("Align", "A0044"));
    QCOMPARE(align->findChild<QLabel*>(QStringLiteral("Label1"))->text(), Tr("Align", "A0004"));
    QCOMPARE(align->StepTable->horizontalHeaderItem(0)->text(), Tr("Align", "A0010"));
    QCOMPARE(align->font().pointSize(), 10);

    form().English1->trigger();
    QCOMPARE(align->RunButton->text(), englishRun);
    QCOMPARE(align->font().pointSize(), 8);

    // Close closes; so does Esc.
    align->CloseButton->click();
    QVERIFY(!align->isVisible());
    form().findChild<QAction*>(QStringLiteral("AutoAlignItem"))->trigger();
    QVERIFY(align->isVisible());
    QTest::keyClick(align, Qt::Key_Escape);
    QVERIFY(!align->isVisible());
}

void OperatorFeedbackTest::frameNamesTheProgramOnce() {
    start();
    QVERIFY(tune(Shown::Yes));
    const QString program = Tr("Application", "Title");
    QTRY_VERIFY2(form().windowTitle().endsWith(program), qPrintable(form().windowTitle()));
    const QString title = form().windowTitle();
    QCOMPARE(title.count(program), 1);
    // An image read from the radio is named by the radio, not by the
    // placeholder caption of its window (which stays as designed).
    QCOMPARE(form().tuningWindow->windowTitle(), QStringLiteral("Untitled.tdb"));
    QVERIFY2(!title.contains(QStringLiteral("Untitled.tdb")), qPrintable(title));
    QVERIFY2(title.contains(QString::fromStdString(radioInfo.modelName()).trimmed()), qPrintable(title));
    // Saved, the archive's name takes its place.
    const QString path = env().filePath(QStringLiteral("named.tdb"));
    env().dialogs().saveNames << path;
    form().FileSaveAsItemClick();
    QTRY_VERIFY(form().windowTitle().startsWith(QStringLiteral("named.tdb")));
    QCOMPARE(form().windowTitle().count(program), 1);
    // In the other language the program's name is the other language's.
    form().N8->trigger();
    QTRY_VERIFY(form().windowTitle().endsWith(Tr("Application", "Title")));
    QCOMPARE(form().windowTitle().count(Tr("Application", "Title")), 1);
}

void OperatorFeedbackTest::commandLineBoxIsInTheInterfaceLanguage() {
    start().writeSettingsLanguage(QStringLiteral("chinese"));
    QVERIFY(open());
    QDialog* shown = nullptr;
    env().dialogs().onDialog = [&shown](QDialog* dialog) {
        shown = dialog;
        return int(QDialog::Rejected);
    };
    form().HelpCommandLineItem->trigger();
    auto* box = qobject_cast<TCommandLineBox*>(shown);
    QVERIFY(box != nullptr);
    // Its own title from the language file, not the message-box caption.
    QCOMPARE(box->windowTitle(), Tr("Tuner", "H0004"));
    QVERIFY(!box->windowTitle().isEmpty());
    QVERIFY(box->windowTitle() != QStringLiteral("Varnel"));
    QCOMPARE(box->IntroLabel->text(), Tr("Tuner", "H0003"));
    // One row per option: the option as typed, what it does in Chinese.
    QVERIFY(box->OptionTable->rowCount() >= 8);
    QCOMPARE(box->OptionTable->item(0, 0)->text(), QStringLiteral("-E"));
    QCOMPARE(box->OptionTable->item(0, 1)->text(), Tr("Tuner", "H0010"));
    static const QRegularExpression chinese(QStringLiteral("[\\x{4e00}-\\x{9fff}]"));
    for (int row = 0; row < box->OptionTable->rowCount(); ++row) {
        QVERIFY2(box->OptionTable->item(row, 1)->text().contains(chinese), qPrintable(box->OptionTable->item(row, 0)->text()));
        QVERIFY(!box->OptionTable->item(row, 1)->text().contains(QStringLiteral("%1")));
    }
    QCOMPARE(box->font().pointSize(), 10);
}

void OperatorFeedbackTest::refBytesRowIsExplained() {
    start();
    QVERIFY(tune());
    TParamForm* param = form().paramForm();
    env().dialogs().onDialog = ShowAndClose;
    form().ParamItemClick();
    // Row 10 is "Ref 1", as designed; its label says what the byte is.
    QTableWidgetItem* label = param->StringGrid1->item(10 - 1, 0);
    QVERIFY(label != nullptr);
    QCOMPARE(label->text(), QStringLiteral("Ref 1"));
    QCOMPARE(label->toolTip(), Tr("Pages", "E0002"));
    QVERIFY(!label->toolTip().isEmpty());
    QCOMPARE(param->windowTitle(), QStringLiteral("Param"));
}

void OperatorFeedbackTest::scrollBarScaleIsExplained() {
    start();
    QVERIFY(tune());
    const auto scales = [this] {
        QList<QWidget*> found;
        for (QWidget* w : form().tuningWindow->findChildren<QWidget*>()) {
            if (w->property("scaleCaptions").toBool()) found << w;
        }
        return found;
    };
    // "0", "(+5)", "255" above the bars of the adjustment pages.
    QVERIFY(!scales().isEmpty());
    for (QWidget* scale : scales()) {
        QCOMPARE(scale->toolTip(), Tr("Pages", "S0001"));
        QVERIFY(scale->toolTip().contains(QStringLiteral("(+5)")));
    }
    form().N8->trigger();
    for (QWidget* scale : scales()) QCOMPARE(scale->toolTip(), Tr("Pages", "S0001"));
    QVERIFY(scales().first()->toolTip().contains(QStringLiteral("对讲机")));
}

QTEST_MAIN(OperatorFeedbackTest)
#include "operator_feedback_test.moc"
