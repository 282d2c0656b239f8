// The small controls of the tuning window's item pages: the up-down that
// steps a value edit, the value edit itself, the point button with its
// double-click, the scroll bar that reports the end of a scroll, and the item
// tree with its selection colours.
#pragma once

#include <QLineEdit>
#include <QRadioButton>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTreeWidget>
#include <QWidget>

class QToolButton;

namespace varnel::tuning {
// A blue frame inside a list's viewport while the list has the keyboard focus
// (the same colour as the ring around the other controls).
void DrawFocusFrame(QWidget* viewport);
}

namespace varnel::tuning {

// A pair of step buttons attached to an edit (its associate). It holds a
// position within [minimum, maximum], steps by `increment` without wrapping
// and writes the position into the associate as decimal text. The up and
// down arrow keys in the associate step it like its buttons.
//
// Reading the position first takes the associate's text when that is a valid
// number in range (separators of digit groups allowed), so a value typed into
// the edit is what the next step starts from; text that is not such a number
// leaves the last position.
class TUpDown : public QWidget {
    Q_OBJECT
public:
    explicit TUpDown(QWidget* parent = nullptr);

    void setAssociate(QLineEdit* edit);
    QLineEdit* associate() const { return associate_; }

    void setRange(int minimum, int maximum);
    int minimum() const { return minimum_; }
    int maximum() const { return maximum_; }
    void setIncrement(int increment) { increment_ = increment > 0 ? increment : 1; }
    int increment() const { return increment_; }
    bool wrap() const { return false; }
    // Values of 1000 and more are shown with digit grouping ("1,000").
    void setThousands(bool on) { thousands_ = on; }
    bool thousands() const { return thousands_; }

    // Sets the position from code (clamped); updates the associate, emits nothing.
    void setPosition(int position);
    int position();
    // The stored position without looking at the associate.
    int storedPosition() const { return position_; }

    // The text the associate shows for `value`.
    QString displayText(int value) const;

    // One step as the operator makes it: +1 up, -1 down. Emits clicked.
    void step(int direction);

signals:
    // The operator stepped the control (button or arrow key); the position has
    // already moved, or stayed at its limit. `direction` is +1 up, -1 down.
    void clicked(int direction);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void syncFromAssociate();

    QToolButton* up_;
    QToolButton* down_;
    QLineEdit* associate_ = nullptr;
    int minimum_ = 0;
    int maximum_ = 255;
    int increment_ = 1;
    int position_ = 0;
    bool thousands_ = false;
};

// A value edit of a page: digits only as typed, text "0" at creation.
// Reports double-clicks and leaving.
class TValueEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit TValueEdit(QWidget* parent = nullptr);

signals:
    void doubleClicked();
    void exited();  // the edit lost the keyboard focus

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
};

// A calibration-point button. A double-click selects the point.
class TPointButton : public QRadioButton {
    Q_OBJECT
public:
    explicit TPointButton(QWidget* parent = nullptr);
    // Sets the check mark from code, also clearing it on a button of an
    // exclusive set (which a click never can).
    void forceChecked(bool checked);

signals:
    void doubleClicked();

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
};

// A horizontal scroll bar of a page. endScroll is the moment a scroll action
// is over: the mouse released after an arrow, track or thumb action, or a
// navigation key released.
class TScrollBar : public QScrollBar {
    Q_OBJECT
public:
    explicit TScrollBar(QWidget* parent = nullptr);

signals:
    void endScroll(int position);

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
};

// The item tree. Double-clicks anywhere in it are reported (the handler takes
// the selected node); focus changes repaint the selection colours.
class TTreeView : public QTreeWidget {
    Q_OBJECT
public:
    explicit TTreeView(QWidget* parent = nullptr);

signals:
    void dblClick();

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    // The indent area of a selected row takes the node's selection colour too.
    void drawRow(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

// Selected nodes: RGB(54,153,254) behind the text while the tree has the
// keyboard focus; otherwise RGB(192,192,192) with black text.
class TreeSelectionDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    explicit TreeSelectionDelegate(QTreeWidget* tree);
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;

    static QColor focusedBackground() { return QColor(54, 153, 254); }
    static QColor unfocusedBackground() { return QColor(192, 192, 192); }
    // The option with the colours for a selected node applied.
    QStyleOptionViewItem selectionOption(const QStyleOptionViewItem& option) const;

private:
    QTreeWidget* tree_;
};

}  // namespace varnel::tuning
