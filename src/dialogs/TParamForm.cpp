#include "dialogs/TParamForm.h"

#include <QComboBox>
#include <QFocusEvent>
#include <QHBoxLayout>
#include <algorithm>
#include <optional>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalBlocker>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QVBoxLayout>

#include "ui/AppFonts.h"
#include "ui/DialogSeam.h"
#include "data/Global.h"
#include "data/ItemTable.h"
#include "data/Safety.h"
#include "lang/Loadlanguage.h"

using namespace varnel;

namespace {

QString Tr(const char* section, const char* key) { return QString::fromStdString(Text(section, key)); }

constexpr int kHeaderKeys = 10;  // P0001 to P0010: the caption column and nine point columns
constexpr int kMarkerSize = 14;

// The grid draws every cell itself; the delegate only hands the painting to
// the form, in sheet coordinates (table row r is sheet row r + 1).
class SheetDelegate : public QStyledItemDelegate {
public:
    explicit SheetDelegate(TParamForm* form) : QStyledItemDelegate(form), form_(form) {}
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        form_->StringGrid1DrawCell(painter, index.column(), index.row() + 1, option.rect);
    }

private:
    TParamForm* form_;
};

// The header row of the sheet, drawn like every other caption cell.
class SheetHeader : public QHeaderView {
public:
    explicit SheetHeader(TParamForm* form) : QHeaderView(Qt::Horizontal), form_(form) {}

protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override {
        form_->StringGrid1DrawCell(painter, logicalIndex, 0, rect);
    }

private:
    TParamForm* form_;
};

// A small black arrow like the row indicator of a data grid.
QPixmap MakeRowMarker() {
    QPixmap pixmap(kMarkerSize, kMarkerSize);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath arrow;
    arrow.moveTo(4, 2);
    arrow.lineTo(11, 7);
    arrow.lineTo(4, 12);
    arrow.closeSubpath();
    painter.fillPath(arrow, Qt::black);
    return pixmap;
}

}  // namespace

TParamForm::TParamForm(QWidget* parent) : QDialog(parent), layout_(param::FiveGridLayout()) {
    setObjectName(QStringLiteral("TParamForm"));
    setWindowTitle(QStringLiteral("Param"));
    // A single border with the system menu; it opens at its design size and
    // may be resized (the grid scrolls) so that it fits small screens too.
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setSizeGripEnabled(true);
    setModal(true);

    buildBandChooser();
    buildGrid();
    buildCellEditor();
    Image1 = MakeRowMarker();
    buildButtons();
    layOutControls();
    applyLayout();
}

// The band selector with its caption.
void TParamForm::buildBandChooser() {
    Label1 = new QLabel(QStringLiteral("Range:"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    ComboBox1 = new QComboBox(this);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    ComboBox1->addItem(QStringLiteral("400-470 MHz"));
    ComboBox1->addItem(QStringLiteral("136-174 MHz"));
    Label1->setBuddy(ComboBox1);
    // activated: only the operator's choice, not the index set on show.
    connect(ComboBox1, &QComboBox::activated, this, &TParamForm::ComboBox1Select);
}

// The sheet: every cell drawn by the form, whole rows selected.
void TParamForm::buildGrid() {
    StringGrid1 = new QTableWidget(this);
    StringGrid1->setObjectName(QStringLiteral("StringGrid1"));
    StringGrid1->setHorizontalHeader(new SheetHeader(this));
    StringGrid1->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    StringGrid1->horizontalHeader()->setSectionsClickable(false);
    StringGrid1->horizontalHeader()->setHighlightSections(false);
    StringGrid1->horizontalHeader()->setFixedHeight(param::kRowHeight);
    StringGrid1->verticalHeader()->hide();
    StringGrid1->verticalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    StringGrid1->verticalHeader()->setMinimumSectionSize(param::kRowHeight / 2);
    StringGrid1->verticalHeader()->setDefaultSectionSize(param::kRowHeight);
    StringGrid1->setItemDelegate(new SheetDelegate(this));
    StringGrid1->setShowGrid(false);
    StringGrid1->setWordWrap(false);
    StringGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    StringGrid1->setSelectionMode(QAbstractItemView::SingleSelection);
    StringGrid1->setSelectionBehavior(QAbstractItemView::SelectRows);
    StringGrid1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    StringGrid1->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    connect(StringGrid1, &QTableWidget::currentCellChanged, this, [this](int row, int col, int, int) {
        if (row >= 0 && col >= 0) StringGrid1SelectCell(col, row + 1);
    });
    // A second click on the cell selected last opens the editor again.
    connect(StringGrid1, &QTableWidget::cellClicked, this, [this](int row, int col) {
        if (!editorOpen_) StringGrid1SelectCell(col, row + 1);
    });
}

// The in-place cell editor, hidden until a cell is selected.
void TParamForm::buildCellEditor() {
    Edit1 = new QLineEdit(StringGrid1->viewport());
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->hide();
    // Only keystrokes reach it: no context-menu paste, no drops, no input
    // method, so the character rules of Edit1KeyPress hold for every text.
    Edit1->setContextMenuPolicy(Qt::NoContextMenu);
    Edit1->setAcceptDrops(false);
    Edit1->setAttribute(Qt::WA_InputMethodEnabled, false);
    Edit1->installEventFilter(this);
}

// Confirm and Cancel.
void TParamForm::buildButtons() {
    Button3 = new QPushButton(this);
    Button3->setObjectName(QStringLiteral("Button3"));
    Button4 = new QPushButton(this);
    Button4->setObjectName(QStringLiteral("Button4"));
    // Enter belongs to nobody here: it neither confirms nor stores a cell.
    Button3->setAutoDefault(false);
    Button4->setAutoDefault(false);
    connect(Button3, &QPushButton::clicked, this, &TParamForm::Button3Click);
    connect(Button4, &QPushButton::clicked, this, &TParamForm::Button4Click);
}

// The band selector above the sheet, the buttons below it on the right.
void TParamForm::layOutControls() {
    auto* rangeRow = new QHBoxLayout;
    rangeRow->addWidget(Label1);
    rangeRow->addWidget(ComboBox1);
    rangeRow->addStretch(1);

    auto* buttonRow = new QHBoxLayout;
    buttonRow->addStretch(1);
    buttonRow->addWidget(Button3);
    buttonRow->addWidget(Button4);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(25, 12, 25, 12);
    column->addLayout(rangeRow);
    column->addWidget(StringGrid1, 1);
    column->addLayout(buttonRow);
}

void TParamForm::setConfirmHandler(std::function<void()> handler) { confirmHandler_ = std::move(handler); }

QString TParamForm::cellText(int col, int row) const {
    if (row == 0) {
        const QTableWidgetItem* header = StringGrid1->horizontalHeaderItem(col);
        return header != nullptr ? header->text() : QString();
    }
    const QTableWidgetItem* item = StringGrid1->item(row - 1, col);
    return item != nullptr ? item->text() : QString();
}

void TParamForm::showEvent(QShowEvent* event) {
    FormShow();
    QDialog::showEvent(event);
}

void TParamForm::hideEvent(QHideEvent* event) {
    closeEditorWithoutStore();
    QDialog::hideEvent(event);
}

void TParamForm::FormShow() {
    bandAtShow_ = band;
    setFont(ui::ProgramFont(FontPointsForDialogs()));
    setWindowTitle(QStringLiteral("Param"));
    Button3->setText(Tr("Param", "P0011"));
    Button4->setText(Tr("Param", "P0012"));
    Label1->setText(Tr("Param", "P0016"));
    {
        const QSignalBlocker quiet(ComboBox1);
        ComboBox1->setCurrentIndex(band == 1 ? 1 : 0);
    }
    fillGrid();
}

void TParamForm::labelGrid() {
    for (int c = 0; c < StringGrid1->columnCount() && c < kHeaderKeys; ++c) {
        const std::string key = "P" + std::string(c + 1 < 10 ? "000" : "00") + std::to_string(c + 1);
        auto* header = new QTableWidgetItem(Tr("Param", key.c_str()));
        StringGrid1->setHorizontalHeaderItem(c, header);
    }
    for (int r = 1; r < rowCount_; ++r) {
        const ParamGridRow* row = FindParamGridRow(r);
        if (row == nullptr) continue;
        const QString label = row->section != nullptr ? Tr(row->section, row->key) : QString::fromLatin1(row->key);
        auto* cell = new QTableWidgetItem(label);
        // The fixed label of the reference byte says what it is on hover.
        if (row->section == nullptr) cell->setToolTip(Tr("Pages", "E0002"));
        StringGrid1->setItem(r - 1, 0, cell);
    }
}

void TParamForm::applyLayout() {
    const QSignalBlocker quiet(StringGrid1);
    StringGrid1->setColumnCount(layout_.columns);
    StringGrid1->setRowCount(rowCount_ - 1);
    for (int c = 0; c < layout_.columns; ++c) StringGrid1->setColumnWidth(c, layout_.columnWidths[c]);
    for (int r = 0; r < rowCount_ - 1; ++r) StringGrid1->setRowHeight(r, param::kRowHeight);
    StringGrid1->setMinimumWidth(std::min(layout_.gridWidth, 360));
    StringGrid1->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setMinimumSize(std::min(layout_.clientWidth, 420), 320);
    // The design size whenever the column layout changes; otherwise the
    // operator's size stays.
    if (property("designWidth").toInt() != layout_.clientWidth) {
        setProperty("designWidth", layout_.clientWidth);
        resize(layout_.clientWidth, param::kClientHeight);
    }
}

void TParamForm::fillGrid() {
    closeEditorWithoutStore();
    editImage = tunerImage;  // unconfirmed edits are dropped here
    rowCount_ = param::GridRowCount(radioInfo.largeModel());
    layout_ = param::LayoutFor(band, radioInfo.newFirmware());
    applyLayout();

    const QSignalBlocker quiet(StringGrid1);
    labelGrid();
    const bool fskRows = (radioInfo.featureFlags() & 0x01) != 0;
    for (int r = 1; r < rowCount_; ++r) {
        const ParamGridRow* row = FindParamGridRow(r);
        for (int c = 1; c < layout_.columns; ++c) {
            QString text;
            if (row != nullptr && param::CellShowsValue(c, r, layout_, rowCount_, fskRows)) {
                text = QString::fromStdString(param::CellText(editImage, *row, band, c));
            }
            // Every other cell is emptied, so nothing of an earlier radio or
            // band is left standing on the sheet.
            QTableWidgetItem* item = StringGrid1->item(r - 1, c);
            if (item == nullptr) {
                StringGrid1->setItem(r - 1, c, new QTableWidgetItem(text));
            } else {
                item->setText(text);
            }
        }
    }
    StringGrid1->viewport()->update();
}

void TParamForm::StringGrid1SelectCell(int col, int row) {
    // The editor of the previous cell stores its text before another cell
    // takes over (normally its focus loss has already done so).
    if (editorOpen_) Edit1Exit();
    editCol = col;
    editRow = row;
    if (StringGrid1->currentRow() != row - 1 || StringGrid1->currentColumn() != col) {
        const QSignalBlocker quiet(StringGrid1);
        StringGrid1->setCurrentCell(row - 1, col);
    }
    if (param::IsCellEditable(col, row, layout_, rowCount_, expertMode)) placeEditor();
}

QColor TParamForm::lockedColour() const {
    // The button face; where the style's face is all but white, a shade
    // darker so that a locked cell never passes for an editable one.
    QColor face = palette().color(QPalette::Active, QPalette::Button);
    if (face.lightness() > 225) face = face.darker(112);
    return face;
}

void TParamForm::StringGrid1DrawCell(QPainter* painter, int col, int row, const QRect& rect) {
    painter->save();
    painter->setFont(StringGrid1->font());
    painter->setClipRect(rect);
    if (row == 0 || col == 0) {
        painter->fillRect(rect, lockedColour());
    } else {
        painter->fillRect(rect, Qt::white);
        if (param::IsCellLocked(col, row, layout_, rowCount_, expertMode)) painter->fillRect(rect, lockedColour());
    }
    painter->setPen(QColor(128, 128, 128));
    painter->drawLine(rect.left(), rect.bottom(), rect.right(), rect.bottom());
    painter->drawLine(rect.right(), rect.bottom(), rect.right(), rect.top());
    if (col == 0 && row > 0 && editorActive && row == editRow) {
        painter->drawPixmap(rect.left() + 4, rect.top() + (rect.height() - kMarkerSize) / 2, Image1);
    }
    painter->setPen(Qt::black);
    painter->drawText(rect, Qt::AlignCenter | Qt::TextSingleLine, cellText(col, row));
    painter->restore();
}

void TParamForm::placeEditor() {
    const QModelIndex index = StringGrid1->model()->index(editRow - 1, editCol);
    if (!index.isValid()) return;
    StringGrid1->scrollTo(index);
    Edit1->setGeometry(StringGrid1->visualRect(index));
    Edit1->setText(cellText(editCol, editRow));  // also clears the modified flag
    Edit1->selectAll();
    editorOpen_ = true;
    Edit1->show();
    Edit1->raise();
    Edit1->setFocus(Qt::OtherFocusReason);
    // A window that is not active hands out no focus event; the editor is
    // the place of input all the same.
    if (!editorActive) Edit1Enter();
}

void TParamForm::Edit1Enter() {
    editorActive = true;
    StringGrid1->viewport()->update();
}

bool TParamForm::Edit1KeyPress(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            Edit1Exit();  // Enter commits the cell, as leaving it does
            return true;
        case Qt::Key_Backspace:
        case Qt::Key_Delete:
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
        case Qt::Key_Escape:
            return false;
        default:
            break;
    }
    const QString text = event->text();
    if (text.isEmpty()) return false;  // cursor keys and the like type nothing
    for (const QChar c : text) {
        if (!param::EditorAcceptsCharacter(editRow, c.unicode())) return true;
    }
    const qsizetype length = Edit1->text().size() - Edit1->selectedText().size() + text.size();
    return length > param::EditorMaxLength(editRow);
}

void TParamForm::Edit1Exit() {
    if (!editorOpen_) return;
    editorOpen_ = false;
    editorActive = false;
    // The cell is taken now: what follows may move the grid's selection.
    const int col = editCol;
    const int row = editRow;
    const bool typed = Edit1->isModified();
    const std::string text = Edit1->text().toStdString();
    hideEditor();
    StringGrid1->viewport()->update();
    // A cell the operator only passed through keeps its value: reading the
    // shown text back would cut a frequency to 10 Hz and a 16-bit value to 255.
    if (!typed) return;
    const ParamGridRow* gridRow = FindParamGridRow(row);
    if (gridRow == nullptr || !param::IsCellEditable(col, row, layout_, rowCount_, expertMode)) return;
    if ((gridRow->kind == GridRowKind::RxFrequency || gridRow->kind == GridRowKind::TxFrequency) &&
        !acceptFrequencyText(text)) {
        // The old value stays, and the cell shows it again.
        if (QTableWidgetItem* item = StringGrid1->item(row - 1, col)) {
            item->setText(QString::fromStdString(param::CellText(editImage, *gridRow, band, col)));
        }
        return;
    }
    if (gridRow->kind != GridRowKind::RxFrequency && gridRow->kind != GridRowKind::TxFrequency) {
        // A value cell stores only a whole number of its range; anything
        // else is refused with the range, and the old value stays.
        const std::optional<std::uint32_t> value = param::CheckValueText(text, *gridRow);
        if (!value) {
            const std::string old = param::CellText(editImage, *gridRow, band, col);
            if (QTableWidgetItem* item = StringGrid1->item(row - 1, col)) item->setText(QString::fromStdString(old));
            // A cleared cell simply keeps its value.
            if (!QString::fromStdString(text).trimmed().isEmpty()) refuseValueText(text, *gridRow, old);
            return;
        }
        const std::string shown = param::StoreCellValue(editImage, *gridRow, band, col, *value);
        if (QTableWidgetItem* item = StringGrid1->item(row - 1, col)) item->setText(QString::fromStdString(shown));
        return;
    }
    const std::string shown = param::StoreCellText(editImage, *gridRow, band, col, text);
    if (QTableWidgetItem* item = StringGrid1->item(row - 1, col)) item->setText(QString::fromStdString(shown));
}

void TParamForm::refuseValueText(const std::string& text, const ParamGridRow& row, const std::string& old) {
    const param::CellRange range = param::RangeOf(row);
    const QString typed = QString::fromStdString(text).trimmed();
    const QString refusal = Tr("Pages", "V0001")
                                .replace(QStringLiteral("%1"), typed.isEmpty() ? QStringLiteral("\"\"") : typed)
                                .replace(QStringLiteral("%2"), QString::number(range.min))
                                .replace(QStringLiteral("%3"), QString::number(range.max))
                                .replace(QStringLiteral("%4"), QString::fromStdString(old));
    ui::Dialogs().message(this, ui::MessageKind::Error, QStringLiteral("Varnel"), refusal, ui::MessageButtons::Ok);
}

void TParamForm::hideEditor() {
    // Hiding the focused editor would hand the focus on as a Tab does, and
    // the grid would answer by selecting the next cell; the grid takes the
    // focus back first.
    if (Edit1->hasFocus()) StringGrid1->setFocus(Qt::OtherFocusReason);
    Edit1->hide();
}

void TParamForm::closeEditorWithoutStore() {
    if (!editorOpen_ && !Edit1->isVisible()) return;
    editorOpen_ = false;
    editorActive = false;
    hideEditor();
}

bool TParamForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Edit1) {
        switch (event->type()) {
            case QEvent::KeyPress:
                return Edit1KeyPress(static_cast<QKeyEvent*>(event));
            case QEvent::FocusIn:
                if (editorOpen_) Edit1Enter();
                break;
            case QEvent::FocusOut: {
                // Another window or a popup taking the focus is no leaving
                // of the cell; the editor gets the focus back afterwards.
                const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
                if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) Edit1Exit();
                break;
            }
            default:
                break;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TParamForm::ComboBox1Select(int index) {
    if (editorOpen_) Edit1Exit();
    if (index < 0 || index > 1 || index == band) return;
    band = index;  // the whole program works on this band from now on
    fillGrid();
}

void TParamForm::Button3Click() {
    if (editorOpen_) Edit1Exit();
    tunerImage = editImage;
    if (confirmHandler_) confirmHandler_();
    accept();
}

void TParamForm::Button4Click() {
    closeEditorWithoutStore();
    reject();
}

bool TParamForm::cellsChanged() const {
    if (editImage.bytes != tunerImage.bytes) return true;
    if (!editorOpen_) return false;
    const QTableWidgetItem* cell = StringGrid1->item(editRow - 1, editCol);
    return cell != nullptr && Edit1->isModified() && Edit1->text() != cell->text();
}

void TParamForm::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier && cellsChanged()) {
        event->accept();
        if (ui::Dialogs().message(this, ui::MessageKind::Question, QStringLiteral("Varnel"), Tr("Pages", "E0001"),
                                  ui::MessageButtons::OkCancel) != ui::MessageResult::Ok) {
            return;
        }
        reject();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TParamForm::reject() {
    closeEditorWithoutStore();
    band = bandAtShow_;
    QDialog::reject();
}

bool TParamForm::acceptFrequencyText(const std::string& text) {
    // A number of megahertz: digits with at most one decimal point.
    static const QRegularExpression number(QStringLiteral("^[0-9]+(\\.[0-9]*)?$"));
    const QString typed = QString::fromStdString(text).trimmed();
    const char* bandName = band == 1 ? "136-174 MHz" : "400-470 MHz";
    QString refusal;
    if (!number.match(typed).hasMatch()) {
        refusal = Tr("Safety", "Q0002").replace(QStringLiteral("%1"), typed.isEmpty() ? QStringLiteral("\"\"") : typed);
    } else {
        // The parse gives back the old value when it cannot read the text;
        // two different old values tell that case apart.
        const std::uint32_t hertz = param::parseFrequencyText(text, 0).value;
        const bool readable = hertz == param::parseFrequencyText(text, 1).value;
        if (readable && FrequencyInBand(hertz, band)) return true;
        refusal = Tr("Safety", readable ? "Q0001" : "Q0002")
                      .replace(QStringLiteral("%1"), typed)
                      .replace(QStringLiteral("%2"), QString::fromLatin1(bandName));
    }
    ui::Dialogs().message(this, ui::MessageKind::Error, QStringLiteral("Varnel"), refusal, ui::MessageButtons::Ok);
    return false;
}
