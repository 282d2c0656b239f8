// The main window: start-up language and setting.ini, texts, the expert
// switch and the command line, hints and the status bar, menus, tool bar,
// view switches and the modal forms.
#include <QAction>
#include <QActionGroup>
#include <QFontDatabase>
#include <QLabel>
#include <QTableWidget>
#include <QPushButton>
#include <QTimer>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

#include "ui/AppFonts.h"
#include "app/RadioStatusBar.h"
#include "app/StartupOptions.h"
#include "app/TAboutBox.h"
#include "app/TMainForm.h"
#include "data/Global.h"
#include "data/Safety.h"
#include "dialogs/TFactroyForm.h"
#include "dialogs/TParamForm.h"
#include "lang/Loadlanguage.h"
#include "support/TestEnvironment.h"
#include "tuning/TMDIChild.h"

#ifdef _WIN32
#include <windows.h>
#endif

using namespace varnel;
using varnel::test::TestEnvironment;
using varnel::test::Tr;

namespace {

// One row of the text table: which control, which property, which text.
struct TextRow {
    const char* object;
    const char* property;  // "text", "title", "hint" (status tip), "windowTitle"
    const char* section;
    const char* key;
};

// Every target of the table, in its order. Where a target appears twice the
// later row wins, which is what the window must show.
const TextRow kTextRows[] = {
    {"TMainForm", "windowTitle", "Application", "Title"},
    {"SpeedButton2", "text", "MainForm", "S001"},
    {"SpeedButton2", "hint", "MainForm", "S0001"},
    {"SpeedButton3", "text", "MainForm", "S002"},
    {"SpeedButton3", "hint", "MainForm", "S0002"},
    {"SpeedButton4", "text", "MainForm", "S003"},
    {"SpeedButton4", "hint", "MainForm", "S0030"},
    {"SpeedButton1", "text", "MainForm", "S005"},
    {"SpeedButton1", "hint", "MainForm", "S005"},
    {"SpeedButton6", "text", "MainForm", "S006"},
    {"SpeedButton6", "hint", "MainForm", "S006"},
    {"File1", "title", "MainMenu", "M0001"},
    {"FileOpenItem", "text", "MainMenu", "M0008"},
    {"FileCloseItem", "text", "MainMenu", "M0009"},
    {"FileSaveItem", "text", "MainForm", "S002"},
    {"TMainForm", "hint", "MainForm", "S008"},
    {"FileExit1", "text", "MainMenu", "M0012"},
    {"FileExit1", "hint", "MainMenu", "M00120"},
    {"Edit1", "title", "MainMenu", "M0002"},
    {"TunerAndTest", "title", "MainMenu", "M0027"},
    {"View1", "title", "MainMenu", "M0003"},
    {"H1", "title", "MainMenu", "M0007"},
    {"ParamItem", "text", "MainMenu", "M0020"},
    {"ParamItem", "hint", "MainMenu", "M00200"},
    {"L1", "title", "MainMenu", "M0021"},
    {"L1", "hint", "MainMenu", "M00201"},
    {"N2", "text", "MainForm", "S003"},
    {"N2", "hint", "MainForm", "S0030"},
    {"N4", "text", "MainMenu", "M0016"},
    {"N4", "hint", "MainMenu", "M00160"},
    {"N5", "text", "MainMenu", "M0017"},
    {"N5", "hint", "MainMenu", "M00170"},
    {"HelpAboutItem", "text", "MainMenu", "M0015"},
    {"HelpAboutItem", "hint", "MainMenu", "M00150"},
    {"HelpCommandLineItem", "text", "Tuner", "H0001"},
    {"HelpCommandLineItem", "hint", "Tuner", "H0002"},
    {"FileExitItem", "text", "MainMenu", "M0012"},
    {"FileExitItem", "hint", "MainMenu", "M00120"},
    {"FileSaveAsItem", "text", "MainForm", "S009"},
    {"N8", "text", "MainMenu", "M0025"},
    {"English1", "text", "MainMenu", "M0026"},
    {"S1", "title", "MainMenu", "M0028"},
    {"N1", "text", "MainMenu", "M00280"},
};

QString ShownText(TMainForm& form, const TextRow& row) {
    const QString name = QString::fromLatin1(row.object);
    const QString property = QString::fromLatin1(row.property);
    if (name == QLatin1String("TMainForm")) {
        return property == QLatin1String("hint") ? form.statusTip() : form.windowTitle();
    }
    if (auto* menu = form.findChild<QMenu*>(name)) {
        return property == QLatin1String("hint") ? menu->menuAction()->statusTip() : menu->title();
    }
    if (auto* action = form.findChild<QAction*>(name)) {
        return property == QLatin1String("hint") ? action->statusTip() : action->text();
    }
    if (auto* button = form.findChild<QToolButton*>(name)) {
        return property == QLatin1String("hint") ? button->statusTip() : button->text();
    }
    return QStringLiteral("<no control %1>").arg(name);
}

// Checks every target of the table against the language file now in use.
void CheckAllTexts(TMainForm& form) {
    for (const TextRow& row : kTextRows) {
        // A later row for the same target decides what is shown.
        const TextRow* last = &row;
        for (const TextRow& other : kTextRows) {
            if (QByteArray(other.object) == row.object && QByteArray(other.property) == row.property) last = &other;
        }
        QCOMPARE(ShownText(form, row), Tr(last->section, last->key));
    }
}

std::vector<std::string> Args(std::initializer_list<const char*> list) {
    return std::vector<std::string>(list.begin(), list.end());
}

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private slots:
    void startupLanguageAndStoredValue_data();
    void startupLanguageAndStoredValue();
    void everyTextOfTheTable_data();
    void everyTextOfTheTable();
    void emptyLanguageFileBlanksEveryText();
    void languageSwitchKeepsTunerModeCaptions();
    void languageSwitchRerunsTuningWindowShow();
    void closeRefusedByTuningWindowKeepsRunning();
    void expertSwitchOnlyAsExactFirstArgument_data();
    void expertSwitchOnlyAsExactFirstArgument();
    void commandLineOptions_data();
    void commandLineOptions();
    void hintLongPartInPanel0_data();
    void hintLongPartInPanel0();
    void hintsOfControlsReachStatusBar();
    void statusPanelWidthIs94Percent_data();
    void statusPanelWidthIs94Percent();
    void menusToolBarAndInitialStates();
    void viewSwitchesToggleBars();
    void windowListNamesTheTuningWindow();
    void modalFormsGoThroughTheSeam();
    void aboutBoxTakesLanguageOnShow();
    void tuningWindowReportsSetCommandsAndCaptions();
    void languageMenuMarksTheLanguage();
    void fileCloseClosesTheTuningWindow_data();
    void fileCloseClosesTheTuningWindow();
    void helpShowsTheCommandLine();
};

// ---------------------------------------------------------------------------

void MainWindowTest::startupLanguageAndStoredValue_data() {
    QTest::addColumn<QByteArray>("settings");  // "-" = no setting.ini at all
    QTest::addColumn<int>("language");
    QTest::addColumn<int>("points");
    QTest::addColumn<bool>("switchLanguage");
    QTest::addColumn<QString>("stored");

    QTest::newRow("chinese") << QByteArray("[setup]\r\nlanguage=chinese\r\n") << 1 << 9 << false << "chinese";
    QTest::newRow("chinese, switch to english")
        << QByteArray("[setup]\r\nlanguage=chinese\r\n") << 1 << 9 << true << "english";
    QTest::newRow("english") << QByteArray("[setup]\r\nlanguage=english\r\n") << 0 << 8 << false << "english";
    QTest::newRow("english, switch to chinese")
        << QByteArray("[setup]\r\nlanguage=english\r\n") << 0 << 8 << true << "chinese";
    QTest::newRow("no file") << QByteArray("-") << 0 << 8 << false << "english";
    QTest::newRow("no key") << QByteArray("[setup]\r\n") << 0 << 8 << false << "english";
    QTest::newRow("empty value") << QByteArray("[setup]\r\nlanguage=\r\n") << 0 << 8 << false << "english";
    QTest::newRow("garbage") << QByteArray("\x01\xff[[[ nonsense\r\nlanguage=klingon") << 0 << 8 << false
                             << "english";
    QTest::newRow("wrong case") << QByteArray("[setup]\r\nlanguage=Chinese\r\n") << 0 << 8 << false << "english";
    QTest::newRow("no file, switch to chinese") << QByteArray("-") << 0 << 8 << true << "chinese";
}

void MainWindowTest::startupLanguageAndStoredValue() {
    QFETCH(QByteArray, settings);
    QFETCH(int, language);
    QFETCH(int, points);
    QFETCH(bool, switchLanguage);
    QFETCH(QString, stored);

#ifdef _WIN32
    // A settings file that is not UTF-8 is read as GB18030, a code page that
    // Windows always has and Wine does not.
    if (!IsValidCodePage(54936) && QString::fromUtf8(settings).toUtf8() != settings)
        QSKIP("this system has no GB18030 code page");
#endif
    TestEnvironment env;
    if (settings != "-") env.writeSettings(settings);
    {
        TMainForm form;
        QCOMPARE(languageIndex, language);
        QCOMPARE(languageFile.filename().string(), std::string(language == 1 ? "chinese.lang" : "english.lang"));
        QCOMPARE(form.font().pointSize(), points);
        QCOMPARE(form.File1->font().pointSize(), points);
        // The face exists on this system (the design face does not on Linux).
        const QString family = form.font().family();
        QVERIFY2(QFontDatabase::families().contains(family, Qt::CaseInsensitive), qPrintable(family));
        QCOMPARE(form.windowTitle(), Tr("Application", "Title"));
        QVERIFY(!form.windowTitle().isEmpty());

        if (switchLanguage) {
            const QString before = form.SpeedButton4->text();
            (language == 1 ? form.English1 : form.N8)->trigger();
            QCOMPARE(languageIndex, 1 - language);
            QVERIFY(form.SpeedButton4->text() != before);  // the other file's text
            QCOMPARE(form.SpeedButton4->text(), Tr("MainForm", "S003"));
            QCOMPARE(form.font().pointSize(), points);  // a switch keeps the font size
        }
        // Nothing is written before the window closes.
        if (settings == "-") QVERIFY(!env.fileExists(QStringLiteral("setting.ini")));
        QVERIFY(form.close());
    }
    QCOMPARE(env.settingsLanguage(), stored);

    // The next start uses what was stored.
    TMainForm again;
    QCOMPARE(languageIndex, stored == QLatin1String("chinese") ? 1 : 0);
    QCOMPARE(again.font().pointSize(), stored == QLatin1String("chinese") ? 9 : 8);
}

void MainWindowTest::everyTextOfTheTable_data() {
    QTest::addColumn<QString>("language");
    QTest::newRow("english") << "english";
    QTest::newRow("chinese") << "chinese";
}

void MainWindowTest::everyTextOfTheTable() {
    QFETCH(QString, language);
    TestEnvironment env;
    env.writeSettingsLanguage(language);
    TMainForm form;
    // The language files carry every text of the table.
    for (const TextRow& row : kTextRows) QVERIFY2(!Tr(row.section, row.key).isEmpty(), row.key);
    CheckAllTexts(form);
    // Tool tips are the short part of the hints.
    QCOMPARE(form.SpeedButton2->toolTip(), app::ShortHint(Tr("MainForm", "S0001")));
    // The application title follows the file, too.
    QCOMPARE(QGuiApplication::applicationDisplayName(), Tr("Application", "Title"));

    // After a switch every text comes from the other file.
    (language == QLatin1String("english") ? form.N8 : form.English1)->trigger();
    CheckAllTexts(form);
}

void MainWindowTest::emptyLanguageFileBlanksEveryText() {
    TestEnvironment env;
    env.writeFile(QStringLiteral("english.lang"), QByteArray());
    TMainForm form;
    for (const TextRow& row : kTextRows) {
        QVERIFY2(ShownText(form, row).isEmpty(), row.object);
    }
    // The window still works: the open dialog is offered.
    form.SpeedButton2->click();
    QCOMPARE(env.dialogs().openFilters.size(), 1);
}

void MainWindowTest::languageSwitchKeepsTunerModeCaptions() {
    TestEnvironment env;
    env.writeSettingsLanguage(QStringLiteral("english"));
    TMainForm form;
    QVERIFY(test::EnterTunerMode(form));
    QCOMPARE(form.SpeedButton4->text(), Tr("MainForm", "S004"));
    form.N8->trigger();
    QCOMPARE(form.SpeedButton4->text(), Tr("MainForm", "S004"));
    QCOMPARE(form.SpeedButton4->statusTip(), Tr("MainForm", "S0040"));
    QCOMPARE(form.N2->text(), Tr("MainForm", "S004"));
    QCOMPARE(form.N2->statusTip(), Tr("MainForm", "S0040"));
    QVERIFY(form.SpeedButton4->text() != Tr("MainForm", "S003"));

    QVERIFY(test::LeaveTunerMode(form));
    form.English1->trigger();
    QCOMPARE(form.SpeedButton4->text(), Tr("MainForm", "S003"));
    QCOMPARE(form.N2->statusTip(), Tr("MainForm", "S0030"));
}

void MainWindowTest::languageSwitchRerunsTuningWindowShow() {
    TestEnvironment env;
    TMainForm form;
    TMDIChild* child = form.OpenTuningWindow(QStringLiteral("/tmp/x/abc.tdb"));
    QCOMPARE(child->windowTitle(), QStringLiteral("abc.tdb"));
    // Disable the document commands behind the window's back; the show
    // routine run by the switch enables them again.
    form.SpeedButton1->setEnabled(false);
    form.FileSaveAsItem->setEnabled(false);
    form.N8->trigger();
    QVERIFY(form.SpeedButton1->isEnabled());
    QVERIFY(form.FileSaveAsItem->isEnabled());
    QCOMPARE(form.tuningWindow.data(), child);
}

void MainWindowTest::closeRefusedByTuningWindowKeepsRunning() {
    TestEnvironment env;
    env.writeSettingsLanguage(QStringLiteral("chinese"));
    TMainForm form;
    form.show();
    QVERIFY(test::EnterTunerMode(form));
    form.English1->trigger();
    // The tuning window asks whether to leave tuner mode; Cancel keeps it
    // open and with it the whole program, and nothing is stored.
    env.dialogs().answers << ui::MessageResult::Cancel;
    const qsizetype before = env.dialogs().messages.size();
    QVERIFY(!form.close());
    QCOMPARE(env.dialogs().messages.size(), before + 1);
    QCOMPARE(env.dialogs().messages.last().kind, ui::MessageKind::Question);
    QCOMPARE(env.settingsLanguage(), QStringLiteral("chinese"));
    QVERIFY(inTunerMode);
    QCOMPARE(form.openTuningWindows().size(), 1);

    // OK leaves tuner mode, closes the window and stores the language.
    env.dialogs().answers << ui::MessageResult::Ok;
    QVERIFY(form.close());
    QVERIFY(!inTunerMode);
    QVERIFY(form.openTuningWindows().isEmpty());
    QCOMPARE(env.settingsLanguage(), QStringLiteral("english"));
}

// ---------------------------------------------------------------------------

void MainWindowTest::expertSwitchOnlyAsExactFirstArgument_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("expert");
    QTest::newRow("none") << QStringList{} << false;
    QTest::newRow("-E") << QStringList{"-E"} << true;
    QTest::newRow("-E then archive") << QStringList{"-E", "a.tdb"} << true;
    QTest::newRow("-E then options") << QStringList{"-E", "--virtual-radio", "--enter-tuner-mode"} << true;
    QTest::newRow("lower case") << QStringList{"-e"} << false;
    QTest::newRow("second argument") << QStringList{"a.tdb", "-E"} << false;
    QTest::newRow("after an option") << QStringList{"--virtual-radio", "-E"} << false;
    QTest::newRow("longer") << QStringList{"-EE"} << false;
    QTest::newRow("with blank") << QStringList{"-E "} << false;
    QTest::newRow("double dash") << QStringList{"--E"} << false;
}

void MainWindowTest::expertSwitchOnlyAsExactFirstArgument() {
    QFETCH(QStringList, arguments);
    QFETCH(bool, expert);
    std::vector<std::string> args;
    for (const QString& a : arguments) args.push_back(a.toStdString());
    const app::StartupOptions options = app::ParseStartupOptions(args);
    if (arguments == QStringList{"--E"}) {
        QVERIFY(!options.error.empty());  // an unknown long option
        return;
    }
    QVERIFY2(options.error.empty(), options.error.c_str());
    QCOMPARE(options.expertMode, expert);

    TestEnvironment env;
    expertMode = !expert;  // the window sets it either way
    TMainForm form(options);
    QCOMPARE(expertMode, expert);
}

void MainWindowTest::commandLineOptions_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("refused");
    QTest::addColumn<bool>("virtualRadio");
    QTest::addColumn<int>("preset");
    QTest::addColumn<QString>("grab");
    QTest::addColumn<bool>("enter");
    QTest::addColumn<QString>("archive");

    const int v0 = static_cast<int>(VirtualPreset::Variant0);
    QTest::newRow("nothing") << QStringList{} << false << false << v0 << "" << false << "";
    QTest::newRow("virtual radio") << QStringList{"--virtual-radio"} << false << true << v0 << "" << false << "";
    QTest::newRow("large") << QStringList{"--virtual-radio=large"} << false << true
                           << static_cast<int>(VirtualPreset::LargeNewFirmware) << "" << false << "";
    QTest::newRow("variant2") << QStringList{"--virtual-radio=variant2"} << false << true
                              << static_cast<int>(VirtualPreset::Variant2) << "" << false << "";
    QTest::newRow("unknown preset") << QStringList{"--virtual-radio=huge"} << true << false << v0 << "" << false
                                    << "";
    QTest::newRow("empty preset") << QStringList{"--virtual-radio="} << true << false << v0 << "" << false << "";
    QTest::newRow("grab") << QStringList{"--virtual-radio", "--enter-tuner-mode", "--grab", "out.png"} << false
                          << true << v0 << "out.png" << true << "";
    QTest::newRow("grab=") << QStringList{"--grab=x.png"} << false << false << v0 << "x.png" << false << "";
    QTest::newRow("grab without path") << QStringList{"--grab"} << true << false << v0 << "" << false << "";
    QTest::newRow("archive") << QStringList{"dir/a.tdb"} << false << false << v0 << "" << false << "dir/a.tdb";
    QTest::newRow("archive after --") << QStringList{"--", "-odd.tdb"} << false << false << v0 << "" << false
                                      << "-odd.tdb";
    QTest::newRow("unknown option") << QStringList{"--frobnicate"} << true << false << v0 << "" << false << "";
}

void MainWindowTest::commandLineOptions() {
    QFETCH(QStringList, arguments);
    QFETCH(bool, refused);
    QFETCH(bool, virtualRadio);
    QFETCH(int, preset);
    QFETCH(QString, grab);
    QFETCH(bool, enter);
    QFETCH(QString, archive);
    std::vector<std::string> args;
    for (const QString& a : arguments) args.push_back(a.toStdString());
    const app::StartupOptions options = app::ParseStartupOptions(args);
    QCOMPARE(!options.error.empty(), refused);
    if (refused) {
        if (arguments.first().startsWith(QLatin1String("--virtual-radio="))) {
            // The refusal names every preset there is.
            QVERIFY(options.error.find(VirtualPresetNames()) != std::string::npos);
        }
        return;
    }
    QCOMPARE(options.virtualRadio, virtualRadio);
    QCOMPARE(static_cast<int>(options.virtualPreset), preset);
    QCOMPARE(QString::fromStdString(options.grabPath), grab);
    QCOMPARE(options.enterTunerMode, enter);
    QCOMPARE(QString::fromStdString(options.archivePath), archive);
    QVERIFY(!options.help);
    QVERIFY(app::ParseStartupOptions(Args({"--help"})).help);
    QVERIFY(app::StartupUsage().find("--virtual-radio") != std::string::npos);
}

// ---------------------------------------------------------------------------

void MainWindowTest::hintLongPartInPanel0_data() {
    QTest::addColumn<QString>("hint");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("shortPart");
    QTest::newRow("short|long") << "Open|Open a file"
                                << "Open a file"
                                << "Open";
    QTest::newRow("no bar") << "Open a file"
                            << "Open a file"
                            << "Open a file";
    QTest::newRow("two bars") << "A|B|C"
                              << "B|C"
                              << "A";
    QTest::newRow("empty long part") << "Open|" << "" << "Open";
    QTest::newRow("empty") << "" << "" << "";
}

void MainWindowTest::hintLongPartInPanel0() {
    QFETCH(QString, hint);
    QFETCH(QString, shown);
    QFETCH(QString, shortPart);
    TestEnvironment env;
    TMainForm form;
    form.ShowHintInStatusBar(QStringLiteral("something else"));
    // The hint arrives as the framework's status-tip event of a control.
    QStatusTipEvent event(hint);
    QApplication::sendEvent(form.SpeedButton2, &event);
    QCOMPARE(form.statusPanelText(0), shown);
    QCOMPARE(app::LongHint(hint), shown);
    QCOMPARE(app::ShortHint(hint), shortPart);
    // Qt's own status-bar message is not used: the panels stay in view.
    QVERIFY(form.StatusBar1->currentMessage().isEmpty());
}

void MainWindowTest::hintsOfControlsReachStatusBar() {
    TestEnvironment env;
    TMainForm form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    // Moving onto a control shows its hint; Qt sends the status tip on enter.
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QApplication::sendEvent(form.SpeedButton2, &enter);
    QCOMPARE(form.statusPanelText(0), app::LongHint(Tr("MainForm", "S0001")));
    QVERIFY(!form.statusPanelText(0).isEmpty());
    // A menu item's hint (hovering it in its menu).
    form.ParamItem->setEnabled(true);
    form.ParamItem->showStatusText(form.Edit1);
    QCOMPARE(form.statusPanelText(0), app::LongHint(Tr("MainMenu", "M00200")));
}

void MainWindowTest::statusPanelWidthIs94Percent_data() {
    QTest::addColumn<int>("barWidth");
    QTest::addColumn<int>("panelWidth");
    QTest::newRow("999") << 999 << 939;
    QTest::newRow("1164") << 1164 << 1094;
    QTest::newRow("1000") << 1000 << 940;
    QTest::newRow("50") << 50 << 47;
    QTest::newRow("1") << 1 << 0;
}

void MainWindowTest::statusPanelWidthIs94Percent() {
    QFETCH(int, barWidth);
    QFETCH(int, panelWidth);
    QCOMPARE(app::StatusPanelWidth(barWidth), panelWidth);

    TestEnvironment env;
    TMainForm form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.StatusBar1->resize(barWidth, form.StatusBar1->height());
    QCOMPARE(form.statusPanelWidth(0), panelWidth);
}

void MainWindowTest::menusToolBarAndInitialStates() {
    TestEnvironment env;
    TMainForm form;
    // Menus in the bar, in order.
    QStringList bar;
    for (QAction* a : form.menuBar()->actions()) {
        if (a->menu() != nullptr) bar << a->menu()->objectName();
    }
    QCOMPARE(bar, (QStringList{"File1", "Edit1", "TunerAndTest", "View1", "S1", "H1"}));
    auto names = [](QMenu* menu) {
        QStringList list;
        for (QAction* a : menu->actions()) {
            if (a->isSeparator()) {
                list << "-";
            } else {
                list << (a->menu() != nullptr ? a->menu()->objectName() : a->objectName());
            }
        }
        return list;
    };
    QCOMPARE(names(form.File1), (QStringList{"FileOpenItem", "FileCloseItem", "FileSaveItem", "FileSaveAsItem", "-",
                                             "FileExitItem"}));
    QCOMPARE(names(form.Edit1), (QStringList{"ParamItem", "-", "L1"}));
    QCOMPARE(names(form.L1), (QStringList{"N8", "English1"}));
    // N2, then the calibration records view and automatic alignment added later.
    QCOMPARE(names(form.TunerAndTest), (QStringList{"N2", "RecordsItem", "AutoAlignItem"}));
    QCOMPARE(names(form.View1).mid(0, 2), (QStringList{"N4", "N5"}));
    QCOMPARE(names(form.S1), (QStringList{"N1"}));
    QCOMPARE(names(form.H1), (QStringList{"HelpCommandLineItem", "-", "HelpAboutItem"}));

    QCOMPARE(form.FileOpenItem->shortcut(), QKeySequence(QStringLiteral("Ctrl+O")));
    QCOMPARE(form.FileSaveItem->shortcut(), QKeySequence(QStringLiteral("Ctrl+S")));
    QCOMPARE(form.ParamItem->shortcut(), QKeySequence(QStringLiteral("Ctrl+P")));
    QVERIFY(form.findChild<QAction*>(QStringLiteral("FileExit1")) != nullptr);

    // Tool bar: five buttons and two separators, glyphs and text under them.
    QStringList tools;
    for (QAction* a : form.ToolBar2->actions()) {
        if (a->isSeparator()) {
            tools << "-";
        } else if (QWidget* w = form.ToolBar2->widgetForAction(a)) {
            tools << w->objectName();
        }
    }
    QCOMPARE(tools, (QStringList{"SpeedButton2", "SpeedButton3", "-", "SpeedButton4", "SpeedButton1", "-",
                                 "SpeedButton6"}));
    for (QToolButton* b : {form.SpeedButton2, form.SpeedButton3, form.SpeedButton4, form.SpeedButton1,
                           form.SpeedButton6}) {
        QVERIFY2(!b->icon().isNull(), qPrintable(b->objectName()));
        QCOMPARE(b->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
        QVERIFY(b->autoRaise());
    }

    // Enabled at start: open, tuner mode, about; the rest waits for a
    // tuning window or for tuner mode.
    QVERIFY(form.SpeedButton2->isEnabled());
    QVERIFY(form.SpeedButton4->isEnabled());
    QVERIFY(form.SpeedButton6->isEnabled());
    QVERIFY(!form.SpeedButton3->isEnabled());
    QVERIFY(!form.SpeedButton1->isEnabled());
    QVERIFY(!form.FileSaveItem->isEnabled());
    QVERIFY(!form.FileSaveAsItem->isEnabled());
    QVERIFY(!form.ParamItem->isEnabled());
    QVERIFY(!form.N1->isEnabled());
    QVERIFY(form.N4->isChecked());
    QVERIFY(form.N5->isChecked());

    // Timers: 10 ms, stopped.
    for (const char* name : {"ReadInfoTimer", "EnterTunerModeTimer", "ExitTunerModeTimer", "WriteAllTunerDataTimer"}) {
        auto* timer = form.findChild<QTimer*>(QString::fromLatin1(name));
        QVERIFY2(timer != nullptr, name);
        QCOMPARE(timer->interval(), 10);
        QVERIFY(!timer->isActive());
    }
    QVERIFY(form.tuningWindow == nullptr);
    QVERIFY(currentFileName.empty());
    QVERIFY(!expertMode);
}

void MainWindowTest::viewSwitchesToggleBars() {
    TestEnvironment env;
    TMainForm form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.N4->trigger();
    QVERIFY(form.ToolBar2->isHidden());
    QVERIFY(!form.N4->isChecked());
    form.N4->trigger();
    QVERIFY(!form.ToolBar2->isHidden());
    QVERIFY(form.N4->isChecked());
    form.N5->trigger();
    QVERIFY(form.StatusBar1->isHidden());
    QVERIFY(!form.N5->isChecked());
    QVERIFY(!form.ToolBar2->isHidden());  // each switch has its own bar
    form.N5->trigger();
    QVERIFY(!form.StatusBar1->isHidden());
    QVERIFY(form.N5->isChecked());
}

void MainWindowTest::windowListNamesTheTuningWindow() {
    TestEnvironment env;
    TMainForm form;
    form.OpenTuningWindow(QStringLiteral("Untitled.tdb"));
    emit form.View1->aboutToShow();
    QStringList entries;
    for (QAction* a : form.View1->actions()) {
        if (!a->isSeparator() && a != form.N4 && a != form.N5) entries << a->text();
    }
    QCOMPARE(entries.size(), 1);
    QVERIFY(entries.first().endsWith(QLatin1String("Untitled.tdb")));
    // Shown twice, still one entry.
    emit form.View1->aboutToShow();
    int count = 0;
    for (QAction* a : form.View1->actions()) count += a->text().endsWith(QLatin1String("Untitled.tdb")) ? 1 : 0;
    QCOMPARE(count, 1);
}

void MainWindowTest::modalFormsGoThroughTheSeam() {
    TestEnvironment env;
    TMainForm form;
    TAboutBox about(&form);
    TParamForm param(&form);
    TFactroyForm factory(&form);
    form.attachForms(&about, &param, &factory);
    QList<QDialog*> shown;
    env.dialogs().onDialog = [&shown](QDialog* dialog) {
        shown << dialog;
        return int(QDialog::Rejected);
    };
    form.SpeedButton6->click();
    form.HelpAboutItem->trigger();
    form.ParamItemClick();
    form.N1Click();
    QCOMPARE(shown.size(), 4);
    QCOMPARE(shown[0], static_cast<QDialog*>(&about));
    QCOMPARE(shown[1], static_cast<QDialog*>(&about));
    QCOMPARE(shown[2], static_cast<QDialog*>(&param));
    QCOMPARE(shown[3], static_cast<QDialog*>(&factory));
    QCOMPARE(param.objectName(), QStringLiteral("TParamForm"));
    QCOMPARE(factory.objectName(), QStringLiteral("TFactroyForm"));
    // Disabled menu items do nothing when triggered.
    QVERIFY(!form.ParamItem->isEnabled());
    form.ParamItem->trigger();
    QCOMPARE(shown.size(), 4);
}

void MainWindowTest::aboutBoxTakesLanguageOnShow() {
    TestEnvironment env;
    env.writeSettingsLanguage(QStringLiteral("chinese"));
    TMainForm form;
    TAboutBox* about = form.aboutBox();
    QCOMPARE(about->objectName(), QStringLiteral("TAboutBox"));
    env.dialogs().onDialog = [](QDialog* dialog) {
        dialog->show();
        dialog->hide();
        return int(QDialog::Accepted);
    };
    form.HelpAbout1Execute();
    QCOMPARE(about->font().pointSize(), 10);
    QCOMPARE(about->ProductName->font().pointSize(), 10);  // the labels follow the box
    QVERIFY(about->ProductName->font().bold());
    QCOMPARE(about->windowTitle(), Tr("About", "A000"));
    QCOMPARE(about->ProductName->text(), Tr("About", "A001"));
    QCOMPARE(about->Copyright->text(), Tr("About", "A002"));
    QCOMPARE(about->Comments->text(), Tr("About", "A003"));
    QCOMPARE(about->VarnelLabel->text(), QStringLiteral("VARNEL"));
    // The version is the project's (CMake's project version).
    QCOMPARE(TAboutBox::ProgramVersion(), QStringLiteral(VARNEL_TEST_VERSION));
    QCOMPARE(about->Version->text(), Tr("Tuner", "A0001").replace(QStringLiteral("%1"), QStringLiteral(VARNEL_TEST_VERSION)));
    QVERIFY(about->Version->text().contains(QStringLiteral("版本")));
    QVERIFY(about->OKButton->isDefault());

    form.English1->trigger();
    form.HelpAbout1Execute();
    QCOMPARE(about->font().pointSize(), 8);
    QCOMPARE(about->Comments->font().pointSize(), 8);
    QCOMPARE(about->windowTitle(), Tr("About", "A000"));
    QVERIFY(!about->windowTitle().isEmpty());
}

void MainWindowTest::tuningWindowReportsSetCommandsAndCaptions() {
    TestEnvironment env;
    TMainForm form;
    const auto commandsOn = [&form] {
        for (QAction* a : {form.ParamItem, form.FileSaveItem, form.FileSaveAsItem}) {
            if (!a->isEnabled()) return false;
        }
        return form.SpeedButton1->isEnabled() && form.SpeedButton3->isEnabled();
    };
    QVERIFY(!commandsOn());
    TMDIChild* window = form.OpenTuningWindow(QStringLiteral("a.tdb"));
    QVERIFY(commandsOn());

    form.SpeedButton4->setText(QStringLiteral("x"));
    form.N2->setText(QStringLiteral("x"));
    emit window->radioLost();
    QCOMPARE(form.SpeedButton4->text(), Tr("MainForm", "S003"));
    QCOMPARE(form.N2->text(), Tr("MainMenu", "M0022"));
    emit window->tunerModeLeft();
    QCOMPARE(form.SpeedButton4->text(), Tr("MainForm", "S003"));
    QCOMPARE(form.N2->text(), Tr("MainForm", "S003"));
    QCOMPARE(form.N2->statusTip(), Tr("MainForm", "S0030"));

    // A poll that gave up reaches the status bar, and stays there in the
    // other language (the key outlives the text it came in).
    emit window->exchangeFailed(QString::fromLatin1(QByteArray("S0011")), QStringLiteral("Live set"));
    QVERIFY(form.RadioStatus->lastActionText().contains(Tr("Status", "S0011")));
    QVERIFY(form.RadioStatus->lastActionText().contains(QStringLiteral("Live set")));
    form.N8->trigger();
    QVERIFY(form.RadioStatus->lastActionText().contains(Tr("Status", "S0011")));
    form.English1->trigger();

    // The window goes: the pointer to it clears itself, the commands go off.
    QVERIFY(form.tuningWindow->parentWidget()->close());
    QTRY_VERIFY(form.tuningWindow == nullptr);
    QVERIFY(!commandsOn());
}

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"

void MainWindowTest::languageMenuMarksTheLanguage() {
    TestEnvironment env;
    env.writeSettingsLanguage(QStringLiteral("chinese"));
    TMainForm form;
    QVERIFY(form.N8->isCheckable());
    QVERIFY(form.English1->isCheckable());
    QVERIFY(form.N8->actionGroup() != nullptr && form.N8->actionGroup()->isExclusive());
    QCOMPARE(form.N8->actionGroup(), form.English1->actionGroup());
    QVERIFY(form.N8->isChecked());
    QVERIFY(!form.English1->isChecked());
    form.English1->trigger();
    QCOMPARE(languageIndex, int(kLanguageEnglish));
    QVERIFY(form.English1->isChecked());
    QVERIFY(!form.N8->isChecked());
    form.N8->trigger();
    QCOMPARE(languageIndex, int(kLanguageChinese));
    QVERIFY(form.N8->isChecked());
    QVERIFY(!form.English1->isChecked());
}

void MainWindowTest::fileCloseClosesTheTuningWindow_data() {
    QTest::addColumn<bool>("modified");
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("closed");
    QTest::newRow("unchanged: closes without a question") << false << int(ui::MessageResult::Cancel) << true;
    QTest::newRow("changed, Discard") << true << int(ui::MessageResult::Discard) << true;
    QTest::newRow("changed, Cancel") << true << int(ui::MessageResult::Cancel) << false;
}

void MainWindowTest::fileCloseClosesTheTuningWindow() {
    QFETCH(bool, modified);
    QFETCH(int, answer);
    QFETCH(bool, closed);
    TestEnvironment env;
    TMainForm form;
    QVERIFY(!form.FileCloseItem->isEnabled());  // nothing to close
    form.OpenTuningWindow(QStringLiteral("a.tdb"));
    MarkImageSaved(tunerImage);
    if (modified) tunerImage[116] = static_cast<std::uint8_t>(tunerImage[116] + 1);
    QVERIFY(form.FileCloseItem->isEnabled());
    env.dialogs().answers << static_cast<ui::MessageResult>(answer);
    form.FileCloseItem->trigger();
    // The usual Save / Discard / Cancel, only when there is something to lose.
    QCOMPARE(env.dialogs().messages.size(), modified ? 1 : 0);
    if (modified) {
        QCOMPARE(env.dialogs().messages[0].buttons, ui::MessageButtons::SaveDiscardCancel);
        QCOMPARE(env.dialogs().messages[0].text, Tr("Safety", "M0001"));
    }
    QCOMPARE(form.openTuningWindows().isEmpty(), closed);
    QCOMPARE(form.FileCloseItem->isEnabled(), !closed);
}

void MainWindowTest::helpShowsTheCommandLine() {
    TestEnvironment env;
    env.writeSettingsLanguage(QStringLiteral("chinese"));
    TMainForm form;
    QString text;
    env.dialogs().onDialog = [&text](QDialog* dialog) {
        // A window of its own: the sentence, then one row per option.
        for (const QLabel* label : dialog->findChildren<QLabel*>()) text += label->text() + QLatin1Char('\n');
        for (const QTableWidget* table : dialog->findChildren<QTableWidget*>()) {
            for (int row = 0; row < table->rowCount(); ++row)
                text += table->item(row, 0)->text() + QLatin1Char(' ') + table->item(row, 1)->text() + QLatin1Char('\n');
        }
        return int(QDialog::Rejected);
    };
    form.HelpCommandLineItem->trigger();
    QVERIFY(env.dialogs().messages.isEmpty());
    QVERIFY(text.startsWith(Tr("Tuner", "H0003")));
    QVERIFY(text.contains(QStringLiteral("README.md")));
    // The options as --help prints them, with what they do in Chinese.
    QVERIFY(text.contains(QStringLiteral("--virtual-faults=SPEC ") + Tr("Tuner", "H0013").left(8)));
    QVERIFY(text.contains(QStringLiteral("--enter-tuner-mode ") + Tr("Tuner", "H0014")));
}
