// The main window: a multiple-document frame that hosts the tuning window,
// with the File / Edit / Tuning / View / Factory / Help menus, the tool bar
// and the status bar. It builds the controls, switches the language (and
// stores it in setting.ini at close), replaces the tuning window and keeps
// the status bar following the radio. The work behind the commands is done
// by its parts: TunerModeControl (enter, leave, write the whole image) and
// ArchiveCommands (open, save, save as, the entry backup); the slots below
// hand over to them.
#pragma once

#include <functional>

#include <QDateTime>
#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <filesystem>

#include "app/AppTexts.h"
#include "app/ArchiveCommands.h"
#include "app/RadioStatusBar.h"
#include "app/StartupOptions.h"
#include "data/Filemanage.h"
#include "device/Mass_storage.h"
#include "protocol/FrameDecode.h"

class QAction;
class QMdiArea;
class QMdiSubWindow;
class QMenu;
class QStatusBar;
class QTimer;
class QToolBar;
class QToolButton;
class TAboutBox;
class HotplugWatch;
namespace varnel {
class VirtualBackend;
}
class TFactroyForm;
class TMDIChild;
class TParamForm;

namespace varnel::app {
class ArchiveCommands;
class TunerModeControl;
}  // namespace varnel::app

class TMainForm : public QMainWindow {
    Q_OBJECT
public:
    // Reads setting.ini and the language file from the program directory
    // (varnel::ProgramDirectory()), which the program entry sets first.
    explicit TMainForm(const varnel::app::StartupOptions& options = {}, QWidget* parent = nullptr);
    ~TMainForm() override;

    // The dialogs the program entry created after the main window. When none
    // were attached, the window creates its own on first use.
    void attachForms(TAboutBox* about, TParamForm* param, TFactroyForm* factory);
    // Running on the virtual radio: adds the menu `VirtualRadioMenu` whose
    // checkable item `VirtualCable` pulls and re-inserts the radio's cable.
    void attachVirtualRadio(varnel::VirtualBackend* backend);
    QMenu* VirtualRadioMenu = nullptr;
    QAction* VirtualCable = nullptr;
    TAboutBox* aboutBox();
    TParamForm* paramForm();
    TFactroyForm* factoryForm();

    // Reads the command line: the expert switch sets expertMode.
    void FormCreate(const varnel::app::StartupOptions& options);
    // Sets every caption and hint of the window from the language file.
    void ApplyMainWindowTexts();
    // The application's hint handler: panel 0 shows the long part of `hint`.
    void ShowHintInStatusBar(const QString& hint);
    // Closes every tuning window (each may refuse while tuner mode is on) and
    // opens a new one captioned with the file name of `path`.
    TMDIChild* OpenTuningWindow(const QString& path);
    // Opens an archive without asking for its name (command line, tests).
    // False when the file was refused; an error box has then been shown.
    bool OpenArchive(const QString& path);
    // The same for a path taken from the command line as it is, bytes that
    // are not valid UTF-8 included.
    bool OpenArchive(const std::filesystem::path& path);

    // Status bar panels, for display and tests.
    QString statusPanelText(int panel) const;
    int statusPanelWidth(int panel) const;
    // True while one of the four poll timers runs.
    bool pollRunning() const;
    // The tuning windows that are open (not closed, not yet deleted).
    QList<TMDIChild*> openTuningWindows() const;

    // A short note in the status bar (a failed backup, a poll that gave up).
    void showStatusNote(const QString& text);
    // What a command did, across the status bar for a while: where a file
    // went, what was reloaded.
    void showStatusMessage(const QString& text);
    // Where the image in memory came from: a file name, or "read from this
    // radio at HH:MM".
    QString imageSource() const;
    // The file of the last automatic backup, empty when it failed.
    QString lastBackupPath() const;

    // The radio's state at a glance, right of the two panels; refreshed by
    // StatusRefreshTimer and by every acknowledged or failed exchange.
    varnel::app::RadioStatusBar* RadioStatus = nullptr;
    QTimer* StatusRefreshTimer = nullptr;
    void refreshRadioStatus();
    // Whether a radio volume was seen at the last scan.
    bool radioPresent() const { return radioPresent_; }
    void setRadioPresent(bool present) { radioPresent_ = present; }
    // Asks every tuning window to close; true when none is left open.
    bool closeTuningWindows();

    // ---- controls (named as in the design; tests find them by name) ----
    QMdiArea* MdiArea = nullptr;
    QToolBar* ToolBar2 = nullptr;
    QToolButton* SpeedButton2 = nullptr;  // open
    QToolButton* SpeedButton3 = nullptr;  // save
    QToolButton* SpeedButton4 = nullptr;  // enter / leave tuner mode
    QToolButton* SpeedButton1 = nullptr;  // write all
    QToolButton* SpeedButton6 = nullptr;  // about
    QMenu* File1 = nullptr;
    QMenu* Edit1 = nullptr;
    QMenu* L1 = nullptr;
    QMenu* TunerAndTest = nullptr;
    QMenu* View1 = nullptr;
    QMenu* S1 = nullptr;
    QMenu* H1 = nullptr;
    QAction* FileOpenItem = nullptr;
    QAction* FileCloseItem = nullptr;
    QAction* FileSaveItem = nullptr;
    QAction* FileSaveAsItem = nullptr;
    QAction* FileExitItem = nullptr;
    QAction* ParamItem = nullptr;
    QAction* N8 = nullptr;        // Chinese
    QAction* English1 = nullptr;  // English
    QAction* N2 = nullptr;        // enter / leave tuner mode
    QAction* N4 = nullptr;        // tool bar on / off
    QAction* N5 = nullptr;        // status bar on / off
    QAction* N1 = nullptr;        // factory settings
    QAction* HelpAboutItem = nullptr;
    QAction* HelpCommandLineItem = nullptr;  // the command line and where the manual is
    // Actions behind the menu items and buttons.
    QAction* FileOpen1 = nullptr;
    QAction* FileExit1 = nullptr;
    QAction* HelpAbout1 = nullptr;
    QStatusBar* StatusBar1 = nullptr;
    // Tuner-mode control's poll timers (see TunerModeControl).
    QTimer* ReadInfoTimer = nullptr;
    QTimer* EnterTunerModeTimer = nullptr;
    QTimer* ExitTunerModeTimer = nullptr;
    QTimer* WriteAllTunerDataTimer = nullptr;
    QTimer* WriteAllReadBackTimer = nullptr;  // the read-back after an unacknowledged write-all
    QTimer* WriteAllCheckTimer = nullptr;

    // The tuning window this window opened last, or none.
    QPointer<TMDIChild> tuningWindow;

public slots:
    // Tool bar, menus
    void FileOpen1Execute();
    void FileSaveItemClick();
    void FileSaveAsItemClick();
    void FileExit1Execute();
    void ParamItemClick();
    void HelpAbout1Execute();
    void HelpCommandLineItemClick();
    void FileCloseItemClick();
    void N8Click();
    void English1Click();
    void N4Click();
    void N5Click();
    void N1Click();
    // Tuner-mode control
    void SpeedButton4Click();
    void SpeedButton1Click();
    // Poll timers
    void ReadInfoTimerTimer();
    void EnterTunerModeTimerTimer();
    void ExitTunerModeTimerTimer();
    void WriteAllTunerDataTimerTimer();
    void WriteAllReadBackTimerTimer();
    void WriteAllCheckTimerTimer();
    // Status bar
    void StatusBar1Resize();

protected:
    void closeEvent(QCloseEvent* event) override;
    // No context menu of bars: the tool bar and status bar are switched from
    // the View menu only, whose check marks must match.
    QMenu* createPopupMenu() override { return nullptr; }
    bool eventFilter(QObject* watched, QEvent* event) override;
    // The frame's caption follows the document (see refreshTitle).
    void changeEvent(QEvent* event) override;

private:
    // Save, Save As, write-all and the grid editor apply exactly while a
    // tuning window is open.
    void updateDocumentCommands();
    // What the tuning window reports.
    void connectTuningWindow(TMDIChild* window);
    void showLinkNote(const QString& note);
    void reportFailure(const QString& statusKey, const QString& detail);
    void radioPresenceChanged(bool present);
    void connectDialogHooks();
    void applyVirtualRadioTexts();
    void buildActions();
    void buildMenus();
    void buildToolBar();
    void buildStatusBar();
    void buildParts();
    void applyStartupLanguage();
    void placeWindow(const varnel::app::StartupOptions& options);
    void watchRadio();
    void switchLanguage(int index);
    // Stores the language (FormClose).
    void FormClose();
    void rebuildWindowList();
    // The caption: the program's name once, after the document of the open
    // tuning window (its file, or what an image read from the radio is).
    QString composedTitle() const;
    void refreshTitle();
    bool titling_ = false;
    // Every menu of the window (the virtual radio's too) in the window's font.
    void applyMenuFonts();

    // Every frame of the program passes here: acknowledgements and refusals
    // for the status bar, and the main window's and factory dialog's own
    // exchanges for the tuning window's log.
    void watchFrame(const std::uint8_t* bytes, std::uint16_t length, bool received);
    void rescanPresence();
    void restoreWindowGeometry();
    void storeWindowGeometry();

    varnel::app::StatusPanels* panels_ = nullptr;
    HotplugWatch* presenceWatch_ = nullptr;
    varnel::VirtualBackend* virtualBackend_ = nullptr;
    bool radioPresent_ = false;
    bool rememberGeometry_ = true;
    // Exchanges of the main window made while no tuning window was open
    // (entering tuner mode): they open the next window's log.
    struct PendingLogLine {
        QByteArray bytes;
        int direction;
        QDateTime when;  // when the frame went out or came in
    };
    QList<PendingLogLine> pendingLog_;
    QAction* windowListSeparator_ = nullptr;
    QPointer<TAboutBox> aboutBox_;
    QPointer<TParamForm> paramForm_;
    QPointer<TFactroyForm> factoryForm_;
    varnel::app::ArchiveCommands* archive_ = nullptr;
    varnel::app::TunerModeControl* tunerMode_ = nullptr;
};
