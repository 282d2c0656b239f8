// The tuning window: item tree, ten item pages and the communication log.
//
// The window is split over several files:
//   TMDIChild.cpp            creation, layout of the pages, show and close
//   TMDIChild_tree.cpp       the item tree and its icons
//   TMDIChild_selection.cpp  tree double-click and the page loaders
//   TMDIChild_log.cpp        log lines and the log list's menu
//   TMDIChild_points.cpp     point, keying and save buttons
//   TMDIChild_values.cpp     value edits, up-downs and scroll bars
// The pages themselves are data (tuning/PageTables.h); every control is
// named as in those tables and can be found with control<T>(name).
#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <QWidget>
#include <cstdint>

#include "data/ItemTable.h"
#include "tuning/PageTables.h"
#include "tuning/TuningControls.h"

class QAction;
class QCloseEvent;
class QLabel;
class QListWidget;
class QMenu;
class QPushButton;
class QScrollArea;
class QSplitter;
class QStackedLayout;
class QTimer;
class QTreeWidgetItem;
class TuningHost;

class TMDIChild : public QWidget {
    Q_OBJECT
public:
    explicit TMDIChild(TuningHost* host, QWidget* parent = nullptr);
    ~TMDIChild() override;

    // The show routine; the main window runs it again after a language switch.
    void FormShow();

    // Page locks (disable the adjustment controls of a page).
    void lockPowerPage();
    void lockCtcssPage();
    void lockStabilityPage();
    void lockMeasureButtons();
    void lockAdjustControls();

    // ---- pages and tree ----------------------------------------------------
    // Clears and rebuilds the tree, selects "T0006" and sets up sbox_ctcss.
    void BuildItemTree();
    // Brings page `page` (0..9) of pageList to the front, scrolled to the top.
    void ShowPage(int page);
    // The page in front.
    QScrollArea* frontPage() const;
    // Writes rxFrequency / txFrequency into the RX and TX labels of the scope's pages.
    void RefreshFrequencyLabels(varnel::tuning::RefreshScope scope);
    // Shows or hides rows 6 to 8 of sbox_power.
    void setExtraPowerRowsVisible(bool visible);

    // ---- item selection ----------------------------------------------------
    // The tree's double-click: makes the selected node's item current.
    void TreeView1DblClick();
    // Page loaders; each does nothing unless currentItem is one of its items.
    void LoadCtcssPage();
    void LoadSquelchPage();
    void LoadPowerPage();
    void LoadMobilePowerPage();
    void LoadFskPage();

    // The double-click of any point button: looks up the button's page and
    // point in the page tables and runs PointDoubleClicked.
    void PointButtonDblClick(varnel::tuning::TPointButton* button);

    // ---- point, keying and save buttons (TMDIChild_points.cpp) -------------
    // The double-click of a point button; also run by the tree selection for
    // the first point of the page it brings to the front.
    virtual void PointDoubleClicked(varnel::Page page, int point);
    // The single click shared by every point button.
    virtual void PointButtonClick(varnel::tuning::TPointButton* button);
    // The keying and save buttons of a page.
    virtual void KeyingButtonClick(varnel::Page page);
    virtual void SaveButtonClick(varnel::Page page);

    // ---- bit-error-rate and man-down tests (TMDIChild_tests.cpp) -----------
    // Point selection on sbox_error_rate (points 1 to 5).
    void ErrorRatePointSelected(int point);
    void Button13Click();        // receiver of sbox_error_rate
    void ErrorRateTimerTimer();  // reading poller of the bit-error counters
    void Button15Click();        // receiver of sbox_mandown
    void MandownTimerTimer();    // reading poller of the man-down reading
    void Button16Click();        // save of the man-down value

    // ---- communication log -------------------------------------------------
    // Appends the hexadecimal line of a frame (direction 0: sent, else
    // received) and selects it.
    void LogFrame(const std::uint8_t* bytes, std::uint16_t length, int direction);
    // The line LogFrame appends, without the leading date and time.
    static QString LogLineBody(const std::uint8_t* bytes, std::uint16_t length, int direction);
    void C1Click();  // clear the log
    void S1Click();  // save the log

    // ---- controls ----------------------------------------------------------
    // The control named `name` (objectName), or nullptr.
    QWidget* control(const QString& name) const { return controls_.value(name, nullptr); }
    template <class T>
    T* control(const QString& name) const {
        return qobject_cast<T*>(control(name));
    }
    QScrollArea* page(varnel::Page page) const;

    varnel::tuning::TTreeView* TreeView1 = nullptr;
    QSplitter* Splitter1 = nullptr;
    QWidget* ScrollBox1 = nullptr;
    QLabel* Panel1 = nullptr;
    QSplitter* Splitter2 = nullptr;
    QListWidget* ListBox1 = nullptr;
    QMenu* PopupMenu1 = nullptr;
    QAction* C1 = nullptr;
    QAction* N1 = nullptr;
    QAction* S1 = nullptr;
    QList<QScrollArea*> pageList;

    QTimer* CheckTimer = nullptr;
    QTimer* TimeOutTimer = nullptr;
    QTimer* ReadTimer = nullptr;
    QTimer* ConnetTimer = nullptr;
    QTimer* SaveTimer = nullptr;
    QTimer* SaveItemTimer2 = nullptr;
    QTimer* ErrorRateTimer = nullptr;
    QTimer* MandownTimer = nullptr;

    // Tree node data: the state index (item key) and the icon index.
    static constexpr int kStateIndexRole = Qt::UserRole;
    static constexpr int kImageIndexRole = Qt::UserRole + 1;
    static QIcon TreeIcon(int imageIndex);

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    TuningHost* host() const { return host_; }

private:
    void FormCreate();
    // True when the window may close.
    bool FormCloseQuery();
    void FormClose();
    void ApplyLanguage();
    void ConnectValueControls();  // TMDIChild_values.cpp

    void buildLayout();
    QScrollArea* buildPage(const varnel::tuning::PageSpec& spec);
    QWidget* buildCell(QWidget* parent, const varnel::tuning::ColumnSpec& column,
                       const varnel::tuning::CellSpec& cell, QList<QWidget*>& rowWidgets);
    void registerControl(QObject* object);
    void installSenderHooks();

    // Tree building helpers.
    QTreeWidgetItem* addNode(QTreeWidgetItem* parent, const QString& caption, int stateIndex,
                             int imageIndex);

    // Selection helpers.
    void ShowValueLabel();
    void SetUpStability();
    void ClearErrorRateResults();
    void SetUpMandown();
    void LoadRow(const varnel::tuning::PageSpec& spec, const varnel::tuning::RowSpec& row,
                 const QList<int>& codes);
    void SetKeyingCaption(const char* button, const char* key);

    void wheelOnPage(QScrollArea* page, QWheelEvent* event);
    void pressOnPage(varnel::Page target);

    TuningHost* host_;
    QStackedLayout* pageStack_ = nullptr;
    QHash<QString, QWidget*> controls_;
    // Widgets of each row of each page (for showing / hiding rows).
    QHash<QString, QList<QWidget*>> rowWidgets_;  // key: point button name
    QHash<QObject*, varnel::Page> pressTargets_;
    bool maximisedOnce_ = false;
    bool splittersPlaced_ = false;
};
