// The parameter editor: every calibration value and frequency point of one
// band in a grid, a row per parameter and a column per calibration point.
// Shown modally from the main window's ParamItem. Edits go into a working
// copy of the tuner image; Confirm copies it back, Cancel drops it. The band
// selector switches the band of the whole program.
//
// Grid coordinates follow the calibration sheet: (column, row) with column 0
// the captions and row 0 the column headers, so row r is table row r - 1 of
// StringGrid1 (whose horizontal header is row 0).
#pragma once

#include <QDialog>
#include <QPixmap>
#include <QString>
#include <functional>

#include "data/TunerImage.h"
#include "dialogs/Param.h"

class QComboBox;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QPainter;
class QPushButton;
class QRect;
class QTableWidget;

class TParamForm : public QDialog {
    Q_OBJECT
public:
    explicit TParamForm(QWidget* parent = nullptr);

    // Runs after Confirm has copied the working image into the tuner image
    // and before the form closes; the main window lets the tuning window
    // rebuild its page from it (its tree double-click).
    void setConfirmHandler(std::function<void()> handler);

    QTableWidget* StringGrid1 = nullptr;
    QLineEdit* Edit1 = nullptr;  // the in-place cell editor
    QComboBox* ComboBox1 = nullptr;
    QLabel* Label1 = nullptr;
    QPushButton* Button3 = nullptr;  // confirm
    QPushButton* Button4 = nullptr;  // cancel
    QPixmap Image1;                  // marker of the row being edited

    varnel::TunerImage editImage;  // the working copy
    int editCol = 0;               // the cell selected last
    int editRow = 0;
    bool editorActive = false;     // the cell editor has the focus

    const varnel::param::GridLayout& layout() const { return layout_; }
    int rowCount() const { return rowCount_; }  // header row included
    // Text of a cell in grid coordinates (row 0: the header).
    QString cellText(int col, int row) const;
    // True while the cell editor is placed over a cell.
    bool editorOpen() const { return editorOpen_; }
    // True when a cell holds a value that Confirm would store: an edited
    // cell, or text typed into the open cell editor.
    bool cellsChanged() const;

    // ---- handlers ----
    void FormShow();
    void fillGrid();
    void StringGrid1SelectCell(int col, int row);
    void StringGrid1DrawCell(QPainter* painter, int col, int row, const QRect& rect);
    void placeEditor();
    void Edit1Enter();
    // True when the key is discarded.
    bool Edit1KeyPress(QKeyEvent* event);
    void Edit1Exit();
    void ComboBox1Select(int index);
    void Button3Click();
    void Button4Click();
    // Every way of leaving without Confirm (Cancel, Escape, the close box)
    // gives back the band that was in force when the form was shown.
    void reject() override;
    // Esc asks before edited cells are dropped.
    void keyPressEvent(QKeyEvent* event) override;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildBandChooser();
    void buildGrid();
    void buildCellEditor();
    void buildButtons();
    void layOutControls();
    void applyLayout();
    void labelGrid();
    void closeEditorWithoutStore();
    void hideEditor();
    QColor lockedColour() const;

    varnel::param::GridLayout layout_;
    int rowCount_ = 31;
    bool editorOpen_ = false;
    int bandAtShow_ = 0;
    // A frequency text outside the band's range or unreadable: refused
    // with a message. True when `text` may be stored.
    bool acceptFrequencyText(const std::string& text);
    // A value text that is not a whole number of the row's range: refused
    // with a message naming the range and the value the cell keeps.
    void refuseValueText(const std::string& text, const varnel::ParamGridRow& row, const std::string& old);
    std::function<void()> confirmHandler_;
};
