// Creation, layout, show and close of the tuning window.
#include "tuning/TMDIChild.h"

#include <algorithm>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMdiSubWindow>
#include <QMenu>
#include <QScrollArea>
#include <QScrollBar>
#include <QSplitter>
#include <QTimer>
#include <QTreeWidgetItemIterator>
#include <QVBoxLayout>

#include "ui/DialogSeam.h"
#include "ui/Polling.h"
#include "data/Global.h"
#include "ui/Selection.h"
#include "data/Safety.h"
#include "lang/Loadlanguage.h"
#include "protocol/Sendcmd.h"
#include "tuning/TuningFeedback.h"
#include "tuning/ItemTree.h"
#include "tuning/ReplyPollers.h"
#include "tuning/TuningLog.h"
#include "tuning/TuningPages.h"
#include "tuning/ValueControls.h"
#include "tuning/PointChart.h"
#include "protocol/TunerMode.h"

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

const QColor kPanelColour(0, 170, 240);

QString T(const char* section, const char* key) { return QString::fromStdString(Text(section, key)); }

void SetCaption(QWidget* widget, const QString& text) {
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        label->setText(text);
    } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        button->setText(text);
    }
}

}  // namespace

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

    checkTimer_ = ui::NamedTimer(this, "CheckTimer", 2000, &TMDIChild::CheckTimerTimer);
    pollers_ = new ReplyPollers(this);
    timeOutTimer_ = pollers_->liveSetTimer();
    readTimer_ = ui::NamedTimer(this, "ReadTimer", 1000, &TMDIChild::ReadTimerTimer);
    connetTimer_ = ui::NamedTimer(this, "ConnetTimer", 10, &TMDIChild::ConnetTimerTimer);
    saveTimer_ = pollers_->saveTimer();
    saveItemTimer2_ = pollers_->wideSaveTimer();
    errorRateTimer_ = ui::NamedTimer(this, "ErrorRateTimer", 1000, &TMDIChild::ErrorRateTimerTimer);
    mandownTimer_ = ui::NamedTimer(this, "MandownTimer", 1000, &TMDIChild::MandownTimerTimer);

    buildLayout();
    FormCreate();
    values_ = new ValueControls(*pages_, this);
    ConnectPollers();
    installSenderHooks();
    feedback_ = new TuningFeedback({this, scrollBox1_, splitter2_, listBox1_, treeView1_}, this);
    connect(feedback_, &TuningFeedback::treeActivated, this, &TMDIChild::TreeView1DblClick);
    connect(feedback_, &TuningFeedback::pointActivated, this, &TMDIChild::PointButtonDblClick);
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
            case TuningTimer::TimeOut:
                // The live-set just sent waits for its acknowledgement.
                pollers_->liveSetSent();
                break;
            // A save's record is kept for its re-send (the frame is still
            // in lastSentFrame when the sender enables the poller).
            case TuningTimer::Save: pollers_->saveSent(false); break;
            case TuningTimer::SaveItem2: pollers_->saveSent(true); break;
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

namespace {

QSplitter* NewSplitter(Qt::Orientation orientation, const char* name, QWidget* parent) {
    auto* splitter = new QSplitter(orientation, parent);
    splitter->setObjectName(QString::fromLatin1(name));
    splitter->setHandleWidth(kSplitterWidth);
    splitter->setChildrenCollapsible(false);
    return splitter;
}

// The blue bar above the pages with the selected item's name.
QLabel* NewItemPanel(QWidget* parent) {
    auto* panel = new QLabel(parent);
    panel->setObjectName(QStringLiteral("Panel1"));
    panel->setFixedHeight(kPanelHeight);
    panel->setAlignment(Qt::AlignCenter);
    panel->setAutoFillBackground(true);
    QPalette pal = panel->palette();
    pal.setColor(QPalette::Window, kPanelColour);
    pal.setColor(QPalette::WindowText, Qt::white);
    panel->setPalette(pal);
    QFont f = panel->font();
    f.setPixelSize(16);
    panel->setFont(f);
    return panel;
}

}  // namespace

// The tree on the left; on the right the item panel, the band, and the pages
// above the log.
void TMDIChild::buildLayout() {
    auto* outer = new QHBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    splitter1_ = NewSplitter(Qt::Horizontal, "Splitter1", this);
    outer->addWidget(splitter1_);

    treeView1_ = new ItemTree(splitter1_);
    connect(treeView1_, &TTreeView::dblClick, this, &TMDIChild::TreeView1DblClick);

    scrollBox1_ = new QWidget(splitter1_);
    scrollBox1_->setObjectName(QStringLiteral("ScrollBox1"));
    auto* right = new QVBoxLayout(scrollBox1_);
    right->setContentsMargins(0, 0, 0, 0);
    right->setSpacing(0);
    panel1_ = NewItemPanel(scrollBox1_);
    right->addWidget(panel1_);
    bandLabel_ = new QLabel(scrollBox1_);
    bandLabel_->setObjectName(QStringLiteral("BandLabel"));
    bandLabel_->setAlignment(Qt::AlignCenter);
    right->addWidget(bandLabel_);
    splitter2_ = NewSplitter(Qt::Vertical, "Splitter2", scrollBox1_);
    right->addWidget(splitter2_, 1);
    buildPagesAndLog();

    splitter1_->setStretchFactor(0, 0);
    splitter1_->setStretchFactor(1, 1);
    splitter2_->setStretchFactor(0, 1);
    splitter2_->setStretchFactor(1, 0);
    for (QWidget* w : {static_cast<QWidget*>(treeView1_), static_cast<QWidget*>(splitter1_), scrollBox1_,
                       static_cast<QWidget*>(panel1_), static_cast<QWidget*>(bandLabel_),
                       static_cast<QWidget*>(splitter2_), static_cast<QWidget*>(listBox1_),
                       static_cast<QWidget*>(popupMenu1_)}) {
        registerControl(w);
    }
}

void TMDIChild::buildPagesAndLog() {
    pages_ = new TuningPages(splitter2_);
    noPage_ = pages_->neutralPage();
    connect(pages_, &TuningPages::pointDoubleClicked, this, &TMDIChild::PointButtonDblClick);
    connect(pages_, &TuningPages::pointClicked, this, &TMDIChild::PointButtonClick);
    connect(pages_, &TuningPages::keyingClicked, this, &TMDIChild::KeyingButtonClick);
    connect(pages_, &TuningPages::saveClicked, this, &TMDIChild::SaveButtonClick);

    log_ = new TuningLog(splitter2_);
    listBox1_ = log_;
    popupMenu1_ = log_->menu();
    // Every live change and every selection goes out as a frame: the chart
    // follows at once.
    connect(log_, &TuningLog::frameLogged, this, [this] {
        if (feedback_ != nullptr && feedback_->chart() != nullptr) feedback_->chart()->refresh();
    });
}

void TMDIChild::FormCreate() {
    // The selected node stays marked when the tree loses the focus (the
    // delegate draws it grey then).
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

QWidget* TMDIChild::control(const QString& name) const {
    if (QWidget* own = controls_.value(name, nullptr)) return own;
    return pages_ != nullptr ? pages_->control(name) : nullptr;
}

QScrollArea* TMDIChild::page(Page p) const { return pages_->page(p); }

const QList<QScrollArea*>& TMDIChild::pageList() const { return pages_->pages(); }

QAction* TMDIChild::C1() const { return log_->clearAction(); }

QAction* TMDIChild::N1() const { return log_->separator(); }

QAction* TMDIChild::S1() const { return log_->saveAction(); }

QScrollArea* TMDIChild::frontPage() const { return pages_->front(); }

void TMDIChild::ShowPage(int number) { pages_->showPage(number); }

void TMDIChild::ShowNoPage() { pages_->showNeutralPage(T("Safety", "Z0001")); }

void TMDIChild::BuildItemTree() {
    checkTimer_->stop();
    RefreshFrequencyLabels(RefreshScope::Build);
    const TuningItem* opening = treeView1_->rebuild();
    // The window opens on the receiver's first item (the CTCSS item), locked
    // until a point is chosen.
    currentItem = opening->code[0];
    ShowPage(static_cast<int>(Page::Ctcss));
    LoadCtcssPage();
    pages_->lockCtcssPage();
    panel1_->setText(QString::fromStdString(Text("TreeView", opening->treeKey)));
}

void TMDIChild::ShowBand() {
    const QString name = band == 1 ? QStringLiteral("136-174 MHz") : QStringLiteral("400-470 MHz");
    bandLabel_->setText(T("Safety", "K0001").replace(QStringLiteral("%1"), name));
}

// ---- value controls -----------------------------------------------------------

void TMDIChild::ValueScrollBarEndScroll(QScrollBar* bar, int position) { values_->barScrolled(bar, position); }

// ---- communication log --------------------------------------------------------

void TMDIChild::LogFrame(const std::uint8_t* bytes, std::uint16_t length, int direction, const QDateTime& when) {
    log_->logFrame(bytes, length, direction, when);
}

void TMDIChild::LogTransferFailure(const TransferOutcome& outcome) { log_->logTransferFailure(outcome); }

void TMDIChild::LogNote(const QString& text, const QDateTime& when) { log_->logNote(text, when); }

void TMDIChild::S1Click() { log_->saveAsked(); }

void TMDIChild::setDocumentName(const QString& name) {
    documentName_ = name;
    refreshModifiedMarker();
}

void TMDIChild::refreshModifiedMarker() {
    const QString title = documentName_ + (ImageModified(tunerImage) ? QStringLiteral("*") : QString());
    if (windowTitle() != title) setWindowTitle(title);
}

void TMDIChild::setExtraPowerRowsVisible(bool visible) { pages_->setExtraPowerRowsVisible(visible); }

void TMDIChild::RefreshFrequencyLabels(RefreshScope scope) { pages_->refreshFrequencyLabels(scope); }

// ---- show and close ---------------------------------------------------------

void TMDIChild::ApplyLanguage() {
    for (const KeyedControl& keyed : PageLanguageKeys()) {
        SetCaption(control(QString::fromLatin1(keyed.name)), T(keyed.section, keyed.key));
    }
    // The frequency headers take two lines ("RX Frequency" over "(MHz)"),
    // so that their columns are no wider than the frequencies.
    for (int number = static_cast<int>(Page::Vox); number <= static_cast<int>(Page::Fsk); ++number) {
        const PageSpec& spec = PageSpecOf(static_cast<Page>(number));
        for (const char* name : {spec.rxHeader, spec.txHeader}) {
            if (name == nullptr) continue;
            if (auto* label = control<QLabel>(QString::fromLatin1(name))) {
                QString text = label->text();
                const qsizetype unit = text.lastIndexOf(QStringLiteral(" ("));
                if (unit > 0) label->setText(text.replace(unit, 1, QLatin1Char('\n')));
            }
        }
    }
    log_->retranslate();
    for (QWidget* scale : findChildren<QWidget*>()) {
        if (scale->property("scaleCaptions").toBool()) scale->setToolTip(T("Pages", "S0001"));
    }
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
    if (shownOnce_) {
        // Again after a language switch: every caption and the tree follow
        // the language; the log, the band, the item, its point and the
        // keying stay as they are, and nothing is sent.
        retranslate();
        emit documentShown();
        return;
    }
    shownOnce_ = true;
    band = 0;
    BuildItemTree();
    ApplyLanguage();
    treeView1_->expandAll();
    emit documentShown();
    ShowBand();
    listBox1_->clear();
    if (feedback_ != nullptr) feedback_->retranslate();
    if (const auto bytes = ItemBytes(0)) {
        control<QLabel>(QStringLiteral("Label36"))
            ->setText(QString::number(tunerImage[static_cast<std::size_t>(bytes->offset)]));
    }
}

void TMDIChild::retranslate() {
    QTreeWidgetItem* before = treeView1_->currentItem();
    const int key = before != nullptr ? before->data(0, ItemTree::kStateIndexRole).toInt() : -1;
    const QString panelSuffix = before != nullptr && panel1_->text().startsWith(before->text(0))
                                    ? panel1_->text().mid(before->text(0).size())
                                    : QString();
    treeView1_->rebuild();
    treeView1_->expandAll();
    if (key >= 0) {
        for (QTreeWidgetItemIterator it(treeView1_); *it != nullptr; ++it) {
            if ((*it)->data(0, ItemTree::kStateIndexRole).toInt() != key) continue;
            treeView1_->clearSelection();
            treeView1_->setCurrentItem(*it);
            (*it)->setSelected(true);
            break;
        }
    }
    ApplyLanguage();
    // The captions that depend on the item and on the keying.
    if (QTreeWidgetItem* node = treeView1_->currentItem()) {
        panel1_->setText(node->text(0) + (panelSuffix.isEmpty() ? QString() : panelSuffix));
        if (const TuningItem* item = FindItem(currentItem); item != nullptr && item->layout == ItemLayout::Shared) {
            panel1_->setText(node->text(0) + QStringLiteral("  \u2013  ") + T("Pages", "R0001"));
        }
    }
    const TuningItem* item = FindItem(currentItem);
    Page page = item != nullptr ? item->page : Page::None;
    if (item != nullptr && item->loader == Loader::PowerByVariant && radioInfo.modelVariant() == 1) page = Page::PowerMobile;
    if (page != Page::None && page != Page::Mandown && page != Page::ErrorRate && frontPage() == this->page(page)) {
        const PageSpec& spec = PageSpecOf(page);
        const bool keyed = txKeyed || rxKeyed;
        const char* key = keyed ? (txKeyed ? "C0014" : "C0015") : KeyingKey(item->keying);
        if (spec.keyingButton != nullptr && key != nullptr) SetKeyingCaption(spec.keyingButton, key);
    }
    ShowPageHint(FindItem(currentItem));
    ReloadPageValues();
    ShowBand();
    log_->retranslate();
    if (feedback_ != nullptr) feedback_->retranslate();
}

bool TMDIChild::FormCloseQuery() {
    // Live values the radio would drop on leaving tuner mode come first.
    bool leaveAnswered = false;
    if (inTunerMode) {
        if (savingLive_) return false;
        leaveAnswered = !unsavedLiveChanges().isEmpty();
        std::function<void()> retry = closeRetry_;
        if (!retry) retry = [this] { closeTuningWindowAgain(); };
        if (!confirmLeavingTunerMode(std::move(retry))) return false;
    }
    // Unsaved changes of the image: Save, Discard or Cancel.
    if (ImageModified(tunerImage) && saveHandler_) {
        const ui::MessageResult keep = ui::Dialogs().message(this, ui::MessageKind::Question, QStringLiteral("Varnel"),
                                                             T("Safety", "M0001"), ui::MessageButtons::SaveDiscardCancel);
        if (keep == ui::MessageResult::Cancel) return false;
        if (keep == ui::MessageResult::Ok && !saveHandler_()) return false;
    }
    if (!inTunerMode) return true;
    // Leaving without saving was already agreed to.
    if (!leaveAnswered) {
        const ui::MessageResult answer =
            ui::Dialogs().message(this, ui::MessageKind::Question, QStringLiteral("Varnel"), T("MessageBox", "M011"),
                                  ui::MessageButtons::OkCancel);
        if (answer != ui::MessageResult::Ok) return false;
    }
    // The radio leaves tuner mode on its own; its reply is not awaited.
    SendExitTunerMode();
    ui::Dialogs().pause(500);
    LeftTunerMode();
    HeldValues().forget();
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
    splitter1_->setSizes({kTreeWidth, width - kTreeWidth - kSplitterWidth});
    const int height = std::max(this->height(), kPanelHeight + kLogHeight + kSplitterWidth + 100);
    splitter2_->setSizes({height - kPanelHeight - kLogHeight - kSplitterWidth, kLogHeight});
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

void TMDIChild::stopMeasuring() {
    for (QTimer* timer : {mandownTimer_, checkTimer_, errorRateTimer_}) timer->stop();
}

void TMDIChild::radioLeftTunerMode() {
    checkTimer_->stop();
    HeldValues().forget();
    pages_->lockCtcssPage();
    pages_->lockPowerPage();
    pages_->lockMeasureButtons();
}

void TMDIChild::imageEdited() {
    // The grid editor sends nothing to the radio: the page shows the new
    // image, the item, point and keying stay as the operator left them, and
    // the value the next keying frame carries is the one on screen. A new
    // band takes effect at the next selection.
    ReloadPageValues();
    if (BandOfCode(currentItem) == band) RefreshFrequencyLabels(RefreshScope::Selection);
    ReloadCurrentValue();
    LogNote(T("Pages", "N0001"));
    refreshModifiedMarker();
}

void TMDIChild::factoryImageRead(const QString& note) {
    // The chart draws the factory copy beside the radio's values.
    if (feedback_ != nullptr) feedback_->factoryRead();
    ReloadPageValues();
    LogNote(note);
}
