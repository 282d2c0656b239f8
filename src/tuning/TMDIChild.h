// The tuning window: item tree, ten item pages and the communication log.
//
// The window puts together parts that each hold one responsibility:
//   ItemTree        the tree of items (ItemTree.h)
//   TuningPages     the item pages built from the page tables, covering and
//                   locking (TuningPages.h, PageTables.h)
//   ValueControls   the value edits, up-downs and scroll bars (ValueControls.h)
//   ReplyPollers    the verifying pollers of live-sets and saves (ReplyPollers.h)
//   TuningLog       the communication log (TuningLog.h)
//   TuningFeedback  the chart, the radio-lost notice, the keyboard (TuningFeedback.h)
//   HeldValues()    what the radio stores and runs (protocol/RadioValues.h)
// Each part knows only its own widgets; it reports by signals, and every
// change of the window's state (timers, keying, locks) is the window's own.
// and keeps what ties them together to the selection:
//   TMDIChild.cpp            creation, layout, show and close, page locks
//   TMDIChild_selection.cpp  tree double-click and the page loaders
//   TMDIChild_points.cpp     point, keying and save buttons
//   TMDIChild_polling.cpp    read-back, give-up, connection watch
//   TMDIChild_tests.cpp      bit-error-rate and man-down tests
//   TMDIChild_radio.cpp      what the radio holds: unsaved live changes, the
//                            value shown again after an unconfirmed live-set
// It reports to the main window by signals and never reaches into it. Every
// control is named as in the page tables and can be found with control<T>(name);
// every timer has the name of its handler's timer and can be found with
// findChild<QTimer*>(name).
#pragma once

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QStringList>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <vector>

#include "data/ItemTable.h"
#include "device/Transfer.h"
#include "tuning/ItemTree.h"
#include "tuning/PageTables.h"
#include "protocol/RadioValues.h"
#include "tuning/ReplyPollers.h"
#include "tuning/TuningControls.h"
#include "tuning/TuningLog.h"

class QAction;
class QCloseEvent;
class QLabel;
class QListWidget;
class QMenu;
class QPushButton;
class QScrollArea;
class QSplitter;
class QTimer;
class QTreeWidgetItem;
class HotplugWatch;
namespace varnel::tuning {
class TuningFeedback;
class TuningPages;
class ValueControls;
}

class TMDIChild : public QWidget {
    Q_OBJECT
public:
    explicit TMDIChild(QWidget* parent = nullptr);
    ~TMDIChild() override;

    // Saves the image as File > Save does (asking for a name when it has
    // none), for the close query's Save answer; true when it was saved.
    // Without a handler, Save keeps the window open.
    void setSaveHandler(std::function<bool()> save) { saveHandler_ = std::move(save); }

    // ---- what the main window asks of it -------------------------------------
    // The show routine; the main window runs it again after a language switch.
    void FormShow();
    // The radio left tuner mode: measuring and read-back stop, the pages
    // that send lock.
    void radioLeftTunerMode();
    // Leaving tuner mode was asked for: the measuring pollers stop.
    void stopMeasuring();
    // The image changed under the window (grid editor, factory read): the
    // current item is selected again and the caption follows.
    void imageEdited();
    // The factory copy was read: the chart draws it, the page shows the
    // image's values again, and the log says so.
    void factoryImageRead(const QString& note);
    // Shows the band in force (BandLabel).
    void ShowBand();
    // Loads the page of the current item from the image again, as a
    // selection does, without sending anything or touching the keying.
    Q_INVOKABLE void ReloadPageValues();
    // The caption's file name; the caption adds "*" while the image differs
    // from what was last read, loaded or saved.
    void setDocumentName(const QString& name);
    Q_INVOKABLE void refreshModifiedMarker();
    // True once the window has accepted its close.
    bool isClosing() const { return closing_; }

    // ---- what the radio holds (TMDIChild_radio.cpp) ----------------------------
    // Tuner mode was entered with the image now in memory: the radio stores
    // and runs exactly that.
    void radioEntered();
    // The values the radio runs with but has not stored, one named line each.
    QStringList unsavedLiveChanges() const;
    // Before the radio leaves tuner mode: when it runs values it has not
    // stored, asks Save them / Leave without saving / Cancel. True to go on
    // leaving now. On "Save them" the saves go out (each verified) and false
    // is returned; `afterSaving` runs once the radio has acknowledged all.
    bool confirmLeavingTunerMode(std::function<void()> afterSaving);
    // What the close query runs again once the live changes are saved (the
    // program's close, when the main window is closing); none: the window's
    // own close.
    void setCloseRetry(std::function<void()> retry) { closeRetry_ = std::move(retry); }
    // "TX Power (High), point 3": an item's caption with its column, the cell
    // of an FSK block and the point, in the interface language.
    static QString ValueName(int code, int point, int cell = 0);

    // ---- communication log -------------------------------------------------
    // Appends the hexadecimal line of a frame (direction 0: sent, else
    // received) and selects it.
    // `when`: the time of the exchange (now when it is not valid).
    void LogFrame(const std::uint8_t* bytes, std::uint16_t length, int direction, const QDateTime& when = {});
    // Appends a plain line (with date and time) to the communication log;
    // `when` is the time of what it tells (now when it is not valid).
    void LogNote(const QString& text, const QDateTime& when = {});
    // One line in the log for a transfer that failed (send or read).
    void LogTransferFailure(const varnel::TransferOutcome& outcome);
    void S1Click();  // save the log

signals:
    // The window is shown (its commands apply) or has accepted its close.
    void documentShown();
    void documentClosed();
    // The close query took the radio out of tuner mode.
    void tunerModeLeft();
    // The connection watch lost the radio.
    void radioLost();
    // The connection watch lost the radio (false) or found it again (true).
    void radioPresenceChanged(bool present);
    // A note about the link for the status bar.
    void linkNote(const QString& note);
    // An exchange gave up: `statusKey` is a key of section "Status",
    // `detail` is appended.
    void exchangeFailed(const QString& statusKey, const QString& detail);

public:
    // ---- pages and item selection ---------------------------------------------
    // Brings page `page` (0..9) of pageList to the front, scrolled to the top.
    void ShowPage(int page);
    // The page in front (nullptr while the neutral page NoPage is in front).
    QScrollArea* frontPage() const;
    // Writes rxFrequency / txFrequency into the RX and TX labels of the scope's pages.
    void RefreshFrequencyLabels(varnel::tuning::RefreshScope scope);
    // The tree's double-click: makes the selected node's item current.
    void TreeView1DblClick();
    // Page loaders; each does nothing unless currentItem is one of its items.
    void LoadCtcssPage();
    void LoadSquelchPage();
    void LoadPowerPage();
    void LoadMobilePowerPage();
    void LoadFskPage();

    // ---- point, keying and save buttons (TMDIChild_points.cpp) -------------
    // The double-click of a point button; also run by the tree selection for
    // the first point of the page it brings to the front.
    virtual void PointDoubleClicked(varnel::Page page, int point);
    // The keying and save buttons of a page.
    void KeyingButtonClick(varnel::Page page);
    void SaveButtonClick(varnel::Page page);
    // The end of a scroll of any value bar (ValueControls.h).
    void ValueScrollBarEndScroll(QScrollBar* bar, int position);

    // ---- bit-error-rate and man-down tests (TMDIChild_tests.cpp) -----------
    // Point selection on sbox_error_rate (points 1 to 5).
    void ErrorRatePointSelected(int point);
    void Button13Click();        // receiver of sbox_error_rate
    void ErrorRateTimerTimer();  // reading poller of the bit-error counters
    void Button15Click();        // receiver of sbox_mandown
    void MandownTimerTimer();    // reading poller of the man-down reading
    void Button16Click();        // save of the man-down value

    // ---- controls ----------------------------------------------------------
    // The control named `name` (objectName), or nullptr.
    QWidget* control(const QString& name) const;
    template <class T>
    T* control(const QString& name) const {
        return qobject_cast<T*>(control(name));
    }
    QScrollArea* page(varnel::Page page) const;

    // The window's own controls (named as in the design).
    varnel::tuning::ItemTree* TreeView1() const { return treeView1_; }
    QSplitter* Splitter1() const { return splitter1_; }
    QWidget* ScrollBox1() const { return scrollBox1_; }
    QLabel* Panel1() const { return panel1_; }
    QLabel* BandLabel() const { return bandLabel_; }  // the band in force
    QLabel* NoPage() const { return noPage_; }        // the neutral page
    QSplitter* Splitter2() const { return splitter2_; }
    QListWidget* ListBox1() const { return listBox1_; }
    QMenu* PopupMenu1() const { return popupMenu1_; }
    QAction* C1() const;  // clear the log
    QAction* N1() const;
    QAction* S1() const;  // save the log
    const QList<QScrollArea*>& pageList() const;

    // ---- polling (TMDIChild_polling.cpp) ---------------------------------------
public slots:
    // One call is one tick of the timer of the same name.
    void TimeOutTimerTimer();    // verifies a live-set (0x8062, 9 bytes)
    void SaveItemTimer();        // SaveTimer: verifies a save (0x8066, 9 bytes)
    void SaveItemTimer2Timer();  // verifies the mobile page's 24-byte save
    void ReadTimerTimer();       // reading of a read-back request
    void CheckTimerTimer();      // the 2-second read-back request
    void ConnetTimerTimer();     // connection watch: rescans for the radio

public:
    // The application-wide filter: sets `handled` for the arrow keys of the
    // point buttons of sbox_power, sbox_ctcss and sbox_sql, so that they are
    // never dispatched.
    void ApplicationEvents1Message(QObject* receiver, QEvent* event, bool& handled);
    QObject* ApplicationEvents1 = nullptr;  // the filter object installed on qApp

    // The item code and record of the last save command sent.
    using SavedRecord = varnel::tuning::ReplyPollers::SavedRecord;
    const SavedRecord& lastSave() const { return pollers_->lastSave(); }
    // The chart, the radio-lost notice and the keyboard handling.
    varnel::tuning::TuningFeedback* feedback() const { return feedback_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void FormCreate();
    // True when the window may close.
    bool FormCloseQuery();
    void FormClose();
    void ApplyLanguage();
    // The show routine after a language switch: captions and tree only.
    void retranslate();

    void buildLayout();
    void buildPagesAndLog();
    void registerControl(QObject* object);
    void installSenderHooks();
    void ConnectPollers();

    // Clears and rebuilds the tree, selects "T0006" and sets up sbox_ctcss.
    void BuildItemTree();
    // Brings the neutral page to the front: it says that the model has no
    // page for the selected item, and nothing on it can send.
    void ShowNoPage();
    // Shows or hides rows 6 to 8 of sbox_power.
    void setExtraPowerRowsVisible(bool visible);

    // The double-click of any point button: looks up the button's page and
    // point in the page tables and runs PointDoubleClicked.
    void PointButtonDblClick(varnel::tuning::TPointButton* button);
    // The single click shared by every point button.
    void PointButtonClick(varnel::tuning::TPointButton* button);
    // An arrow key on a point button of this window: Up and Left move the
    // focus to the point before, Down and Right to the point after (visible,
    // enabled buttons of the same page), as a click on it would; the check
    // stays with the live point. True when `receiver` is such a button.
    bool MovePointFocus(QObject* receiver, QKeyEvent* key);

    // Selection helpers.
    // Keying, measuring and the man-down reading of the earlier selection end.
    void EndEarlierSelection();
    void SelectPowerByVariant(const varnel::TuningItem& selection, int code);
    void RunLoader(varnel::Loader loader);
    void ShowValueLabel();
    void SetUpStability();
    void ClearErrorRateResults();
    void SetUpMandown();
    void LoadRow(const varnel::tuning::PageSpec& spec, const varnel::tuning::RowSpec& row,
                 const QList<int>& codes);
    void SetKeyingCaption(const char* button, const char* key);
    // The page's hint line for the selected item (empty for most items).
    void ShowPageHint(const varnel::TuningItem* selection);
    // Point helpers (TMDIChild_points.cpp).
    void EnableChosenRow(varnel::Page page, int point, std::initializer_list<const char*> buttons);
    // currentValue from the image for the point chosen on the item's page
    // (after the image changed under the window).
    void ReloadCurrentValue();
    // The live-set of the current item at `point` with actionCode.
    void SendPointFrame(bool fskRecord, int point, std::uint32_t frequency);
    std::vector<std::uint8_t> SquelchSaveRecord(const varnel::TuningItem* item);
    std::vector<std::uint8_t> VoxSaveRecord(const varnel::TuningItem* item);

    // Polling helpers.
    // One tick of a reading poller (rule Reading: never gives up); true when
    // the reply was accepted.
    static bool ReadingTick(std::uint16_t expectedCode);
    // Stops the poller, logs the accepted reply and clears the reply buffer.
    void FinishReply(QTimer* timer);
    // The third time-out: message M013 (with the cause, when the transfers
    // failed) and the adjustment controls locked.
    void GiveUp(QTimer* timer);
    // The connection watch found no radio: the pollers stop, keying ends,
    // every control that needs the radio is disabled, and the notice, the
    // log and the host say so (once per loss).
    void StopForLostRadio();
    // The connection watch found a radio again after a loss.
    void RadioBack();

    // One save of the live values the radio has not stored.
    struct LiveSave {
        int item;
        bool wide;
        std::vector<std::uint8_t> record;
        int group;  // the first code of its pair or triple, else the item
    };
    std::vector<LiveSave> liveSaves() const;
    void sendNextLiveSave();
    void liveSavesStopped();
    void closeTuningWindowAgain();
    // A live-set the radio never acknowledged (given up, or the radio went
    // away): the image byte and the controls show the last confirmed value
    // again, and the log and status bar say which value the radio holds.
    void liveSetUnconfirmed(bool lost);

    std::vector<LiveSave> saveQueue_;
    std::function<void()> afterSaving_;
    std::function<void()> closeRetry_;
    bool savingLive_ = false;
    int lastReplyStatus_ = 0;  // status byte of the last accepted 9-byte reply
    HotplugWatch* hotplug_ = nullptr;  // USB arrival and removal notices; they start ConnetTimer
    QTimer* watchFallback_ = nullptr;  // scans every second when no USB notice can come
    bool radioAway_ = false;           // the watch has already acted on the loss
    int linkObserver_ = 0;
    varnel::tuning::ReplyPollers* pollers_ = nullptr;

    std::function<bool()> saveHandler_;
    varnel::tuning::ItemTree* treeView1_ = nullptr;
    QSplitter* splitter1_ = nullptr;
    QWidget* scrollBox1_ = nullptr;
    QLabel* panel1_ = nullptr;
    QLabel* bandLabel_ = nullptr;
    QLabel* noPage_ = nullptr;
    QSplitter* splitter2_ = nullptr;
    QListWidget* listBox1_ = nullptr;
    QMenu* popupMenu1_ = nullptr;
    QTimer* checkTimer_ = nullptr;
    QTimer* timeOutTimer_ = nullptr;
    QTimer* readTimer_ = nullptr;
    QTimer* connetTimer_ = nullptr;
    QTimer* saveTimer_ = nullptr;
    QTimer* saveItemTimer2_ = nullptr;
    QTimer* errorRateTimer_ = nullptr;
    QTimer* mandownTimer_ = nullptr;
    varnel::tuning::TuningPages* pages_ = nullptr;
    varnel::tuning::TuningLog* log_ = nullptr;
    varnel::tuning::ValueControls* values_ = nullptr;
    QHash<QString, QWidget*> controls_;
    QString documentName_;
    bool closing_ = false;
    // The man-down value on screen (Label113), or -1 when none is shown.
    int mandownShown_ = -1;
    bool maximisedOnce_ = false;
    bool splittersPlaced_ = false;
    bool shownOnce_ = false;  // the show routine has run (later runs: a language switch)
    varnel::tuning::TuningFeedback* feedback_ = nullptr;
    // The point last selected on each page (page number -> point).
    QHash<int, int> selectedPoints_;
};
