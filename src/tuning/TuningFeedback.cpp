#include "tuning/TuningFeedback.h"
#include "tuning/TuningPages.h"

#include <QApplication>
#include <QDateTime>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QScrollArea>
#include <QSplitter>
#include <QStyledItemDelegate>
#include <QVBoxLayout>
#include <algorithm>

#include "data/Global.h"
#include "tuning/PointChart.h"
#include "tuning/TuningControls.h"
#include "tuning/TuningLog.h"
#include "ui/FeedbackTexts.h"

namespace varnel::tuning {

// A ring drawn around the control that has the keyboard focus, so that the
// operator always sees where Enter, Space or a typed value will go.
class FocusRing : public QWidget {
public:
    explicit FocusRing(QWidget* parent) : QWidget(parent) {
        setObjectName(QStringLiteral("FocusRing"));
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
        setFocusPolicy(Qt::NoFocus);
        hide();
    }
    void follow(QWidget* target) {
        if (target == nullptr || target->parentWidget() == nullptr) {
            hide();
            return;
        }
        setParent(target->parentWidget());
        setGeometry(target->geometry().adjusted(-3, -3, 3, 3));
        raise();
        show();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        QPen pen(QColor(0x33, 0x99, 0xfe));
        pen.setWidth(2);
        p.setPen(pen);
        p.drawRoundedRect(rect().adjusted(1, 1, -1, -1), 3, 3);
    }
};

namespace {

// A decoded line cut to `width` after its last whole word that fits, so that
// no word is broken; the front (direction, command) is what stays.
QString ElideAtWords(const QString& text, const QFontMetrics& metrics, int width) {
    if (metrics.horizontalAdvance(text) <= width) return text;
    const QString ellipsis = QStringLiteral("\u2026");
    QString kept;
    qsizetype from = 0;
    for (;;) {
        const qsizetype space = text.indexOf(QLatin1Char(' '), from + 1);
        const QString longer = text.left(space < 0 ? text.size() : space);
        if (space < 0 || metrics.horizontalAdvance(longer + ellipsis) > width) break;
        kept = longer;
        from = space;
    }
    // Drop a separator left at the end ("... Live set \u00b7").
    while (kept.endsWith(QChar(0x00B7)) || kept.endsWith(QLatin1Char(' ')) || kept.endsWith(QLatin1Char(',')) ||
           kept.endsWith(QLatin1Char(':')))
        kept.chop(1);
    if (kept.isEmpty()) return metrics.elidedText(text, Qt::ElideRight, width);
    return kept + QLatin1Char(' ') + ellipsis;
}

// Log lines: the decoded words in a column of their own (as wide as the
// widest so far, but never so wide that fewer than kKeptBytes bytes of the
// line fit beside it), then the line itself; a cut text ends at a word and
// shows whole in the tooltip, and the list scrolls sideways for long frames.
class DecodedLogDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        const QFontMetrics metrics(option.font);
        column_ = std::min(std::max(column_, metrics.horizontalAdvance(index.data(TuningLog::kDecodedRole).toString())),
                           TuningLog::kDecodedColumnMax);
        return {columnFor(option) + 24 + metrics.horizontalAdvance(index.data(Qt::DisplayRole).toString()), 18};
    }
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QStyleOptionViewItem opt(option);
        initStyleOption(&opt, index);
        const QString line = opt.text;
        opt.text.clear();
        const QWidget* widget = opt.widget;
        QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);
        const bool selected = (opt.state & QStyle::State_Selected) != 0;
        const QColor text = selected ? opt.palette.color(QPalette::HighlightedText) : opt.palette.color(QPalette::Text);
        const int column = columnFor(option);
        painter->save();
        painter->setFont(opt.font);
        const QRect area = opt.rect;
        painter->setPen(selected ? text : QColor(0x0b, 0x4f, 0x9c));
        painter->drawText(area.adjusted(4, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft,
                          ElideAtWords(index.data(TuningLog::kDecodedRole).toString(), painter->fontMetrics(), column));
        painter->setPen(selected ? text : QColor(0xc8, 0xc8, 0xc8));
        const int split = area.left() + column + 12;
        painter->drawLine(split, area.top(), split, area.bottom());
        painter->setPen(text);
        painter->drawText(area.adjusted(column + 20, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft, line);
        painter->restore();
    }

private:
    // The time, the direction and this many bytes of a line stay in view
    // beside the decoded column.
    static constexpr int kKeptBytes = 16;
    int columnFor(const QStyleOptionViewItem& option) const {
        const auto* view = qobject_cast<const QAbstractScrollArea*>(option.widget);
        if (view == nullptr) return column_;
        const QFontMetrics metrics(option.font);
        const int kept = metrics.horizontalAdvance(QString(36 + 4 * kKeptBytes, QLatin1Char('0')));
        return std::max(std::min(column_, view->viewport()->width() - kept - 24), std::min(column_, 160));
    }
    mutable int column_ = 0;
};

const char* kLostStyle = "QLabel { background: #ffd24d; color: #5a0000; font-weight: bold; padding: 4px; }";
const char* kFoundStyle = "QLabel { background: #d8f0d8; color: #11581a; font-weight: bold; padding: 4px; }";

bool IsActivationKey(const QKeyEvent* key) {
    return key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter || key->key() == Qt::Key_Space;
}

}  // namespace

TuningFeedback::TuningFeedback(const FeedbackWidgets& widgets, QObject* parent)
    : QObject(parent), widgets_(widgets) {
    setObjectName(QStringLiteral("TuningFeedback"));

    // The notice, between the caption panel and the pages.
    notice_ = new QLabel(widgets_.rightPane);
    notice_->setObjectName(QStringLiteral("RadioNotice"));
    notice_->setWordWrap(true);
    notice_->hide();
    if (auto* right = qobject_cast<QVBoxLayout*>(widgets_.rightPane->layout())) right->insertWidget(1, notice_);

    // The chart, right of the pages.
    if (QSplitter* split = widgets_.pagesAndLog; split != nullptr && split->count() > 0) {
        QWidget* pages = split->widget(0);
        auto* beside = new QSplitter(Qt::Horizontal);
        beside->setObjectName(QStringLiteral("PagesAndChart"));
        beside->setChildrenCollapsible(false);
        split->replaceWidget(0, beside);
        beside->addWidget(pages);
        // The pages take what the window gains; the log keeps its height.
        split->setStretchFactor(0, 1);
        chart_ = new PointChart(beside);
        beside->addWidget(chart_);
        beside->setStretchFactor(0, 1);
        beside->setStretchFactor(1, 0);
        chart_->setMaximumWidth(360);
        chart_->setReference(ReferenceImage(radioInfo, tunerImage));
    }

    // The log scrolls sideways instead of cutting its lines.
    QListWidget* log = widgets_.log;
    log->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    log->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    log->setUniformItemSizes(false);
    log->setItemDelegate(new DecodedLogDelegate(log));

    // Keyboard: the tree and every point button.
    widgets_.tree->installEventFilter(this);
    for (TPointButton* button : widgets_.window->findChildren<TPointButton*>()) {
        TuningPages::setFocusPolicy(button, Qt::StrongFocus);
        button->installEventFilter(this);
    }
    ring_ = new FocusRing(widgets_.window);
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) { focusMoved(now); });
}

bool TuningFeedback::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (IsActivationKey(key) && key->modifiers() == Qt::NoModifier) {
            // The press acts; the release is swallowed too, so that a
            // button does not also take Space as a click.
            if (event->type() == QEvent::KeyPress && !key->isAutoRepeat()) {
                if (watched == widgets_.tree) {
                    emit treeActivated();
                } else if (auto* button = qobject_cast<TPointButton*>(watched)) {
                    emit pointActivated(button);
                }
            }
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

void TuningFeedback::focusMoved(QWidget* now) {
    if (ring_ == nullptr) return;
    QWidget* window = widgets_.window;
    if (now == nullptr || now == widgets_.tree || now == widgets_.log || !window->isAncestorOf(now) ||
        qobject_cast<QScrollArea*>(now) != nullptr) {
        ring_->hide();
        return;
    }
    // The page scrolls to bring the focused control into view.
    for (QWidget* w = now->parentWidget(); w != nullptr && w != window; w = w->parentWidget()) {
        if (auto* area = qobject_cast<QScrollArea*>(w)) {
            area->ensureWidgetVisible(now, 8, 8);
            break;
        }
    }
    ring_->follow(now);
}

QString TuningFeedback::showRadioLost() {
    lost_ = true;
    found_ = false;
    const QString text = ui::StatusText("S0010");
    notice_->setText(text);
    notice_->setStyleSheet(QString::fromLatin1(kLostStyle));
    notice_->show();
    return text;
}

QString TuningFeedback::showRadioFound(const QString& problem) {
    lost_ = false;
    found_ = true;
    foundProblem_ = problem;
    const QString text = problem.isEmpty() ? ui::StatusText("S0015") : ui::StatusText("S0027").arg(problem);
    notice_->setText(text);
    notice_->setStyleSheet(QString::fromLatin1(problem.isEmpty() ? kFoundStyle : kLostStyle));
    notice_->show();
    return text;
}

void TuningFeedback::factoryRead() {
    if (chart_ != nullptr) chart_->setFactory(tunerImage);
}

void TuningFeedback::retranslate() {
    if (lost_) {
        notice_->setText(ui::StatusText("S0010"));
    } else if (found_) {
        notice_->setText(foundProblem_.isEmpty() ? ui::StatusText("S0015") : ui::StatusText("S0027").arg(foundProblem_));
    }
    if (chart_ != nullptr) chart_->retranslate();
}

}  // namespace varnel::tuning
