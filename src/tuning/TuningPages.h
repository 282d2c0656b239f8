// The ten item pages of the tuning window, built from the page tables, and
// the neutral page. All of them stay stacked on screen; the one in front
// covers the rest, and only it takes keys, mnemonics and clicks.
//
// Every control is named as in the page tables and can be found with
// control<T>(name). A press anywhere on a page gives the keyboard focus to
// the page the tables name for it; only a page holding the focus scrolls
// with the wheel.
#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <QWidget>
#include <initializer_list>

#include "data/ItemTable.h"
#include "tuning/PageTables.h"
#include "tuning/TuningControls.h"

class QLabel;
class QScrollArea;
class QStackedLayout;
class QWheelEvent;

namespace varnel::tuning {

class TuningPages : public QWidget {
    Q_OBJECT
public:
    explicit TuningPages(QWidget* parent = nullptr);
    ~TuningPages() override;

    // The control named `name` (objectName) on any page, or nullptr.
    QWidget* control(const QString& name) const { return controls_.value(name, nullptr); }
    template <class T>
    T* control(const QString& name) const {
        return qobject_cast<T*>(control(name));
    }

    const QList<QScrollArea*>& pages() const { return pages_; }
    QScrollArea* page(Page page) const;
    // The page in front (nullptr while the neutral page is in front).
    QScrollArea* front() const;
    QLabel* neutralPage() const { return neutral_; }
    // Brings page `number` (0..9) to the front, scrolled to the top.
    void showPage(int number);
    // Brings the neutral page to the front with `text` on it.
    void showNeutralPage(const QString& text);
    // True for a control inside a page that is not in front (not the page
    // itself, which only scrolls).
    bool onCoveredPage(const QObject* object) const;

    // Gives a control of a page the focus policy `policy`. A control of a
    // covered page keeps no focus until its page comes to the front; it
    // takes the policy then.
    static void setFocusPolicy(QWidget* control, Qt::FocusPolicy policy);

    // The hint line of a page under its buttons; an empty text hides it.
    void setHint(Page page, const QString& text);
    // Shows or hides rows 6 to 8 of sbox_power.
    void setExtraPowerRowsVisible(bool visible);
    // Writes rxFrequency / txFrequency into the RX and TX labels of the scope's pages.
    void refreshFrequencyLabels(RefreshScope scope);

    // Disables the value controls of the points up to `lastPoint` of `spec`,
    // and the named buttons; labels stay as they are.
    void disableCells(const PageSpec& spec, int lastPoint);
    void disableButtons(std::initializer_list<const char*> names);
    // Page locks: the adjustment controls and the keying and save buttons
    // of the power page (the mobile one when modelVariant is 1), the CTCSS
    // page and the frequency-stability page; the measuring pages' buttons;
    // the first three together.
    void lockPowerPage();
    void lockCtcssPage();
    void lockStabilityPage();
    void lockMeasureButtons();
    void lockAdjustControls();

signals:
    void pointDoubleClicked(TPointButton* button);
    void pointClicked(TPointButton* button);
    void keyingClicked(Page page);
    void saveClicked(Page page);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    friend class PageBuilder;
    QScrollArea* buildPage(const PageSpec& spec);
    void coverPages();
    void pressOnPage(Page target);
    static void wheelOnPage(QScrollArea* page, QWheelEvent* event);
    void registerControl(QWidget* widget);

    QStackedLayout* stack_ = nullptr;
    QLabel* neutral_ = nullptr;
    QList<QScrollArea*> pages_;
    QHash<QString, QWidget*> controls_;
    // Widgets of each row of each page (for showing / hiding rows); key:
    // the row's point button.
    QHash<QString, QList<QWidget*>> rowWidgets_;
    // Where a press on a page, its viewport or its point frame sends the focus.
    QHash<QObject*, Page> pressTargets_;
    QObject* coveredKeys_ = nullptr;
};

}  // namespace varnel::tuning
