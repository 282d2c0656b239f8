// Creation, layout, show and close of the tuning window.
#include "tuning/TMDIChild.h"

#include <algorithm>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QMdiSubWindow>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSplitter>
#include <QStackedLayout>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QVBoxLayout>
#include <QWheelEvent>

#include "ui/DialogSeam.h"
#include "data/Global.h"
#include "data/Safety.h"
#include "lang/Loadlanguage.h"
#include "protocol/Sendcmd.h"
#include "tuning/TuningFeedback.h"

using namespace varnel;
using namespace varnel::tuning;

namespace {

// The window whose log and timers the senders currently feed. A window
// replaced by a new one may be destroyed after the new one installed its
// hooks; it must then leave them alone.
TMDIChild* g_hookOwner = nullptr;

constexpr int kDesignWidth = 1184;
constexpr int kDesignHeight = 642;
constexpr int kTreeWidth = 233;
constexpr int kSplitterWidth = 4;
constexpr int kPanelHeight = 28;
constexpr int kLogHeight = 144;
constexpr int kLogItemHeight = 18;

const QColor kPanelColour(0, 170, 240);

QString T(const char* section, const char* key) { return QString::fromStdString(Text(section, key)); }

// Log lines are 18 pixels high.
class LogItemDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.setHeight(kLogItemHeight);
        return size;
    }
};

QTimer* MakeTimer(QObject* parent, const char* name, int interval) {
    auto* timer = new QTimer(parent);
    timer->setObjectName(QString::fromLatin1(name));
    timer->setInterval(interval);
    return timer;
}

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
    p.setPen(QPen(kPanelColour, 2));
    p.drawArc(QRectF(-34, -34, 68, 68), 90 * 16, -62 * 16);
    QPainterPath head;
    head.moveTo(30, -12);
    head.lineTo(36, -22);
    head.lineTo(24, -20);
    head.closeSubpath();
    p.fillPath(head, kPanelColour);
    p.setPen(QPen(QColor(120, 120, 120), 1));
    p.drawLine(-50, 8, 50, 8);
    return pixmap;
}

void SetCaption(QWidget* widget, const QString& text) {
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        label->setText(text);
    } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        button->setText(text);
    }
}

}  // namespace

// Keys, mnemonics and mouse buttons addressed to a control of a covered page
// are dropped before they reach it, whatever sent them there.
class TCoveredPageKeys : public QObject {
public:
    explicit TCoveredPageKeys(TMDIChild* window) : QObject(window), window_(window) {
        qApp->installEventFilter(this);
    }
    ~TCoveredPageKeys() override { qApp->removeEventFilter(this); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
            case QEvent::KeyPress:
            case QEvent::KeyRelease:
            case QEvent::ShortcutOverride:
            case QEvent::Shortcut:
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonRelease:
            case QEvent::MouseButtonDblClick:
                return window_->pageStack_ != nullptr && window_->onCoveredPage(watched);
            default:
                return false;
        }
    }

private:
    TMDIChild* window_;
};

TMDIChild::TMDIChild(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName(QStringLiteral("MDIChild"));
    resize(kDesignWidth, kDesignHeight);
    QFont base = font();
    base.setFamilies({QStringLiteral("Arial Unicode MS"), QStringLiteral("Arial"),
                      QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans"),
                      QStringLiteral("Microsoft YaHei"), QStringLiteral("WenQuanYi Micro Hei")});
    base.setPointSize(8);
    setFont(base);

    CheckTimer = MakeTimer(this, "CheckTimer", 2000);
    TimeOutTimer = MakeTimer(this, "TimeOutTimer", 10);
    ReadTimer = MakeTimer(this, "ReadTimer", 1000);
    ConnetTimer = MakeTimer(this, "ConnetTimer", 10);
    SaveTimer = MakeTimer(this, "SaveTimer", 10);
    SaveItemTimer2 = MakeTimer(this, "SaveItemTimer2", 10);
    ErrorRateTimer = MakeTimer(this, "ErrorRateTimer", 1000);
    MandownTimer = MakeTimer(this, "MandownTimer", 1000);

    buildLayout();
    FormCreate();
    ConnectValueControls();
    ConnectPollers();
    installSenderHooks();
    new TCoveredPageKeys(this);
    feedback_ = new TuningFeedback(this);
}

TMDIChild::~TMDIChild() {
    // The key filter leaves the application before the window goes.
    delete ApplicationEvents1;
    ApplicationEvents1 = nullptr;
    if (g_hookOwner == this) {
        SetSenderHooks({});
        g_hookOwner = nullptr;
    }
}

void TMDIChild::installSenderHooks() {
    SenderHooks hooks;
    hooks.enableTimer = [this](TuningTimer timer) {
        switch (timer) {
            case TuningTimer::TimeOut: TimeOutTimer->start(); break;
            // A save's record is kept for its re-send (the frame is still
            // in lastSentFrame when the sender enables the poller).
            case TuningTimer::Save:
                RememberSave(false);
                SaveTimer->start();
                break;
            case TuningTimer::SaveItem2:
                RememberSave(true);
                SaveItemTimer2->start();
                break;
        }
    };
    hooks.logFrame = [this](const std::uint8_t* bytes, std::uint16_t length, int direction) {
        LogFrame(bytes, length, direction);
        // A live change has just gone into the image.
        if (direction == 0) refreshModifiedMarker();
    };
    SetSenderHooks(std::move(hooks));
    g_hookOwner = this;
}

void TMDIChild::registerControl(QObject* object) {
    auto* widget = qobject_cast<QWidget*>(object);
    if (widget != nullptr && !widget->objectName().isEmpty()) controls_.insert(widget->objectName(), widget);
}

// ---- layout -----------------------------------------------------------------

void TMDIChild::buildLayout() {
    auto* outer = new QHBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);

    Splitter1 = new QSplitter(Qt::Horizontal, this);
    Splitter1->setObjectName(QStringLiteral("Splitter1"));
    Splitter1->setHandleWidth(kSplitterWidth);
    Splitter1->setChildrenCollapsible(false);
    outer->addWidget(Splitter1);

    TreeView1 = new TTreeView(Splitter1);
    TreeView1->setObjectName(QStringLiteral("TreeView1"));
    TreeView1->setHeaderHidden(true);
    // Long captions scroll sideways, as in a native tree, instead of being cut.
    TreeView1->setTextElideMode(Qt::ElideNone);
    TreeView1->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    TreeView1->header()->setStretchLastSection(false);
    TreeView1->setIndentation(19);
    TreeView1->setIconSize(QSize(16, 16));
    TreeView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    TreeView1->setSelectionMode(QAbstractItemView::SingleSelection);
    TreeView1->setItemDelegate(new TreeSelectionDelegate(TreeView1));
    TreeView1->setMinimumWidth(120);
    {
        QPalette pal = TreeView1->palette();
        pal.setColor(QPalette::Base, Qt::white);
        TreeView1->setPalette(pal);
    }
    connect(TreeView1, &TTreeView::dblClick, this, &TMDIChild::TreeView1DblClick);

    ScrollBox1 = new QWidget(Splitter1);
    ScrollBox1->setObjectName(QStringLiteral("ScrollBox1"));
    auto* right = new QVBoxLayout(ScrollBox1);
    right->setContentsMargins(0, 0, 0, 0);
    right->setSpacing(0);

    Panel1 = new QLabel(ScrollBox1);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFixedHeight(kPanelHeight);
    Panel1->setAlignment(Qt::AlignCenter);
    Panel1->setAutoFillBackground(true);
    {
        QPalette pal = Panel1->palette();
        pal.setColor(QPalette::Window, kPanelColour);
        pal.setColor(QPalette::WindowText, Qt::white);
        Panel1->setPalette(pal);
        QFont f = Panel1->font();
        f.setPixelSize(16);
        Panel1->setFont(f);
    }
    right->addWidget(Panel1);

    BandLabel = new QLabel(ScrollBox1);
    BandLabel->setObjectName(QStringLiteral("BandLabel"));
    BandLabel->setAlignment(Qt::AlignCenter);
    right->addWidget(BandLabel);

    Splitter2 = new QSplitter(Qt::Vertical, ScrollBox1);
    Splitter2->setObjectName(QStringLiteral("Splitter2"));
    Splitter2->setHandleWidth(kSplitterWidth);
    Splitter2->setChildrenCollapsible(false);
    right->addWidget(Splitter2, 1);

    auto* stackHost = new QWidget(Splitter2);
    stackHost->setObjectName(QStringLiteral("PageStack"));
    pageStack_ = new QStackedLayout(stackHost);
    // Every page stays visible; the one brought to the front covers the rest.
    pageStack_->setStackingMode(QStackedLayout::StackAll);
    for (const PageSpec& spec : PageSpecs()) pageStack_->addWidget(buildPage(spec));
    NoPage = new QLabel(stackHost);
    NoPage->setObjectName(QStringLiteral("NoPage"));
    NoPage->setAlignment(Qt::AlignCenter);
    NoPage->setWordWrap(true);
    NoPage->setAutoFillBackground(true);
    pageStack_->addWidget(NoPage);
    coverPages();

    ListBox1 = new QListWidget(Splitter2);
    ListBox1->setObjectName(QStringLiteral("ListBox1"));
    ListBox1->setUniformItemSizes(true);
    ListBox1->setItemDelegate(new LogItemDelegate(ListBox1));
    ListBox1->setSelectionMode(QAbstractItemView::SingleSelection);
    ListBox1->setContextMenuPolicy(Qt::CustomContextMenu);
    ListBox1->setMinimumHeight(40);
    {
        // Hex bytes line up in a fixed-pitch face; the size follows the window.
        QFont mono;
        mono.setFamilies({QStringLiteral("Consolas"), QStringLiteral("DejaVu Sans Mono"),
                          QStringLiteral("Liberation Mono"), QStringLiteral("Courier New")});
        mono.setStyleHint(QFont::Monospace);
        ListBox1->setFont(mono);
    }

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    C1 = PopupMenu1->addAction(QStringLiteral("清空日志(&C)"));
    C1->setObjectName(QStringLiteral("C1"));
    N1 = PopupMenu1->addSeparator();
    N1->setObjectName(QStringLiteral("N1"));
    S1 = PopupMenu1->addAction(QStringLiteral("保存日志(&S)"));
    S1->setObjectName(QStringLiteral("S1"));
    connect(C1, &QAction::triggered, this, &TMDIChild::C1Click);
    connect(S1, &QAction::triggered, this, &TMDIChild::S1Click);
    connect(ListBox1, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { PopupMenu1->popup(ListBox1->viewport()->mapToGlobal(pos)); });

    Splitter1->setStretchFactor(0, 0);
    Splitter1->setStretchFactor(1, 1);
    Splitter2->setStretchFactor(0, 1);
    Splitter2->setStretchFactor(1, 0);

    for (QWidget* w : {static_cast<QWidget*>(TreeView1), static_cast<QWidget*>(Splitter1), ScrollBox1,
                       static_cast<QWidget*>(Panel1), static_cast<QWidget*>(BandLabel), static_cast<QWidget*>(NoPage), static_cast<QWidget*>(Splitter2),
                       static_cast<QWidget*>(ListBox1), static_cast<QWidget*>(PopupMenu1)}) {
        registerControl(w);
    }
}

QWidget* TMDIChild::buildCell(QWidget* parent, const ColumnSpec& column, const CellSpec& cell,
                              QList<QWidget*>& rowWidgets) {
    switch (column.kind) {
        case CellKind::ValueLabel: {
            auto* label = new QLabel(QStringLiteral("0"), parent);
            label->setObjectName(QString::fromLatin1(cell.name));
            label->setAlignment(Qt::AlignCenter);
            label->setMinimumWidth(56);
            rowWidgets << label;
            return label;
        }
        case CellKind::ScrollBar: {
            auto* bar = new TScrollBar(parent);
            bar->setObjectName(QString::fromLatin1(cell.name));
            bar->setRange(0, 255);
            bar->setSingleStep(5);
            bar->setPageStep(5);
            bar->setMinimumWidth(240);
            bar->setEnabled(false);
            rowWidgets << bar;
            return bar;
        }
        case CellKind::ByteEdit:
        case CellKind::WordEdit: {
            const bool word = column.kind == CellKind::WordEdit;
            auto* box = new QWidget(parent);
            box->setObjectName(QString::fromLatin1(cell.name) + QStringLiteral("_cell"));
            auto* h = new QHBoxLayout(box);
            const int pad = column.group != nullptr ? 3 : 0;  // inside a column band
            h->setContentsMargins(0, pad, 0, pad);
            h->setSpacing(0);
            auto* edit = new TValueEdit(box);
            edit->setObjectName(QString::fromLatin1(cell.name));
            // Up to "4,096" must fit in the 16-bit columns.
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
    }
    return nullptr;
}

QScrollArea* TMDIChild::buildPage(const PageSpec& spec) {
    auto* area = new QScrollArea;
    area->setObjectName(QString::fromLatin1(spec.name));
    area->setFrameShape(QFrame::NoFrame);
    area->setWidgetResizable(true);
    area->setFocusPolicy(Qt::NoFocus);
    area->setBackgroundRole(QPalette::Base);
    {
        QPalette pal = area->palette();
        pal.setColor(QPalette::Base, Qt::white);
        pal.setColor(QPalette::Window, Qt::white);
        area->setPalette(pal);
    }

    auto* content = new QWidget;
    content->setObjectName(QString::fromLatin1(spec.name) + QStringLiteral("_content"));
    content->setAutoFillBackground(true);
    auto* v = new QVBoxLayout(content);
    v->setContentsMargins(18, 14, 18, 14);
    v->setSpacing(14);

    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(16);
    grid->setVerticalSpacing(6);

    const bool hasPointColumns = spec.pointsHeader != nullptr;
    const int firstCellColumn = hasPointColumns ? 4 : 1;
    const int padRight = firstCellColumn + static_cast<int>(spec.columns.size());
    const bool hasScale = spec.scale[0] != nullptr;
    const int headerRow = 0;
    const int scaleRow = 1;
    const int padTop = hasScale ? 2 : 1;
    const int firstPointRow = padTop + 1;
    const int padBottom = firstPointRow + static_cast<int>(spec.rows.size());

    // The frame around the point rows goes in first, so the rows sit above it.
    QGroupBox* pointGroup = nullptr;
    if (spec.pointGroup != nullptr) {
        pointGroup = new QGroupBox(content);
        pointGroup->setObjectName(QString::fromLatin1(spec.pointGroup));
        pointGroup->setStyleSheet(QStringLiteral("QGroupBox#%1 { border: 1px solid #c3ccd6; border-radius: 4px; "
                                                 "margin: 0px; padding: 0px; }")
                                      .arg(pointGroup->objectName()));
        grid->addWidget(pointGroup, padTop, 0, padBottom - padTop + 1, padRight + 1);
        pressTargets_.insert(pointGroup, spec.focusPage);
    }
    grid->setColumnMinimumWidth(0, 4);
    grid->setColumnMinimumWidth(padRight, 4);
    grid->setRowMinimumHeight(padTop, 2);
    grid->setRowMinimumHeight(padBottom, 2);

    // FSK column bands, above the point frame and below the cells.
    for (std::size_t c = 0; c < spec.columns.size(); ++c) {
        const ColumnSpec& column = spec.columns[c];
        if (column.group == nullptr) continue;
        auto* band = new QGroupBox(content);
        band->setObjectName(QString::fromLatin1(column.group));
        band->setStyleSheet(QStringLiteral("QGroupBox#%1 { background-color: #eef5fc; border: 1px solid #d3e1ef; "
                                           "border-radius: 3px; margin: 0px; padding: 0px; }")
                                .arg(band->objectName()));
        grid->addWidget(band, firstPointRow, firstCellColumn + static_cast<int>(c),
                        static_cast<int>(spec.rows.size()), 1);
        // Room around the cells, so the band shows as a column.
        grid->setColumnMinimumWidth(firstCellColumn + static_cast<int>(c), column.kind == CellKind::WordEdit ? 92 : 80);
    }

    auto header = [&](const char* name, const char* design, int column, int span) {
        auto* label = new QLabel(QString::fromUtf8(design != nullptr ? design : ""), content);
        label->setObjectName(QString::fromLatin1(name));
        label->setAlignment(Qt::AlignCenter);
        label->setWordWrap(false);
        QFont f = label->font();
        f.setBold(true);
        label->setFont(f);
        grid->addWidget(label, headerRow, column, 1, span, Qt::AlignCenter);
        return label;
    };
    if (hasPointColumns) {
        header(spec.pointsHeader, "频点", 1, 1)->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        grid->itemAtPosition(headerRow, 1)->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        header(spec.rxHeader, "接收频率", 2, 1);
        header(spec.txHeader, "发射频率", 3, 1);
    }
    for (std::size_t c = 0; c < spec.columns.size(); ++c) {
        const ColumnSpec& column = spec.columns[c];
        if (column.header == nullptr) continue;
        int span = 1;
        while (c + static_cast<std::size_t>(span) < spec.columns.size() &&
               spec.columns[c + static_cast<std::size_t>(span)].header == nullptr) {
            ++span;
        }
        header(column.header, column.designText, firstCellColumn + static_cast<int>(c), span);
    }

    // Scale captions above the bar column.
    if (hasScale) {
        for (std::size_t c = 0; c < spec.columns.size(); ++c) {
            if (spec.columns[c].kind != CellKind::ScrollBar) continue;
            auto* scale = new QWidget(content);
            auto* h = new QHBoxLayout(scale);
            h->setContentsMargins(0, 0, 0, 0);
            for (int i = 0; i < 3; ++i) {
                auto* label = new QLabel(QString::fromLatin1(kScaleTexts[static_cast<std::size_t>(i)]), scale);
                label->setObjectName(QString::fromLatin1(spec.scale[static_cast<std::size_t>(i)]));
                QPalette pal = label->palette();
                pal.setColor(QPalette::WindowText, QColor(90, 90, 90));
                label->setPalette(pal);
                h->addWidget(label, 0, i == 0 ? Qt::AlignLeft : i == 1 ? Qt::AlignHCenter : Qt::AlignRight);
                if (i < 2) h->addStretch(1);
            }
            grid->addWidget(scale, scaleRow, firstCellColumn + static_cast<int>(c));
        }
    }

    // Point rows.
    for (std::size_t r = 0; r < spec.rows.size(); ++r) {
        const RowSpec& row = spec.rows[r];
        const int gridRow = firstPointRow + static_cast<int>(r);
        QList<QWidget*> widgets;
        if (row.button != nullptr) {
            auto* button = new TPointButton(content);
            button->setObjectName(QString::fromLatin1(row.button));
            button->setText(QStringLiteral("频点%1").arg(row.point));
            grid->addWidget(button, gridRow, 1, Qt::AlignLeft | Qt::AlignVCenter);
            widgets << button;
            connect(button, &TPointButton::doubleClicked, this, [this, button] { PointButtonDblClick(button); });
            connect(button, &QAbstractButton::clicked, this, [this, button] { PointButtonClick(button); });
        }
        if (row.rx != nullptr) {
            auto* rx = new QLabel(QString::fromLatin1(kFrequencyDesignText), content);
            rx->setObjectName(QString::fromLatin1(row.rx));
            rx->setAlignment(Qt::AlignCenter);
            grid->addWidget(rx, gridRow, 2);
            widgets << rx;
        }
        if (row.tx != nullptr) {
            auto* tx = new QLabel(QString::fromLatin1(kFrequencyDesignText), content);
            tx->setObjectName(QString::fromLatin1(row.tx));
            tx->setAlignment(Qt::AlignCenter);
            grid->addWidget(tx, gridRow, 3);
            widgets << tx;
        }
        for (std::size_t c = 0; c < row.cells.size() && c < spec.columns.size(); ++c) {
            QWidget* cell = buildCell(content, spec.columns[c], row.cells[c], widgets);
            if (cell == nullptr) continue;
            const bool bar = spec.columns[c].kind == CellKind::ScrollBar;
            grid->addWidget(cell, gridRow, firstCellColumn + static_cast<int>(c),
                            bar ? Qt::Alignment() : Qt::AlignCenter);
        }
        if (spec.page == Page::ErrorRate) {
            // The results are empty until a test has run.
            for (const CellSpec& cell : row.cells) {
                if (auto* label = content->findChild<QLabel*>(QString::fromLatin1(cell.name))) label->clear();
            }
        }
        if (row.button != nullptr) rowWidgets_.insert(QString::fromLatin1(row.button), widgets);
    }
    // Results and readings get room for their widest values ("4294967295",
    // "100.00%"), so the columns do not jump while a test runs.
    if (spec.page == Page::ErrorRate) {
        for (std::size_t c = 0; c < spec.columns.size(); ++c) grid->setColumnMinimumWidth(firstCellColumn + static_cast<int>(c), 90);
    }
    if (spec.page == Page::Mandown) {
        if (auto* value = content->findChild<QLabel*>(QString::fromLatin1(spec.rows.front().cells.front().name))) {
            QFont f = value->font();
            f.setPointSize(16);
            f.setBold(true);
            value->setFont(f);
            value->setMinimumWidth(96);
        }
    }
    // Rows keep their natural height; the scroll-bar column takes extra width.
    for (std::size_t c = 0; c < spec.columns.size(); ++c) {
        if (spec.columns[c].kind == CellKind::ScrollBar) grid->setColumnStretch(firstCellColumn + static_cast<int>(c), 1);
    }

    auto* tableRow = new QHBoxLayout;
    tableRow->setSpacing(18);
    tableRow->addLayout(grid);
    if (spec.image != nullptr) {
        auto* image = new QLabel(content);
        image->setObjectName(QString::fromLatin1(spec.image));
        image->setPixmap(MandownPicture());
        image->setFixedSize(image->pixmap().size());
        tableRow->addWidget(image, 0, Qt::AlignTop);
    }
    const bool wideTable = hasScale;
    if (!wideTable) tableRow->addStretch(1);
    v->addLayout(tableRow);

    // Keying and save buttons.
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(12);
    buttons->setContentsMargins(4, 0, 0, 0);
    auto* keying = new QPushButton(QString::fromUtf8(spec.keyingDesign), content);
    keying->setObjectName(QString::fromLatin1(spec.keyingButton));
    auto* save = new QPushButton(QString::fromUtf8(kSaveDesignText), content);
    save->setObjectName(QString::fromLatin1(spec.saveButton));
    for (QPushButton* b : {keying, save}) {
        b->setMinimumWidth(110);
        b->setMinimumHeight(28);
        b->setEnabled(false);
        b->setAutoDefault(false);
        buttons->addWidget(b);
    }
    save->setVisible(spec.saveVisible);
    buttons->addStretch(1);
    v->addLayout(buttons);
    v->addStretch(1);
    const Page page = spec.page;
    connect(keying, &QPushButton::clicked, this, [this, page] { KeyingButtonClick(page); });
    connect(save, &QPushButton::clicked, this, [this, page] { SaveButtonClick(page); });

    area->setWidget(content);
    pressTargets_.insert(content, spec.focusPage);
    pressTargets_.insert(area->viewport(), spec.focusPage);
    content->installEventFilter(this);
    area->viewport()->installEventFilter(this);
    if (pointGroup != nullptr) pointGroup->installEventFilter(this);

    registerControl(area);
    for (QWidget* w : content->findChildren<QWidget*>()) registerControl(w);
    return area;
}

void TMDIChild::FormCreate() {
    // The selected node stays marked when the tree loses the focus (the
    // delegate draws it grey then).
    pageList.clear();
    for (const PageSpec& spec : PageSpecs()) pageList.append(control<QScrollArea>(QString::fromLatin1(spec.name)));
    // Scroll bars ScrollBar1 and ScrollBar2 and the CTCSS buttons start enabled.
    for (const char* name : {"ScrollBar1", "ScrollBar2", "Button9", "Button10"}) {
        if (QWidget* w = control(QString::fromLatin1(name))) w->setEnabled(true);
    }
    // Points 6 to 8 exist only on eight-point radios in band 1; a selection
    // that needs them shows them.
    setExtraPowerRowsVisible(false);
}

void TMDIChild::PointButtonDblClick(TPointButton* button) {
    if (button == nullptr) return;
    const auto place = FindPointButton(button->objectName().toStdString());
    if (place) PointDoubleClicked(place->page, place->point);
}

QScrollArea* TMDIChild::page(Page p) const {
    const int n = static_cast<int>(p);
    return n >= 0 && n < pageList.size() ? pageList.at(n) : nullptr;
}

QScrollArea* TMDIChild::frontPage() const { return qobject_cast<QScrollArea*>(pageStack_->currentWidget()); }

void TMDIChild::ShowPage(int number) {
    if (number < 0 || number >= pageList.size()) return;
    QScrollArea* area = pageList.at(number);
    area->show();
    pageStack_->setCurrentWidget(area);
    area->raise();
    area->verticalScrollBar()->setValue(0);
    coverPages();
}

void TMDIChild::ShowNoPage() {
    NoPage->setText(T("Safety", "Z0001"));
    pageStack_->setCurrentWidget(NoPage);
    NoPage->raise();
    coverPages();
}

namespace {

// The focus policy a control had before its page was covered.
const char* const kCoveredFocusPolicy = "varnelCoveredFocusPolicy";

}  // namespace

void TMDIChild::coverPages() {
    // Every page stays on screen under the one in front, so the keyboard
    // (Tab, typing, Enter) could otherwise reach a covered page's controls
    // and act for an item the operator does not see. The controls of a
    // covered page take no focus from the keyboard and get no keys; their
    // own enabled state (the page locks) is left as it is.
    QWidget* front = pageStack_->currentWidget();
    for (int i = 0; i < pageStack_->count(); ++i) {
        QWidget* page = pageStack_->widget(i);
        const bool covered = page != front;
        for (QWidget* w : page->findChildren<QWidget*>()) {
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

bool TMDIChild::onCoveredPage(const QObject* object) const {
    // True for a control inside a page that is not in front (not the page
    // itself, which only scrolls).
    const QWidget* front = pageStack_->currentWidget();
    for (const QObject* o = object; o != nullptr; o = o->parent()) {
        const QObject* parent = o->parent();
        if (parent == nullptr) return false;
        if (parent == pageStack_->parentWidget()) {
            const auto* page = qobject_cast<const QWidget*>(o);
            return page != nullptr && page != front && o != object && pageStack_->indexOf(page) >= 0;
        }
    }
    return false;
}

void TMDIChild::ShowBand() {
    const QString name = band == 1 ? QStringLiteral("136-174 MHz") : QStringLiteral("400-470 MHz");
    BandLabel->setText(T("Safety", "K0001").replace(QStringLiteral("%1"), name));
}

void TMDIChild::setDocumentName(const QString& name) {
    documentName_ = name;
    refreshModifiedMarker();
}

void TMDIChild::refreshModifiedMarker() {
    const QString title = documentName_ + (ImageModified(tunerImage) ? QStringLiteral("*") : QString());
    if (windowTitle() != title) setWindowTitle(title);
}

void TMDIChild::setExtraPowerRowsVisible(bool visible) {
    for (const RowSpec& row : PageSpecOf(Page::Power).rows) {
        if (!row.extraPoint) continue;
        for (QWidget* w : rowWidgets_.value(QString::fromLatin1(row.button))) w->setVisible(visible);
    }
}

void TMDIChild::RefreshFrequencyLabels(RefreshScope scope) {
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

// ---- show and close ---------------------------------------------------------

void TMDIChild::ApplyLanguage() {
    for (const KeyedControl& keyed : PageLanguageKeys()) {
        SetCaption(control(QString::fromLatin1(keyed.name)), T(keyed.section, keyed.key));
    }
    C1->setText(T("ChildForm", "C0022"));
    S1->setText(T("ChildForm", "C0023"));
    setStatusTip(T("MainForm", "S008"));
}

void TMDIChild::FormShow() {
    if (!maximisedOnce_) {
        maximisedOnce_ = true;
        if (auto* sub = qobject_cast<QMdiSubWindow*>(parentWidget())) sub->showMaximized();
    }
    QFont f = font();
    f.setPointSize(languageIndex == kLanguageChinese ? 10 : 8);
    setFont(f);
    if (auto* bar = control<QScrollBar>(QStringLiteral("ScrollBar1"))) bar->setProperty("pageSize", 10);
    band = 0;
    BuildItemTree();
    ApplyLanguage();
    TreeView1->expandAll();
    emit documentShown();
    ShowBand();
    ListBox1->clear();
    if (feedback_ != nullptr) feedback_->Retranslate();
    if (const auto bytes = ItemBytes(0)) {
        control<QLabel>(QStringLiteral("Label36"))
            ->setText(QString::number(tunerImage[static_cast<std::size_t>(bytes->offset)]));
    }
}

bool TMDIChild::FormCloseQuery() {
    // Unsaved changes first: Save, Discard or Cancel.
    if (ImageModified(tunerImage) && saveHandler_) {
        const ui::MessageResult keep = ui::Dialogs().message(this, ui::MessageKind::Question, QStringLiteral("Varnel"),
                                                             T("Safety", "M0001"), ui::MessageButtons::SaveDiscardCancel);
        if (keep == ui::MessageResult::Cancel) return false;
        if (keep == ui::MessageResult::Ok && !saveHandler_()) return false;
    }
    if (!inTunerMode) return true;
    const ui::MessageResult answer =
        ui::Dialogs().message(this, ui::MessageKind::Question, QStringLiteral("Varnel"), T("MessageBox", "M011"),
                              ui::MessageButtons::OkCancel);
    if (answer != ui::MessageResult::Ok) return false;
    // The radio leaves tuner mode on its own; its reply is not awaited.
    SendExitTunerMode();
    ui::Dialogs().pause(500);
    inTunerMode = false;
    emit tunerModeLeft();
    return true;
}

void TMDIChild::FormClose() {
    closing_ = true;
    emit documentClosed();
}

void TMDIChild::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (splittersPlaced_) return;
    // The tree keeps its design width and the log its design height; the
    // pages take the rest, also when the window grows.
    splittersPlaced_ = true;
    const int width = std::max(this->width(), kTreeWidth + 2 * kSplitterWidth + 100);
    Splitter1->setSizes({kTreeWidth, width - kTreeWidth - kSplitterWidth});
    const int height = std::max(this->height(), kPanelHeight + kLogHeight + kSplitterWidth + 100);
    Splitter2->setSizes({height - kPanelHeight - kLogHeight - kSplitterWidth, kLogHeight});
}

void TMDIChild::closeEvent(QCloseEvent* event) {
    if (!FormCloseQuery()) {
        event->ignore();
        return;
    }
    FormClose();
    event->accept();
}

// ---- page locks -------------------------------------------------------------

namespace {

void DisableCells(TMDIChild& window, const PageSpec& spec, int lastPoint) {
    for (const RowSpec& row : spec.rows) {
        if (row.point > lastPoint) continue;
        for (const CellSpec& cell : row.cells) {
            QWidget* w = window.control(QString::fromLatin1(cell.name));
            if (w != nullptr && qobject_cast<QLabel*>(w) == nullptr) w->setEnabled(false);
            if (cell.upDown != nullptr) {
                if (QWidget* u = window.control(QString::fromLatin1(cell.upDown))) u->setEnabled(false);
            }
        }
    }
}

void DisableButtons(TMDIChild& window, std::initializer_list<const char*> names) {
    for (const char* name : names) {
        if (QWidget* w = window.control(QString::fromLatin1(name))) w->setEnabled(false);
    }
}

}  // namespace

void TMDIChild::lockPowerPage() {
    if (radioInfo.modelVariant() == 1) {
        DisableCells(*this, PageSpecOf(Page::PowerMobile), 5);
        DisableButtons(*this, {"Button11", "Button12"});
    } else {
        DisableCells(*this, PageSpecOf(Page::Power), 5);
        DisableButtons(*this, {"Button1", "Button2"});
    }
}

void TMDIChild::lockCtcssPage() {
    DisableCells(*this, PageSpecOf(Page::Ctcss), 8);
    DisableButtons(*this, {"Button9", "Button10"});
}

void TMDIChild::lockStabilityPage() {
    DisableCells(*this, PageSpecOf(Page::FerqStability), 8);
    DisableButtons(*this, {"Button5", "Button6"});
}

void TMDIChild::lockMeasureButtons() {
    DisableButtons(*this, {"Button3", "Button4", "Button7", "Button8", "Button13", "Button14"});
}

void TMDIChild::stopMeasuring() {
    for (QTimer* timer : {MandownTimer, CheckTimer, ErrorRateTimer}) timer->stop();
}

void TMDIChild::radioLeftTunerMode() {
    CheckTimer->stop();
    lockCtcssPage();
    lockPowerPage();
    lockMeasureButtons();
}

void TMDIChild::imageEdited() {
    TreeView1DblClick();
    refreshModifiedMarker();
}

void TMDIChild::factoryImageRead(const QString& note) {
    // The chart draws the factory copy beside the radio's values.
    if (feedback_ != nullptr) feedback_->FactoryRead();
    ReloadPageValues();
    LogNote(note);
}

void TMDIChild::lockAdjustControls() {
    lockPowerPage();
    lockCtcssPage();
    lockStabilityPage();
}

// ---- mouse handling of the pages ----------------------------------------------

void TMDIChild::pressOnPage(Page target) {
    // A press gives the keyboard focus to a fixed page (sbox_vox, sbox_power
    // or sbox_ctcss), whichever page received it.
    if (QScrollArea* area = page(target)) area->setFocus(Qt::MouseFocusReason);
}

void TMDIChild::wheelOnPage(QScrollArea* area, QWheelEvent* event) {
    // Only a page holding the keyboard focus scrolls, one line each way.
    if (area == nullptr || !area->hasFocus()) return;
    const bool down = event->angleDelta().y() < 0;
    const auto action = down ? QAbstractSlider::SliderSingleStepAdd : QAbstractSlider::SliderSingleStepSub;
    area->verticalScrollBar()->triggerAction(action);
    area->horizontalScrollBar()->triggerAction(action);
}

bool TMDIChild::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonPress) {
        const auto it = pressTargets_.constFind(watched);
        if (it != pressTargets_.constEnd()) pressOnPage(it.value());
    } else if (event->type() == QEvent::Wheel) {
        if (pressTargets_.contains(watched)) {
            QWidget* w = qobject_cast<QWidget*>(watched);
            QScrollArea* area = nullptr;
            while (w != nullptr && area == nullptr) {
                area = qobject_cast<QScrollArea*>(w);
                w = w->parentWidget();
            }
            wheelOnPage(area, static_cast<QWheelEvent*>(event));
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
