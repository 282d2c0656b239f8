#include "ui/Records.h"
#include "app/TMainForm.h"
#include "records/Recorder.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QFileInfo>
#include <QIcon>
#include <QKeySequence>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include "ui/AppFonts.h"
#include "ui/Polling.h"
#include "ui/DialogSeam.h"
#include "ui/FeedbackTexts.h"
#include "app/AppTexts.h"
#include "app/ArchiveCommands.h"
#include "app/RadioStatusBar.h"
#include "app/TunerModeControl.h"
#include "app/TAboutBox.h"
#include "app/TCommandLineBox.h"
#include "data/Global.h"
#include "ui/Selection.h"
#include "dialogs/TFactroyForm.h"
#include "dialogs/TParamForm.h"
#include "dialogs/TRecordsForm.h"
#include "sim/VirtualBackend.h"
#include "dialogs/TAlignForm.h"
#include "lang/Loadlanguage.h"
#include "lang/ErrorText.h"
#include "lang/Profile.h"
#include "protocol/Sendcmd.h"
#include "tuning/HotplugWatch.h"
#include "tuning/TMDIChild.h"
#include "util/LocalTime.h"

// The icons live in the library's resources; a static library needs them
// registered by name.
static void InitMainWindowResources() { Q_INIT_RESOURCE(varnel_icons); }

using varnel::ui::Dialogs;
using varnel::ui::MessageButtons;
using varnel::ui::MessageKind;

namespace varnel::app {

namespace {

// "Calibration Records..." in `menu`; it opens the records view (a window of
// its own, not modal) or brings it to the front.
void AddRecordsMenuEntry(QWidget* window, QMenu* menu) {
    auto* entry = menu->addAction(Tr("Records", "R0002"));
    entry->setObjectName(QStringLiteral("RecordsItem"));
    // The texts follow the language whenever the menu opens.
    QObject::connect(menu, &QMenu::aboutToShow, entry, [entry] {
        entry->setText(Tr("Records", "R0002"));
        const QString hint = Tr("Records", "R0003");
        entry->setToolTip(hint.section(QLatin1Char('|'), 0, 0));
        entry->setStatusTip(hint);
    });
    QObject::connect(entry, &QAction::triggered, window, [window] { TRecordsForm::showRecordsView(window); });
}

}  // namespace

}  // namespace varnel::app

using namespace varnel;
using varnel::app::Tr;

// ---------------------------------------------------------------------------
// Construction

TMainForm::TMainForm(const app::StartupOptions& options, QWidget* parent) : QMainWindow(parent) {
    InitMainWindowResources();
    setObjectName(QStringLiteral("TMainForm"));
    setWindowIcon(QIcon(QStringLiteral(":/icons/varnel.png")));

    // The window from its design; the hint handler.
    MdiArea = new QMdiArea(this);
    MdiArea->setObjectName(QStringLiteral("MdiArea"));
    MdiArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    MdiArea->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setCentralWidget(MdiArea);
    // The document commands follow whether a tuning window is open.
    connect(MdiArea, &QMdiArea::subWindowActivated, this, &TMainForm::updateDocumentCommands);
    buildActions();
    buildMenus();
    buildToolBar();
    buildStatusBar();
    buildParts();
    currentFileName.clear();
    qApp->installEventFilter(this);  // ShowHintInStatusBar for every hint of the program

    // setting.ini and the language; the font size follows it.
    applyStartupLanguage();

    // Texts. Until the pointer rests on a control, panel 0 shows the
    // window's own hint.
    ApplyMainWindowTexts();
    ShowHintInStatusBar(statusTip());

    expertMode = false;
    currentFileName.clear();
    placeWindow(options);
    FormCreate(options);
    watchRadio();
    refreshRadioStatus();
}

void TMainForm::applyStartupLanguage() {
    ChooseStartupLanguage();
    // A setting.ini or language file that is a FIFO, folder or device reads
    // as missing; say so once the window is up.
    if (const Error problem = CheckLanguageFiles(); !problem.ok()) {
        const QString text = QString::fromStdString(ErrorText(problem));
        QTimer::singleShot(0, this, [this, text] {
            Dialogs().message(this, MessageKind::Error, app::kBoxCaption, text, MessageButtons::Ok);
        });
    }
    ui::InstallQtCatalogue(languageIndex);
    setFont(ui::ProgramFont(FontPointsForMainWindow()));
    applyMenuFonts();
}

void TMainForm::applyMenuFonts() {
    // Menus are windows of their own and do not inherit the window's font:
    // each is given the window's, once, so that all items share one size.
    for (QMenu* menu : menuBar()->findChildren<QMenu*>()) menu->setFont(font());
    menuBar()->setFont(font());
}

QString TMainForm::composedTitle() const {
    const QString program = Tr("Application", "Title");
    TMDIChild* child = nullptr;
    for (TMDIChild* open : openTuningWindows()) {
        if (!open->isClosing()) child = open;
    }
    if (child == nullptr) return program;
    QString document = child->windowTitle();
    const bool modified = document.endsWith(QLatin1Char('*'));
    if (modified) document.chop(1);
    if (currentFileName.empty()) {
        // An image read from the radio has no file yet: it is named by the
        // radio it came from.
        QStringList radio;
        const QString model = QString::fromStdString(radioInfo.modelName()).trimmed();
        if (!model.isEmpty()) radio << model;
        const QString serial = QString::fromStdString(CalibrationRecorder().serial());
        if (!serial.isEmpty()) radio << serial;
        if (serial.isEmpty() && !imageSource().isEmpty()) radio << imageSource();
        if (!radio.isEmpty()) document = radio.join(QStringLiteral(", "));
    }
    if (modified) document += QStringLiteral(" *");
    // Ending with the program's name, the platform adds it no second time.
    return document + QStringLiteral(" \u2014 ") + program;
}

void TMainForm::refreshTitle() {
    if (titling_) return;
    const QString title = composedTitle();
    if (windowTitle() == title) return;
    titling_ = true;
    setWindowTitle(title);
    titling_ = false;
}

void TMainForm::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    // A maximised tuning window writes "<frame> - [<document>]" here; the
    // frame's own caption takes its place again.
    if (event->type() == QEvent::WindowTitleChange && !titling_) QTimer::singleShot(0, this, &TMainForm::refreshTitle);
}

// Client area 1164 x 622 below the menu bar, centred on the desktop.
void TMainForm::placeWindow(const app::StartupOptions& options) {
    resize(1164, 622 + menuBar()->sizeHint().height());
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(0, 0), size());
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    // A picture for the documentation keeps the design size.
    rememberGeometry_ = options.grabPath.empty() && !options.reportStartup;
    if (rememberGeometry_) restoreWindowGeometry();
}

// The status bar follows every exchange and the radio's comings and goings.
void TMainForm::watchRadio() {
    SetFrameWatcher([this](const std::uint8_t* bytes, std::uint16_t length, bool received) {
        watchFrame(bytes, length, received);
    });
    presenceWatch_ = new HotplugWatch(this);
    connect(presenceWatch_, &HotplugWatch::deviceChanged, this, [this] { QTimer::singleShot(0, this, &TMainForm::rescanPresence); });
    QTimer::singleShot(0, this, &TMainForm::rescanPresence);
}

TMainForm::~TMainForm() {
    SetFrameWatcher({});
    // The tuning windows report to this window; let them go while it is
    // still whole, and without its handlers.
    disconnect(MdiArea, nullptr, this, nullptr);
    delete MdiArea;
    MdiArea = nullptr;
}

void TMainForm::FormCreate(const app::StartupOptions& options) { expertMode = options.expertMode; }

void TMainForm::buildActions() {
    auto make = [this](const char* name, void (TMainForm::*slot)()) {
        auto* action = new QAction(this);
        action->setObjectName(QString::fromLatin1(name));
        if (slot != nullptr) connect(action, &QAction::triggered, this, slot);
        return action;
    };
    FileOpen1 = make("FileOpen1", &TMainForm::FileOpen1Execute);
    FileExit1 = make("FileExit1", &TMainForm::FileExit1Execute);
    HelpAbout1 = make("HelpAbout1", &TMainForm::HelpAbout1Execute);

    FileOpenItem = make("FileOpenItem", nullptr);
    FileOpenItem->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    connect(FileOpenItem, &QAction::triggered, FileOpen1, &QAction::trigger);
    // Closes the tuning window with its usual questions (unsaved changes,
    // tuner mode).
    FileCloseItem = make("FileCloseItem", &TMainForm::FileCloseItemClick);
    FileCloseItem->setEnabled(false);
    FileSaveItem = make("FileSaveItem", &TMainForm::FileSaveItemClick);
    FileSaveItem->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    FileSaveItem->setEnabled(false);
    FileSaveAsItem = make("FileSaveAsItem", &TMainForm::FileSaveAsItemClick);
    FileSaveAsItem->setEnabled(false);
    FileExitItem = make("FileExitItem", nullptr);
    connect(FileExitItem, &QAction::triggered, FileExit1, &QAction::trigger);

    ParamItem = make("ParamItem", &TMainForm::ParamItemClick);
    ParamItem->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
    ParamItem->setEnabled(false);
    N8 = make("N8", &TMainForm::N8Click);
    English1 = make("English1", &TMainForm::English1Click);
    // The language in use carries the check mark.
    auto* languages = new QActionGroup(this);
    languages->setExclusive(true);
    for (QAction* language : {N8, English1}) {
        language->setCheckable(true);
        languages->addAction(language);
    }

    N2 = make("N2", &TMainForm::SpeedButton4Click);

    N4 = make("N4", &TMainForm::N4Click);
    N4->setCheckable(true);
    N4->setChecked(true);
    N5 = make("N5", &TMainForm::N5Click);
    N5->setCheckable(true);
    N5->setChecked(true);

    N1 = make("N1", &TMainForm::N1Click);
    N1->setEnabled(false);

    HelpAboutItem = make("HelpAboutItem", nullptr);
    connect(HelpAboutItem, &QAction::triggered, HelpAbout1, &QAction::trigger);
    HelpCommandLineItem = make("HelpCommandLineItem", &TMainForm::HelpCommandLineItemClick);
}

void TMainForm::buildMenus() {
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu1"));
    auto menu = [bar](const char* name) {
        QMenu* m = bar->addMenu(QString());
        m->setObjectName(QString::fromLatin1(name));
        return m;
    };
    File1 = menu("File1");
    File1->addAction(FileOpenItem);
    File1->addAction(FileCloseItem);
    File1->addAction(FileSaveItem);
    File1->addAction(FileSaveAsItem);
    File1->addSeparator();
    File1->addAction(FileExitItem);

    Edit1 = menu("Edit1");
    Edit1->addAction(ParamItem);
    Edit1->addSeparator();
    L1 = Edit1->addMenu(QString());
    L1->setObjectName(QStringLiteral("L1"));
    L1->addAction(N8);
    L1->addAction(English1);

    TunerAndTest = menu("TunerAndTest");
    TunerAndTest->addAction(N2);
    app::AddRecordsMenuEntry(this, TunerAndTest);
    TAlignForm::addMenuEntry(this, TunerAndTest);

    View1 = menu("View1");
    View1->addAction(N4);
    View1->addAction(N5);
    windowListSeparator_ = View1->addSeparator();
    windowListSeparator_->setVisible(false);
    connect(View1, &QMenu::aboutToShow, this, &TMainForm::rebuildWindowList);

    S1 = menu("S1");
    S1->addAction(N1);

    H1 = menu("H1");
    H1->addAction(HelpCommandLineItem);
    H1->addSeparator();
    H1->addAction(HelpAboutItem);
}

void TMainForm::rebuildWindowList() {
    // The frame's window list: one entry per open tuning window, the active
    // one checked, below the tool bar and status bar switches.
    const QList<QAction*> actions = View1->actions();
    const qsizetype first = actions.indexOf(windowListSeparator_) + 1;
    for (qsizetype i = first; i < actions.size(); ++i) {
        View1->removeAction(actions[i]);
        delete actions[i];
    }
    const QList<QMdiSubWindow*> windows = MdiArea->subWindowList();
    int number = 0;
    for (QMdiSubWindow* window : windows) {
        if (window->isHidden()) continue;
        ++number;
        QAction* entry = View1->addAction(QStringLiteral("&%1 %2").arg(number).arg(window->windowTitle()));
        entry->setCheckable(true);
        entry->setChecked(window == MdiArea->activeSubWindow());
        QPointer<QMdiSubWindow> target(window);
        connect(entry, &QAction::triggered, this, [this, target] {
            if (target) MdiArea->setActiveSubWindow(target);
        });
    }
    windowListSeparator_->setVisible(number > 0);
}

void TMainForm::buildToolBar() {
    ToolBar2 = new QToolBar(this);
    ToolBar2->setObjectName(QStringLiteral("ToolBar2"));
    ToolBar2->setMovable(false);
    ToolBar2->setFloatable(false);
    ToolBar2->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    ToolBar2->setIconSize(QSize(24, 24));
    addToolBar(Qt::TopToolBarArea, ToolBar2);

    auto button = [this](const char* name, const char* icon, void (TMainForm::*slot)()) {
        auto* b = new QToolButton(ToolBar2);
        b->setObjectName(QString::fromLatin1(name));
        b->setAutoRaise(true);  // flat
        b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        b->setIcon(QIcon(QStringLiteral(":/icons/%1.png").arg(QString::fromLatin1(icon))));
        b->setMinimumWidth(64);
        connect(b, &QToolButton::clicked, this, slot);
        ToolBar2->addWidget(b);
        return b;
    };
    SpeedButton2 = button("SpeedButton2", "open", &TMainForm::FileOpen1Execute);
    SpeedButton3 = button("SpeedButton3", "save", &TMainForm::FileSaveItemClick);
    SpeedButton3->setEnabled(false);
    ToolBar2->addSeparator();
    SpeedButton4 = button("SpeedButton4", "tuner", &TMainForm::SpeedButton4Click);
    SpeedButton1 = button("SpeedButton1", "write", &TMainForm::SpeedButton1Click);
    SpeedButton1->setEnabled(false);
    ToolBar2->addSeparator();
    SpeedButton6 = button("SpeedButton6", "about", &TMainForm::HelpAbout1Execute);
}

void TMainForm::buildStatusBar() {
    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    setStatusBar(StatusBar1);
    panels_ = new app::StatusPanels(StatusBar1);
    StatusBar1->addWidget(panels_, 1);
    RadioStatus = new app::RadioStatusBar(StatusBar1);
    StatusBar1->addPermanentWidget(RadioStatus);
    StatusRefreshTimer = ui::NamedTimer(this, "StatusRefreshTimer", 250);
    connect(StatusRefreshTimer, &QTimer::timeout, this, &TMainForm::refreshRadioStatus);
    StatusRefreshTimer->start();
    // StatusBar1Resize runs from the application-wide event filter.
}

void TMainForm::buildParts() {
    archive_ = new app::ArchiveCommands(*this);
    tunerMode_ = new app::TunerModeControl(*this, *archive_);
    ReadInfoTimer = tunerMode_->ReadInfoTimer;
    EnterTunerModeTimer = tunerMode_->EnterTunerModeTimer;
    ExitTunerModeTimer = tunerMode_->ExitTunerModeTimer;
    WriteAllTunerDataTimer = tunerMode_->WriteAllTunerDataTimer;
    WriteAllReadBackTimer = tunerMode_->WriteAllReadBackTimer;
    WriteAllCheckTimer = tunerMode_->WriteAllCheckTimer;
}

void TMainForm::attachForms(TAboutBox* about, TParamForm* param, TFactroyForm* factory) {
    aboutBox_ = about;
    paramForm_ = param;
    factoryForm_ = factory;
    connectDialogHooks();
}

void TMainForm::attachVirtualRadio(VirtualBackend* backend) {
    if (backend == nullptr || VirtualRadioMenu != nullptr) return;
    virtualBackend_ = backend;
    VirtualRadioMenu = new QMenu(this);
    VirtualRadioMenu->setObjectName(QStringLiteral("VirtualRadioMenu"));
    menuBar()->insertMenu(H1->menuAction(), VirtualRadioMenu);
    VirtualCable = VirtualRadioMenu->addAction(QString());
    VirtualCable->setObjectName(QStringLiteral("VirtualCable"));
    VirtualCable->setCheckable(true);
    VirtualCable->setChecked(backend->plugged());
    VirtualRadioMenu->setFont(font());
    connect(VirtualCable, &QAction::toggled, this, [backend](bool connected) {
        if (connected) {
            backend->plug();
        } else {
            backend->unplug();
        }
    });
    applyVirtualRadioTexts();
}

void TMainForm::applyVirtualRadioTexts() {
    if (VirtualRadioMenu == nullptr) return;
    VirtualRadioMenu->setTitle(Tr("VirtualRadio", "V0001"));
    VirtualCable->setText(Tr("VirtualRadio", "V0002"));
    app::SetHint(VirtualCable, Tr("VirtualRadio", "V0003"));
}

void TMainForm::connectDialogHooks() {
    // A confirmed grid and a factory read replace image bytes that the
    // tuning window shows: let it select its item again.
    const auto refreshTuningWindow = [this] {
        if (tuningWindow != nullptr) tuningWindow->imageEdited();
    };
    if (paramForm_ != nullptr) paramForm_->setConfirmHandler(refreshTuningWindow);
    // The factory values are shown, not sent: the operator selects a point
    // before anything reaches the radio.
    const auto showFactoryImage = [this] {
        if (tuningWindow != nullptr) tuningWindow->factoryImageRead(Tr("Safety", "L0004"));
    };
    if (factoryForm_ != nullptr) factoryForm_->setFactoryReadHandler(showFactoryImage);
}

TAboutBox* TMainForm::aboutBox() {
    if (!aboutBox_) aboutBox_ = new TAboutBox(this);
    return aboutBox_;
}

TParamForm* TMainForm::paramForm() {
    if (!paramForm_) {
        paramForm_ = new TParamForm(this);
        connectDialogHooks();
    }
    return paramForm_;
}

TFactroyForm* TMainForm::factoryForm() {
    if (!factoryForm_) {
        factoryForm_ = new TFactroyForm(this);
        connectDialogHooks();
    }
    return factoryForm_;
}

// ---------------------------------------------------------------------------
// Texts, language, hints

void TMainForm::ApplyMainWindowTexts() {
    // The application title first: the platform appends it to a window title
    // that does not already end with it, so the caption set after it is not
    // followed by the old application title.
    QGuiApplication::setApplicationDisplayName(Tr("Application", "Title"));
    setWindowTitle(Tr("Application", "Title"));
    refreshTitle();
    SpeedButton2->setText(Tr("MainForm", "S001"));
    app::SetHint(SpeedButton2, Tr("MainForm", "S0001"));
    SpeedButton3->setText(Tr("MainForm", "S002"));
    app::SetHint(SpeedButton3, Tr("MainForm", "S0002"));
    SpeedButton4->setText(Tr("MainForm", "S003"));
    app::SetHint(SpeedButton4, Tr("MainForm", "S0030"));
    SpeedButton1->setText(Tr("MainForm", "S005"));
    app::SetHint(SpeedButton1, Tr("MainForm", "S005"));
    SpeedButton6->setText(Tr("MainForm", "S006"));
    app::SetHint(SpeedButton6, Tr("MainForm", "S006"));
    File1->setTitle(Tr("MainMenu", "M0001"));
    FileOpenItem->setText(Tr("MainMenu", "M0008"));
    FileCloseItem->setText(Tr("MainMenu", "M0009"));
    FileSaveItem->setText(Tr("MainForm", "S002"));
    app::SetHint(this, Tr("MainForm", "S008"));
    FileExit1->setText(Tr("MainMenu", "M0012"));
    app::SetHint(FileExit1, Tr("MainMenu", "M00120"));
    Edit1->setTitle(Tr("MainMenu", "M0002"));
    TunerAndTest->setTitle(Tr("MainMenu", "M0027"));
    View1->setTitle(Tr("MainMenu", "M0003"));
    H1->setTitle(Tr("MainMenu", "M0007"));
    ParamItem->setText(Tr("MainMenu", "M0020"));
    app::SetHint(ParamItem, Tr("MainMenu", "M00200"));
    L1->setTitle(Tr("MainMenu", "M0021"));
    app::SetHint(L1->menuAction(), Tr("MainMenu", "M00201"));
    N2->setText(Tr("MainForm", "S003"));
    app::SetHint(N2, Tr("MainForm", "S0030"));
    N4->setText(Tr("MainMenu", "M0016"));
    app::SetHint(N4, Tr("MainMenu", "M00160"));
    N5->setText(Tr("MainMenu", "M0017"));
    app::SetHint(N5, Tr("MainMenu", "M00170"));
    HelpAboutItem->setText(Tr("MainMenu", "M0015"));
    app::SetHint(HelpAboutItem, Tr("MainMenu", "M00150"));
    FileExitItem->setText(Tr("MainMenu", "M0012"));
    app::SetHint(FileExitItem, Tr("MainMenu", "M00120"));
    FileSaveAsItem->setText(Tr("MainForm", "S009"));
    N8->setText(Tr("MainMenu", "M0025"));
    English1->setText(Tr("MainMenu", "M0026"));
    N8->setChecked(languageIndex == kLanguageChinese);
    English1->setChecked(languageIndex != kLanguageChinese);
    HelpCommandLineItem->setText(Tr("Tuner", "H0001"));
    app::SetHint(HelpCommandLineItem, Tr("Tuner", "H0002"));
    S1->setTitle(Tr("MainMenu", "M0028"));
    N1->setText(Tr("MainMenu", "M00280"));
}

void TMainForm::ShowHintInStatusBar(const QString& hint) { panels_->setText(0, app::LongHint(hint)); }

QString TMainForm::statusPanelText(int panel) const { return panels_->text(panel); }

int TMainForm::statusPanelWidth(int panel) const { return panels_->panelWidth(panel); }

void TMainForm::StatusBar1Resize() { panels_->setPanel0Width(app::StatusPanelWidth(StatusBar1->width())); }

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
    // The frame's own caption is not passed on to a maximised tuning window,
    // which would append "- [<document>]" to it again.
    if (watched == this && event->type() == QEvent::WindowTitleChange && titling_) return true;
    if (event->type() == QEvent::StatusTip) {
        // Every hint of the program ends here, whichever window it came from.
        ShowHintInStatusBar(static_cast<QStatusTipEvent*>(event)->tip());
        return true;
    }
    if (watched == StatusBar1 && event->type() == QEvent::Resize) StatusBar1Resize();
    return QMainWindow::eventFilter(watched, event);
}

void TMainForm::N8Click() { switchLanguage(kLanguageChinese); }

void TMainForm::English1Click() { switchLanguage(kLanguageEnglish); }

void TMainForm::switchLanguage(int index) {
    OpenLanguage(index);  // the window keeps its font size
    ui::InstallQtCatalogue(index);
    ApplyMainWindowTexts();
    RadioStatus->retranslate();
    applyVirtualRadioTexts();
    // An open Auto Align window follows the language at once.
    if (auto* align = findChild<TAlignForm*>(QStringLiteral("TAlignForm"))) align->applyTexts();
    tunerMode_->showCaptions();
    ShowHintInStatusBar(statusTip());
    StatusBar1->update();
    if (tuningWindow != nullptr) {
        tuningWindow->FormShow();
        // The lines above stay as they were written; the switch is marked.
        tuningWindow->LogNote(Tr("Tuner", "L0001"));
    }
}

// ---------------------------------------------------------------------------
// View, dialogs, closing

void TMainForm::N4Click() {
    const bool show = ToolBar2->isHidden();
    ToolBar2->setVisible(show);
    N4->setChecked(show);
}

void TMainForm::N5Click() {
    const bool show = StatusBar1->isHidden();
    StatusBar1->setVisible(show);
    N5->setChecked(show);
}

void TMainForm::ParamItemClick() {
    Dialogs().execDialog(paramForm());
    if (tuningWindow != nullptr) {
        tuningWindow->ShowBand();
        tuningWindow->refreshModifiedMarker();
    }
}

void TMainForm::HelpAbout1Execute() { Dialogs().execDialog(aboutBox()); }

void TMainForm::HelpCommandLineItemClick() {
    // What --help prints, in the interface language, in two columns.
    auto* box = findChild<TCommandLineBox*>(QStringLiteral("TCommandLineBox"));
    if (box == nullptr) box = new TCommandLineBox(this);
    box->applyTexts();
    Dialogs().execDialog(box);
}

void TMainForm::FileCloseItemClick() { closeTuningWindows(); }

void TMainForm::N1Click() { Dialogs().execDialog(factoryForm()); }

void TMainForm::FileExit1Execute() { close(); }

void TMainForm::closeEvent(QCloseEvent* event) {
    // The tuning window goes first; its close query may keep the program
    // running. When it saves live values first, the program's close runs
    // again afterwards.
    const QList<TMDIChild*> windows = openTuningWindows();
    for (TMDIChild* child : windows) child->setCloseRetry([this] { close(); });
    if (!closeTuningWindows()) {
        for (TMDIChild* child : openTuningWindows()) child->setCloseRetry({});
        event->ignore();
        return;
    }
    FormClose();
    event->accept();
}

void TMainForm::FormClose() {
    storeWindowGeometry();
    if (const Error error = StoreLanguageSetting(); !error.ok()) {
        Dialogs().message(this, MessageKind::Error, app::kBoxCaption, QString::fromStdString(ErrorText(error)),
                          MessageButtons::Ok);
    }
}

// ---------------------------------------------------------------------------
// The tuning window

QList<TMDIChild*> TMainForm::openTuningWindows() const {
    QList<TMDIChild*> open;
    if (MdiArea == nullptr) return open;
    for (QMdiSubWindow* window : MdiArea->subWindowList()) {
        if (window->isHidden()) continue;
        if (auto* child = qobject_cast<TMDIChild*>(window->widget())) open << child;
    }
    return open;
}

bool TMainForm::closeTuningWindows() {
    bool allClosed = true;
    for (QMdiSubWindow* window : MdiArea->subWindowList()) {
        if (window->isHidden()) continue;
        if (window->close()) {
            // Gone now rather than at the next turn of the event loop, so
            // that the old window is out of the way before a new one starts.
            delete window;
        } else {
            allClosed = false;
        }
    }
    return allClosed;
}

TMDIChild* TMainForm::OpenTuningWindow(const QString& path) {
    // newFirmware is derived from radioInfo wherever it is needed.
    closeTuningWindows();  // a window that refuses stays open beside the new one
    auto* child = new TMDIChild;
    connectTuningWindow(child);
    QMdiSubWindow* window = MdiArea->addSubWindow(child);
    window->setAttribute(Qt::WA_DeleteOnClose);
    tuningWindow = child;
    child->setDocumentName(QFileInfo(path).fileName());
    window->showMaximized();
    child->FormShow();
    // The exchanges that led here (entering tuner mode) open its log.
    for (const PendingLogLine& line : std::as_const(pendingLog_)) {
        child->LogFrame(reinterpret_cast<const std::uint8_t*>(line.bytes.constData()),
                        static_cast<std::uint16_t>(line.bytes.size()), line.direction, line.when);
    }
    pendingLog_.clear();
    return child;
}

void TMainForm::connectTuningWindow(TMDIChild* window) {
    window->setSaveHandler([this] { return archive_->save(); });
    connect(window, &TMDIChild::documentShown, this, &TMainForm::updateDocumentCommands);
    connect(window, &TMDIChild::documentClosed, this, &TMainForm::updateDocumentCommands);
    connect(window, &TMDIChild::tunerModeLeft, tunerMode_, &app::TunerModeControl::showLeftCaptions);
    connect(window, &TMDIChild::radioLost, tunerMode_, &app::TunerModeControl::showRadioLostCaptions);
    connect(window, &TMDIChild::radioPresenceChanged, this, &TMainForm::radioPresenceChanged);
    connect(window, &TMDIChild::linkNote, this, &TMainForm::showLinkNote);
    connect(window, &TMDIChild::exchangeFailed, this, &TMainForm::reportFailure);
    connect(window, &QWidget::windowTitleChanged, this, &TMainForm::refreshTitle);
    connect(window, &QObject::destroyed, this, [this] { QTimer::singleShot(0, this, &TMainForm::refreshTitle); });
}

void TMainForm::showStatusNote(const QString& text) { panels_->setText(1, text); }

void TMainForm::showStatusMessage(const QString& text) { ui::ShowStatusMessage(this, text); }

void TMainForm::updateDocumentCommands() {
    // A window that closes while another one stays leaves them on.
    bool enabled = false;
    for (TMDIChild* child : openTuningWindows()) enabled = enabled || !child->isClosing();
    SpeedButton1->setEnabled(enabled);
    SpeedButton3->setEnabled(enabled);
    ParamItem->setEnabled(enabled);
    FileCloseItem->setEnabled(enabled);
    FileSaveItem->setEnabled(enabled);
    FileSaveAsItem->setEnabled(enabled);
}

// ---------------------------------------------------------------------------
// Tuner-mode control and archives: the parts that do the work

bool TMainForm::pollRunning() const { return tunerMode_->pollRunning(); }

void TMainForm::SpeedButton4Click() { tunerMode_->toggle(); }

void TMainForm::SpeedButton1Click() { tunerMode_->writeAll(); }

void TMainForm::ReadInfoTimerTimer() { tunerMode_->ReadInfoTimerTimer(); }

void TMainForm::EnterTunerModeTimerTimer() { tunerMode_->EnterTunerModeTimerTimer(); }

void TMainForm::ExitTunerModeTimerTimer() { tunerMode_->ExitTunerModeTimerTimer(); }

void TMainForm::WriteAllCheckTimerTimer() { tunerMode_->WriteAllCheckTimerTimer(); }

void TMainForm::WriteAllTunerDataTimerTimer() { tunerMode_->WriteAllTunerDataTimerTimer(); }
void TMainForm::WriteAllReadBackTimerTimer() { tunerMode_->WriteAllReadBackTimerTimer(); }

void TMainForm::showLinkNote(const QString& note) { panels_->setText(1, note); }

void TMainForm::FileOpen1Execute() { archive_->open(); }

bool TMainForm::OpenArchive(const QString& path) { return archive_->openArchive(app::NativePath(path)); }

bool TMainForm::OpenArchive(const std::filesystem::path& path) { return archive_->openArchive(path); }

void TMainForm::FileSaveItemClick() { archive_->save(); }

void TMainForm::FileSaveAsItemClick() { archive_->saveAs(); }

QString TMainForm::imageSource() const { return archive_->imageSource(); }

QString TMainForm::lastBackupPath() const { return archive_->lastBackupPath(); }

// ---------------------------------------------------------------------------
// The radio's state in the status bar

void TMainForm::refreshRadioStatus() {
    RadioStatus->refresh(radioPresent_);
    refreshTitle();
}

void TMainForm::rescanPresence() {
    // A tuning window's connection watch does its own scans and reports.
    radioPresent_ = ScanRadioDrives() > 0;
    if (!radioPresent_) N1->setEnabled(false);
    refreshRadioStatus();
}

void TMainForm::reportFailure(const QString& statusKey, const QString& detail) {
    RadioStatus->failed(statusKey.toLatin1().constData(), detail);
    refreshRadioStatus();
}

void TMainForm::radioPresenceChanged(bool present) {
    radioPresent_ = present;
    // The virtual cable's check mark follows a radio that went away on its own.
    if (VirtualCable != nullptr && virtualBackend_ != nullptr) {
        const QSignalBlocker quiet(VirtualCable);
        VirtualCable->setChecked(virtualBackend_->plugged());
    }
    if (!present) {
        // The factory copy needs the radio in tuner mode.
        N1->setEnabled(false);
        RadioStatus->failed("S0008");
        StatusBar1->showMessage(ui::StatusText("S0010"), 15000);
    } else if (const QString problem = ui::RadioOpenProblem(); !problem.isEmpty()) {
        // Seen, but it cannot be opened: entering would fail.
        RadioStatus->failed("S0028", problem);
        StatusBar1->showMessage(ui::StatusText("S0027").arg(problem), 15000);
    } else {
        StatusBar1->showMessage(ui::StatusText("S0015"), 15000);
    }
    refreshRadioStatus();
}

void TMainForm::watchFrame(const std::uint8_t* bytes, std::uint16_t length, bool received) {
    const DecodedFrame frame = DecodeFrame(bytes, length, received);
    if (received) radioPresent_ = true;
    RadioStatus->followFrame(frame, currentPoint);
    // The tuning window logs its own live-sets, read-backs and saves; the
    // other commands (information, enter, leave, write all, factory) are
    // logged here.
    if (frame.command == cmd::kReadInfo || frame.command == cmd::kEnterTunerMode) {
        // Entering opens a new tuning window: its log starts with these.
        if (frame.command == cmd::kReadInfo && !received) pendingLog_.clear();
        pendingLog_.append({QByteArray(reinterpret_cast<const char*>(bytes), length), received ? 1 : 0,
                            QDateTime::currentDateTime()});
    } else if (frame.command != cmd::kSetItem && frame.command != cmd::kSaveItem && tuningWindow != nullptr) {
        tuningWindow->LogFrame(bytes, length, received ? 1 : 0);
    }
    refreshRadioStatus();
}

void TMainForm::restoreWindowGeometry() {
    // Kept in setting.ini beside the language, in a section of its own.
    if (settingsFile.empty()) return;
    const std::string saved = ReadProfileString(settingsFile, "Window", "Geometry", {});
    const QByteArray geometry = QByteArray::fromBase64(QByteArray::fromStdString(saved));
    if (geometry.isEmpty() || !restoreGeometry(geometry)) {
        setWindowState(windowState() | Qt::WindowMaximized);
        return;
    }
    if (ReadProfileString(settingsFile, "Window", "Maximized", {}) == "1") {
        setWindowState(windowState() | Qt::WindowMaximized);
    }
}

void TMainForm::storeWindowGeometry() {
    if (settingsFile.empty() || !rememberGeometry_) return;
    // A window size that cannot be kept is no reason to bother the operator;
    // the language setting written next reports a file that cannot be written.
    if (!WriteProfileString(settingsFile, "Window", "Geometry", saveGeometry().toBase64().toStdString()).ok()) return;
    (void)WriteProfileString(settingsFile, "Window", "Maximized", isMaximized() ? "1" : "0").ok();
}
