#include "tuning/TuningPages.h"

#include <QApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedLayout>
#include <QVBoxLayout>
#include <QWheelEvent>

#include "data/Global.h"
#include "data/Safety.h"
#include "lang/Loadlanguage.h"

namespace varnel::tuning {

namespace {

const QColor kPictureAccent(0, 170, 240);

// The illustration of sbox_mandown: a radio on its side with the tilt arc.
QPixmap MandownPicture() {
    QPixmap pixmap(120, 96);
    pixmap.fill(Qt::white);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.translate(60, 58);
    // Upright outline, dashed.
    p.setPen(QPen(QColor(150, 150, 150), 1, Qt::DashLine));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(-12, -44, 24, 48), 4, 4);
    // The tilted radio.
    p.save();
    p.rotate(62);
    p.setPen(QPen(QColor(40, 40, 40), 1.5));
    p.setBrush(QColor(70, 80, 95));
    p.drawRoundedRect(QRectF(-12, -44, 24, 48), 4, 4);
    p.setBrush(QColor(170, 210, 240));
    p.drawRect(QRectF(-8, -38, 16, 12));
    p.setBrush(QColor(40, 40, 40));
    p.drawRect(QRectF(4, -58, 4, 14));
    p.restore();
    // Tilt arc with arrow.
    p.setPen(QPen(kPictureAccent, 2));
    p.drawArc(QRectF(-34, -34, 68, 68), 90 * 16, -62 * 16);
    QPainterPath head;
    head.moveTo(30, -12);
    head.lineTo(36, -22);
    head.lineTo(24, -20);
    head.closeSubpath();
    p.fillPath(head, kPictureAccent);
    p.setPen(QPen(QColor(120, 120, 120), 1));
    p.drawLine(-50, 8, 50, 8);
    return pixmap;
}

QWidget* ValueLabelCell(QWidget* parent, const CellSpec& cell, QList<QWidget*>& rowWidgets) {
    auto* label = new QLabel(QStringLiteral("0"), parent);
    label->setObjectName(QString::fromLatin1(cell.name));
    label->setAlignment(Qt::AlignCenter);
    label->setMinimumWidth(56);
    rowWidgets << label;
    return label;
}

QWidget* ScrollBarCell(QWidget* parent, const CellSpec& cell, QList<QWidget*>& rowWidgets) {
    auto* bar = new TScrollBar(parent);
    bar->setObjectName(QString::fromLatin1(cell.name));
    bar->setRange(0, 255);
    bar->setSingleStep(5);
    bar->setPageStep(5);
    // Wide enough for its scale ("0", "(+5)", "255") and fine steps; the
    // column takes whatever room the page has beyond that.
    bar->setMinimumWidth(150);
    bar->setEnabled(false);
    rowWidgets << bar;
    return bar;
}

// An edit with its up-down; 16-bit cells take up to "4,096".
QWidget* EditCell(QWidget* parent, const ColumnSpec& column, const CellSpec& cell, QList<QWidget*>& rowWidgets) {
    const bool word = column.kind == CellKind::WordEdit;
    auto* box = new QWidget(parent);
    box->setObjectName(QString::fromLatin1(cell.name) + QStringLiteral("_cell"));
    auto* h = new QHBoxLayout(box);
    // Room for the focus ring around the edit, which is drawn in this box.
    h->setContentsMargins(3, 3, 3, 3);
    h->setSpacing(0);
    auto* edit = new TValueEdit(box);
    edit->setObjectName(QString::fromLatin1(cell.name));
    edit->setMaxLength(word ? 5 : 3);
    edit->setFixedWidth(word ? 54 : 42);
    edit->setEnabled(false);
    auto* upDown = new TUpDown(box);
    upDown->setObjectName(QString::fromLatin1(cell.upDown));
    upDown->setRange(0, word ? 4096 : 255);
    upDown->setIncrement(1);
    upDown->setThousands(true);
    upDown->setAssociate(edit);
    upDown->setFixedHeight(edit->sizeHint().height());
    upDown->setEnabled(false);
    h->addWidget(edit);
    h->addWidget(upDown);
    rowWidgets << box << edit << upDown;
    return box;
}

QWidget* BuildCell(QWidget* parent, const ColumnSpec& column, const CellSpec& cell, QList<QWidget*>& rowWidgets) {
    switch (column.kind) {
        case CellKind::ValueLabel: return ValueLabelCell(parent, cell, rowWidgets);
        case CellKind::ScrollBar: return ScrollBarCell(parent, cell, rowWidgets);
        case CellKind::ByteEdit:
        case CellKind::WordEdit: return EditCell(parent, column, cell, rowWidgets);
    }
    return nullptr;
}

QScrollArea* NewPageArea(const PageSpec& spec) {
    auto* area = new QScrollArea;
    area->setObjectName(QString::fromLatin1(spec.name));
    area->setFrameShape(QFrame::NoFrame);
    area->setWidgetResizable(true);
    area->setFocusPolicy(Qt::NoFocus);
    area->setBackgroundRole(QPalette::Base);
    QPalette pal = area->palette();
    pal.setColor(QPalette::Base, Qt::white);
    pal.setColor(QPalette::Window, Qt::white);
    area->setPalette(pal);
    return area;
}

QGroupBox* FramedGroup(QWidget* parent, const char* name, const char* style) {
    auto* box = new QGroupBox(parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setStyleSheet(QString::fromLatin1(style).arg(box->objectName()));
    return box;
}

}  // namespace

// Lays out one page: headers, the point frame, the column bands, the point
// rows and the keying and save buttons, in a grid of
//   column 0 and the last: padding inside the point frame
//   columns 1 to 3: point button, RX and TX frequency (pages with points)
//   then one column per cell of the page tables;
//   row 0: headers, row 1: scale captions (pages with a bar), then the frame
//   padding, the point rows and the frame padding again.
class PageBuilder {
public:
    PageBuilder(TuningPages& pages, const PageSpec& spec)
        : pages_(pages),
          spec_(spec),
          firstCellColumn_(spec.pointsHeader != nullptr ? 4 : 1),
          padRight_(firstCellColumn_ + static_cast<int>(spec.columns.size())),
          hasScale_(spec.scale[0] != nullptr),
          padTop_(hasScale_ ? 2 : 1),
          firstPointRow_(padTop_ + 1),
          padBottom_(firstPointRow_ + static_cast<int>(spec.rows.size())) {}

    QScrollArea* build() {
        QScrollArea* area = NewPageArea(spec_);
        content_ = new QWidget;
        content_->setObjectName(QString::fromLatin1(spec_.name) + QStringLiteral("_content"));
        content_->setAutoFillBackground(true);
        auto* v = new QVBoxLayout(content_);
        v->setContentsMargins(6, 12, 6, 12);
        v->setSpacing(14);
        grid_ = new QGridLayout;
        grid_->setHorizontalSpacing(6);
        grid_->setVerticalSpacing(6);

        addPointFrame();
        addColumnBands();
        addHeaders();
        addScales();
        for (std::size_t r = 0; r < spec_.rows.size(); ++r) addPointRow(spec_.rows[r], firstPointRow_ + static_cast<int>(r));
        shapeColumns();
        v->addLayout(tableRow());
        v->addLayout(pageButtons());
        // What the page is for, where the item needs a word (hidden otherwise).
        auto* hint = new QLabel(content_);
        hint->setObjectName(QString::fromLatin1(spec_.name) + QStringLiteral("_hint"));
        hint->setWordWrap(true);
        hint->setMaximumWidth(520);
        QPalette hintPal = hint->palette();
        hintPal.setColor(QPalette::WindowText, QColor(70, 70, 70));
        hint->setPalette(hintPal);
        hint->hide();
        v->addWidget(hint);
        v->addStretch(1);

        area->setWidget(content_);
        watchPresses(area);
        pages_.registerControl(area);
        for (QWidget* w : content_->findChildren<QWidget*>()) pages_.registerControl(w);
        return area;
    }

private:
    int cellColumn(std::size_t c) const { return firstCellColumn_ + static_cast<int>(c); }

    // The frame around the point rows goes in first, so the rows sit above it.
    void addPointFrame() {
        if (spec_.pointGroup != nullptr) {
            pointFrame_ = FramedGroup(content_, spec_.pointGroup,
                                      "QGroupBox#%1 { border: 1px solid #c3ccd6; border-radius: 4px; "
                                      "margin: 0px; padding: 0px; }");
            grid_->addWidget(pointFrame_, padTop_, 0, padBottom_ - padTop_ + 1, padRight_ + 1);
            pages_.pressTargets_.insert(pointFrame_, spec_.focusPage);
        }
        grid_->setColumnMinimumWidth(0, 4);
        grid_->setColumnMinimumWidth(padRight_, 4);
        grid_->setRowMinimumHeight(padTop_, 2);
        grid_->setRowMinimumHeight(padBottom_, 2);
    }

    // FSK column bands, above the point frame and below the cells.
    void addColumnBands() {
        for (std::size_t c = 0; c < spec_.columns.size(); ++c) {
            const ColumnSpec& column = spec_.columns[c];
            if (column.group == nullptr) continue;
            QGroupBox* band = FramedGroup(content_, column.group,
                                          "QGroupBox#%1 { background-color: #eef5fc; border: 1px solid #d3e1ef; "
                                          "border-radius: 3px; margin: 0px; padding: 0px; }");
            grid_->addWidget(band, firstPointRow_, cellColumn(c), static_cast<int>(spec_.rows.size()), 1);
            // Room around the cells, so the band shows as a column.
            grid_->setColumnMinimumWidth(cellColumn(c), column.kind == CellKind::WordEdit ? 78 : 66);
        }
    }

    QLabel* header(const char* name, const char* design, int column, int span) {
        auto* label = new QLabel(QString::fromUtf8(design != nullptr ? design : ""), content_);
        label->setObjectName(QString::fromLatin1(name));
        label->setAlignment(Qt::AlignCenter);
        label->setWordWrap(false);
        QFont f;  // bold only: the size follows the window
        f.setBold(true);
        label->setFont(f);
        grid_->addWidget(label, 0, column, 1, span, Qt::AlignCenter);
        return label;
    }

    // A column header spans the columns after it that have none.
    void addHeaders() {
        if (spec_.pointsHeader != nullptr) {
            header(spec_.pointsHeader, "频点", 1, 1)->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
            grid_->itemAtPosition(0, 1)->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
            header(spec_.rxHeader, "接收频率", 2, 1);
            header(spec_.txHeader, "发射频率", 3, 1);
        }
        const std::size_t columns = spec_.columns.size();
        for (std::size_t c = 0; c < columns; ++c) {
            if (spec_.columns[c].header == nullptr) continue;
            int span = 1;
            while (c + static_cast<std::size_t>(span) < columns &&
                   spec_.columns[c + static_cast<std::size_t>(span)].header == nullptr) {
                ++span;
            }
            header(spec_.columns[c].header, spec_.columns[c].designText, cellColumn(c), span);
        }
    }

    // Scale captions above the bar column.
    void addScales() {
        if (!hasScale_) return;
        for (std::size_t c = 0; c < spec_.columns.size(); ++c) {
            if (spec_.columns[c].kind != CellKind::ScrollBar) continue;
            auto* scale = new QWidget(content_);
            // What the three numbers mean is said on hover (retranslated
            // with the window's texts).
            scale->setObjectName(QString::fromLatin1(spec_.scale[1]) + QStringLiteral("_scale"));
            scale->setProperty("scaleCaptions", true);
            scale->setToolTip(QString::fromStdString(Text("Pages", "S0001")));
            auto* h = new QHBoxLayout(scale);
            h->setContentsMargins(0, 0, 0, 0);
            for (std::size_t i = 0; i < 3; ++i) {
                auto* label = new QLabel(QString::fromLatin1(kScaleTexts[i]), scale);
                label->setObjectName(QString::fromLatin1(spec_.scale[i]));
                QPalette pal = label->palette();
                pal.setColor(QPalette::WindowText, QColor(90, 90, 90));
                label->setPalette(pal);
                h->addWidget(label, 0, i == 0 ? Qt::AlignLeft : i == 1 ? Qt::AlignHCenter : Qt::AlignRight);
                if (i < 2) h->addStretch(1);
            }
            grid_->addWidget(scale, 1, cellColumn(c));
        }
    }

    void addFrequencyLabel(const char* name, int gridRow, int column, QList<QWidget*>& widgets) {
        if (name == nullptr) return;
        auto* label = new QLabel(QString::fromLatin1(kFrequencyDesignText), content_);
        label->setObjectName(QString::fromLatin1(name));
        label->setAlignment(Qt::AlignCenter);
        grid_->addWidget(label, gridRow, column);
        widgets << label;
    }

    void addPointButton(const RowSpec& row, int gridRow, QList<QWidget*>& widgets) {
        auto* button = new TPointButton(content_);
        button->setObjectName(QString::fromLatin1(row.button));
        button->setText(QStringLiteral("频点%1").arg(row.point));
        grid_->addWidget(button, gridRow, 1, Qt::AlignLeft | Qt::AlignVCenter);
        widgets << button;
        TuningPages* pages = &pages_;
        QObject::connect(button, &TPointButton::doubleClicked, pages,
                         [pages, button] { emit pages->pointDoubleClicked(button); });
        QObject::connect(button, &QAbstractButton::clicked, pages, [pages, button] { emit pages->pointClicked(button); });
    }

    void addPointRow(const RowSpec& row, int gridRow) {
        QList<QWidget*> widgets;
        if (row.button != nullptr) addPointButton(row, gridRow, widgets);
        addFrequencyLabel(row.rx, gridRow, 2, widgets);
        addFrequencyLabel(row.tx, gridRow, 3, widgets);
        for (std::size_t c = 0; c < row.cells.size() && c < spec_.columns.size(); ++c) {
            QWidget* cell = BuildCell(content_, spec_.columns[c], row.cells[c], widgets);
            if (cell == nullptr) continue;
            const bool bar = spec_.columns[c].kind == CellKind::ScrollBar;
            grid_->addWidget(cell, gridRow, cellColumn(c), bar ? Qt::Alignment() : Qt::AlignCenter);
        }
        if (spec_.page == Page::ErrorRate) {
            // The results are empty until a test has run.
            for (const CellSpec& cell : row.cells) {
                if (auto* label = content_->findChild<QLabel*>(QString::fromLatin1(cell.name))) label->clear();
            }
        }
        if (row.button != nullptr) pages_.rowWidgets_.insert(QString::fromLatin1(row.button), widgets);
    }

    void shapeColumns() {
        // Results and readings get room for their widest values ("4294967295",
        // "100.00%"), so the columns do not jump while a test runs.
        if (spec_.page == Page::ErrorRate) {
            for (std::size_t c = 0; c < spec_.columns.size(); ++c) grid_->setColumnMinimumWidth(cellColumn(c), 90);
        }
        if (spec_.page == Page::Mandown) {
            if (auto* value = content_->findChild<QLabel*>(QString::fromLatin1(spec_.rows.front().cells.front().name))) {
                QFont f = value->font();
                f.setPointSize(16);
                f.setBold(true);
                value->setFont(f);
                value->setMinimumWidth(96);
            }
        }
        // Rows keep their natural height; the scroll-bar column takes extra width.
        for (std::size_t c = 0; c < spec_.columns.size(); ++c) {
            if (spec_.columns[c].kind == CellKind::ScrollBar) grid_->setColumnStretch(cellColumn(c), 1);
        }
    }

    // The grid, with the page's picture beside it.
    QHBoxLayout* tableRow() {
        auto* row = new QHBoxLayout;
        row->setSpacing(18);
        row->addLayout(grid_);
        if (spec_.image != nullptr) {
            auto* image = new QLabel(content_);
            image->setObjectName(QString::fromLatin1(spec_.image));
            image->setPixmap(MandownPicture());
            image->setFixedSize(image->pixmap().size());
            row->addWidget(image, 0, Qt::AlignTop);
        }
        if (!hasScale_) row->addStretch(1);  // pages with a bar take the whole width
        return row;
    }

    // Keying and save buttons.
    QHBoxLayout* pageButtons() {
        auto* buttons = new QHBoxLayout;
        buttons->setSpacing(12);
        buttons->setContentsMargins(4, 0, 0, 0);
        auto* keying = new QPushButton(QString::fromUtf8(spec_.keyingDesign), content_);
        keying->setObjectName(QString::fromLatin1(spec_.keyingButton));
        auto* save = new QPushButton(QString::fromUtf8(kSaveDesignText), content_);
        save->setObjectName(QString::fromLatin1(spec_.saveButton));
        for (QPushButton* b : {keying, save}) {
            b->setMinimumWidth(110);
            b->setMinimumHeight(28);
            b->setEnabled(false);
            b->setAutoDefault(false);
            buttons->addWidget(b);
        }
        save->setVisible(spec_.saveVisible);
        buttons->addStretch(1);
        TuningPages* pages = &pages_;
        const Page page = spec_.page;
        QObject::connect(keying, &QPushButton::clicked, pages, [pages, page] { emit pages->keyingClicked(page); });
        QObject::connect(save, &QPushButton::clicked, pages, [pages, page] { emit pages->saveClicked(page); });
        return buttons;
    }

    void watchPresses(QScrollArea* area) {
        pages_.pressTargets_.insert(content_, spec_.focusPage);
        pages_.pressTargets_.insert(area->viewport(), spec_.focusPage);
        content_->installEventFilter(&pages_);
        area->viewport()->installEventFilter(&pages_);
        if (pointFrame_ != nullptr) pointFrame_->installEventFilter(&pages_);
    }

    TuningPages& pages_;
    const PageSpec& spec_;
    const int firstCellColumn_;
    const int padRight_;
    const bool hasScale_;
    const int padTop_;
    const int firstPointRow_;
    const int padBottom_;
    QWidget* content_ = nullptr;
    QGridLayout* grid_ = nullptr;
    QGroupBox* pointFrame_ = nullptr;
};

namespace {

// Keys, mnemonics and mouse buttons addressed to a control of a covered page
// are dropped before they reach it, whatever sent them there.
class CoveredPageKeys : public QObject {
public:
    explicit CoveredPageKeys(TuningPages* pages) : QObject(pages), pages_(pages) { qApp->installEventFilter(this); }
    ~CoveredPageKeys() override { qApp->removeEventFilter(this); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
            case QEvent::KeyPress:
            case QEvent::KeyRelease:
            case QEvent::ShortcutOverride:
            case QEvent::Shortcut:
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonRelease:
            case QEvent::MouseButtonDblClick: return pages_->onCoveredPage(watched);
            default: return false;
        }
    }

private:
    TuningPages* pages_;
};

// The focus policy a control had before its page was covered.
const char* const kCoveredFocusPolicy = "varnelCoveredFocusPolicy";

}  // namespace

TuningPages::TuningPages(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("PageStack"));
    stack_ = new QStackedLayout(this);
    // Every page stays visible; the one brought to the front covers the rest.
    stack_->setStackingMode(QStackedLayout::StackAll);
    for (const PageSpec& spec : PageSpecs()) {
        QScrollArea* area = PageBuilder(*this, spec).build();
        pages_.append(area);
        stack_->addWidget(area);
    }
    neutral_ = new QLabel(this);
    neutral_->setObjectName(QStringLiteral("NoPage"));
    neutral_->setAlignment(Qt::AlignCenter);
    neutral_->setWordWrap(true);
    neutral_->setAutoFillBackground(true);
    stack_->addWidget(neutral_);
    registerControl(neutral_);
    coverPages();
    coveredKeys_ = new CoveredPageKeys(this);
}

TuningPages::~TuningPages() {
    // The key filter leaves the application before the pages go.
    delete coveredKeys_;
}

void TuningPages::registerControl(QWidget* widget) {
    if (widget != nullptr && !widget->objectName().isEmpty()) controls_.insert(widget->objectName(), widget);
}

QScrollArea* TuningPages::page(Page p) const {
    const int n = static_cast<int>(p);
    return n >= 0 && n < pages_.size() ? pages_.at(n) : nullptr;
}

QScrollArea* TuningPages::front() const { return qobject_cast<QScrollArea*>(stack_->currentWidget()); }

void TuningPages::showPage(int number) {
    if (number < 0 || number >= pages_.size()) return;
    QScrollArea* area = pages_.at(number);
    area->show();
    stack_->setCurrentWidget(area);
    area->raise();
    area->verticalScrollBar()->setValue(0);
    coverPages();
}

void TuningPages::showNeutralPage(const QString& text) {
    neutral_->setText(text);
    stack_->setCurrentWidget(neutral_);
    neutral_->raise();
    coverPages();
}

void TuningPages::setFocusPolicy(QWidget* control, Qt::FocusPolicy policy) {
    if (control->property(kCoveredFocusPolicy).isValid()) {
        control->setProperty(kCoveredFocusPolicy, static_cast<int>(policy));
    } else {
        control->setFocusPolicy(policy);
    }
}

void TuningPages::coverPages() {
    // Every page stays on screen under the one in front, so the keyboard
    // (Tab, typing, Enter) could otherwise reach a covered page's controls
    // and act for an item the operator does not see. The controls of a
    // covered page take no focus from the keyboard and get no keys; their
    // own enabled state (the page locks) is left as it is.
    QWidget* frontWidget = stack_->currentWidget();
    for (int i = 0; i < stack_->count(); ++i) {
        QWidget* pageWidget = stack_->widget(i);
        const bool covered = pageWidget != frontWidget;
        for (QWidget* w : pageWidget->findChildren<QWidget*>()) {
            const QVariant saved = w->property(kCoveredFocusPolicy);
            if (covered && !saved.isValid()) {
                w->setProperty(kCoveredFocusPolicy, static_cast<int>(w->focusPolicy()));
                w->setFocusPolicy(Qt::NoFocus);
            } else if (!covered && saved.isValid()) {
                w->setFocusPolicy(static_cast<Qt::FocusPolicy>(saved.toInt()));
                w->setProperty(kCoveredFocusPolicy, QVariant());
            }
        }
    }
    // A control that had the focus when its page was covered gives it up.
    if (QWidget* focus = QApplication::focusWidget(); focus != nullptr && onCoveredPage(focus)) focus->clearFocus();
}

bool TuningPages::onCoveredPage(const QObject* object) const {
    const QWidget* frontWidget = stack_->currentWidget();
    for (const QObject* o = object; o != nullptr; o = o->parent()) {
        const QObject* parent = o->parent();
        if (parent == nullptr) return false;
        if (parent == this) {
            const auto* pageWidget = qobject_cast<const QWidget*>(o);
            return pageWidget != nullptr && pageWidget != frontWidget && o != object && stack_->indexOf(pageWidget) >= 0;
        }
    }
    return false;
}

void TuningPages::setHint(Page p, const QString& text) {
    const PageSpec& spec = PageSpecOf(p);
    auto* hint = control<QLabel>(QString::fromLatin1(spec.name) + QStringLiteral("_hint"));
    if (hint == nullptr) return;
    hint->setText(text);
    hint->setVisible(!text.isEmpty());
}

void TuningPages::setExtraPowerRowsVisible(bool visible) {
    for (const RowSpec& row : PageSpecOf(Page::Power).rows) {
        if (!row.extraPoint) continue;
        for (QWidget* w : rowWidgets_.value(QString::fromLatin1(row.button))) w->setVisible(visible);
    }
}

void TuningPages::refreshFrequencyLabels(RefreshScope scope) {
    const bool eightPoints = band == 1 && radioInfo.newFirmware();
    for (const Page p : PagesOfScope(scope)) {
        for (const RowSpec& row : PageSpecOf(p).rows) {
            if (row.extraPoint && !eightPoints) continue;
            const int index = row.point - 1;
            if (auto* rx = control<QLabel>(QString::fromLatin1(row.rx))) {
                rx->setText(QString::fromStdString(FormatMegahertz(rxFrequency(index))));
            }
            if (auto* tx = control<QLabel>(QString::fromLatin1(row.tx))) {
                tx->setText(QString::fromStdString(FormatMegahertz(txFrequency(index))));
            }
        }
    }
}

void TuningPages::disableCells(const PageSpec& spec, int lastPoint) {
    for (const RowSpec& row : spec.rows) {
        if (row.point > lastPoint) continue;
        for (const CellSpec& cell : row.cells) {
            QWidget* w = control(QString::fromLatin1(cell.name));
            if (w != nullptr && qobject_cast<QLabel*>(w) == nullptr) w->setEnabled(false);
            if (cell.upDown != nullptr) {
                if (QWidget* u = control(QString::fromLatin1(cell.upDown))) u->setEnabled(false);
            }
        }
    }
}

void TuningPages::disableButtons(std::initializer_list<const char*> names) {
    for (const char* name : names) {
        if (QWidget* w = control(QString::fromLatin1(name))) w->setEnabled(false);
    }
}

void TuningPages::lockPowerPage() {
    if (radioInfo.modelVariant() == 1) {
        disableCells(PageSpecOf(Page::PowerMobile), 5);
        disableButtons({"Button11", "Button12"});
    } else {
        disableCells(PageSpecOf(Page::Power), 5);
        disableButtons({"Button1", "Button2"});
    }
}

void TuningPages::lockCtcssPage() {
    disableCells(PageSpecOf(Page::Ctcss), 8);
    disableButtons({"Button9", "Button10"});
}

void TuningPages::lockStabilityPage() {
    disableCells(PageSpecOf(Page::FreqStability), 8);
    disableButtons({"Button5", "Button6"});
}

void TuningPages::lockMeasureButtons() {
    disableButtons({"Button3", "Button4", "Button7", "Button8", "Button13", "Button14"});
}

void TuningPages::lockAdjustControls() {
    lockPowerPage();
    lockCtcssPage();
    lockStabilityPage();
}

void TuningPages::pressOnPage(Page target) {
    // A press gives the keyboard focus to a fixed page (sbox_vox, sbox_power
    // or sbox_ctcss), whichever page received it.
    if (QScrollArea* area = page(target)) area->setFocus(Qt::MouseFocusReason);
}

void TuningPages::wheelOnPage(QScrollArea* area, QWheelEvent* event) {
    // Only a page holding the keyboard focus scrolls, one line each way.
    if (area == nullptr || !area->hasFocus()) return;
    const bool down = event->angleDelta().y() < 0;
    const auto action = down ? QAbstractSlider::SliderSingleStepAdd : QAbstractSlider::SliderSingleStepSub;
    area->verticalScrollBar()->triggerAction(action);
    area->horizontalScrollBar()->triggerAction(action);
}

bool TuningPages::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonPress) {
        const auto it = pressTargets_.constFind(watched);
        if (it != pressTargets_.constEnd()) pressOnPage(it.value());
    } else if (event->type() == QEvent::Wheel && pressTargets_.contains(watched)) {
        QWidget* w = qobject_cast<QWidget*>(watched);
        QScrollArea* area = nullptr;
        while (w != nullptr && area == nullptr) {
            area = qobject_cast<QScrollArea*>(w);
            w = w->parentWidget();
        }
        wheelOnPage(area, static_cast<QWheelEvent*>(event));
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace varnel::tuning
