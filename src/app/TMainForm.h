// The main window: a multiple-document frame that hosts the tuning window,
// with the File / Edit / Tuning / View / Factory / Help menus, the tool bar
// and a two-panel status bar. It owns tuner-mode control (enter, leave,
// write the whole image), opens and saves archives, switches the language
// and stores it in setting.ini at close.
//
// Tuner mode is a chain of short steps: a click finds and opens the radio,
// sends one command and starts a 10 ms poll timer; the timer's handler reads
// the answer on every tick and, once the expected reply is there, does the
// next step. No handler waits for the radio. A poll that gets no answer in
// 100 ticks gives up quietly: the link is closed and the operator may click
// again.
#pragma once

#include <functional>

#include <QDateTime>
#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <filesystem>

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
class StatusPanels;
class RadioStatusBar;

// Panel 0 of the status bar takes 94 % of the bar's width, truncated.
int StatusPanelWidth(int statusBarWidth);
// The parts of a hint "short|long": the short part is the tool tip, the long
// part goes to the status bar. Without '|' both are the whole hint.
QString ShortHint(const QString& hint);
QString LongHint(const QString& hint);

// Paths: the archive functions take a filesystem path; currentFileName keeps
// the narrow form (system code page) of the same path.
std::filesystem::path NativePath(const QString& path);
std::string NarrowFileName(const QString& path);
QString FromNarrowFileName(const std::string& name);
QString FromNativePath(const std::filesystem::path& path);
// "<program directory>/Default Data/", where the open dialog starts.
QString DefaultDataDirectory();
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
    TFactroyForm* factroyForm();

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
    // Where the image in memory came from: a file name, or "read from this
    // radio at HH:MM".
    QString imageSource() const { return imageSource_; }
    // The file of the last automatic backup, empty when it failed.
    QString lastBackupPath() const { return lastBackupPath_; }

    // The radio's state at a glance, right of the two panels; refreshed by
    // StatusRefreshTimer and by every acknowledged or failed exchange.
    varnel::app::RadioStatusBar* RadioStatus = nullptr;
    QTimer* StatusRefreshTimer = nullptr;
    void refreshRadioStatus();
    // Whether a radio volume was seen at the last scan.
    bool radioPresent() const { return radioPresent_; }

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
    QTimer* ReadInfoTimer = nullptr;
    QTimer* EnterTunerModeTimer = nullptr;
    QTimer* ExitTunerModeTimer = nullptr;
    QTimer* WriteAllTunerDataTimer = nullptr;
    // Reads the attached radio's information block before a write-all, so
    // that the image goes only into the radio it belongs to.
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
    void WriteAllCheckTimerTimer();
    // Status bar
    void StatusBar1Resize();

protected:
    void closeEvent(QCloseEvent* event) override;
    // No context menu of bars: the tool bar and status bar are switched from
    // the View menu only, whose check marks must match.
    QMenu* createPopupMenu() override { return nullptr; }
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Save, Save As, write-all and the grid editor apply exactly while a
    // tuning window is open.
    void updateDocumentCommands();
    // What the tuning window reports.
    void connectTuningWindow(TMDIChild* window);
    void showTunerModeLeftCaptions();
    void showRadioLostCaptions();
    void showLinkNote(const QString& note);
    void reportFailure(const QString& statusKey, const QString& detail);
    void radioPresenceChanged(bool present);
    void connectDialogHooks();
    void applyVirtualRadioTexts();
    void buildActions();
    void buildMenus();
    void buildToolBar();
    void buildStatusBar();
    void buildTimers();
    void applyStartupLanguage();
    void placeWindow(const varnel::app::StartupOptions& options);
    void watchRadio();
    void switchLanguage(int index);
    void applyTunerModeCaptions();
    void setTunerModeCaptions(const char* captionKey, const char* hintKey);
    // Stores the language (FormClose).
    void FormClose();
    // Asks every tuning window to close; true when none is left open.
    bool closeTuningWindows();
    // Closes an earlier link, scans and opens the radio; box M010 on failure.
    bool openRadioLink();
    // One tick of the information or enter poll (re-sent twice, then given
    // up as an expiry); true when the reply matched.
    bool entryReplyArrived(QTimer* timer, std::uint16_t command, const std::function<void()>& resend);
    // A poll gave up: counters 0, link closed, timer stopped.
    void pollExpired(QTimer* timer);
    const std::function<void(QTimer*)> expired_ = [this](QTimer* timer) { pollExpired(timer); };
    void showArchiveError(const varnel::Error& error);
    QString currentFilePath() const;
    // The file behind currentFileName exactly as the system names it.
    std::filesystem::path currentNativePath() const;
    bool saveImage();
    bool saveImageAs();
    void imageSaved(const QString& path);
    // Before the image in memory is replaced: Save / Discard / Cancel when
    // it has unsaved changes. True when the operator lets it go.
    bool confirmImageReplaced();
    // The write-all questions: identity and plausibility, then consent.
    bool confirmWriteAll(const varnel::RadioInfo& attached);
    // Saves the block and image of an entry under Default Data/backups/.
    void backupEntry(const varnel::RadioInfo& info, const varnel::TunerImage& image);
    void logNote(const QString& text, const QDateTime& when = {});
    void rebuildWindowList();

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
    varnel::DecodedFrame lastRequest_;
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
    QPointer<TFactroyForm> factroyForm_;
    // The exact path behind currentFileName (which is narrow and may lose
    // characters on Windows).
    QString currentFilePath_;
    QString imageSource_;
    QString lastBackupPath_;
};
