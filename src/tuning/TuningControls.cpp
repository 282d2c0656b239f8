#include "tuning/TuningControls.h"

#include <algorithm>

#include <QFocusEvent>
#include <QKeyEvent>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWheelEvent>

namespace varnel::tuning {

namespace {

QString GroupSeparator() {
    const QString separator = QLocale::system().groupSeparator();
    return separator.isEmpty() ? QStringLiteral(",") : separator;
}

}  // namespace

// ---- TUpDown ---------------------------------------------------------------

TUpDown::TUpDown(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    up_ = new QToolButton(this);
    down_ = new QToolButton(this);
    up_->setArrowType(Qt::UpArrow);
    down_->setArrowType(Qt::DownArrow);
    for (QToolButton* button : {up_, down_}) {
        button->setAutoRepeat(true);
        button->setFocusPolicy(Qt::NoFocus);
        button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
        button->setFixedWidth(16);
        button->setIconSize(QSize(7, 7));
        layout->addWidget(button);
    }
    setFixedWidth(16);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    connect(up_, &QToolButton::clicked, this, [this] { step(+1); });
    connect(down_, &QToolButton::clicked, this, [this] { step(-1); });
}

void TUpDown::setAssociate(QLineEdit* edit) {
    if (associate_ != nullptr) associate_->removeEventFilter(this);
    associate_ = edit;
    if (associate_ != nullptr) {
        associate_->installEventFilter(this);
        associate_->setText(displayText(position_));
    }
}

void TUpDown::setRange(int minimum, int maximum) {
    minimum_ = minimum;
    maximum_ = maximum < minimum ? minimum : maximum;
    setPosition(position_);
}

QString TUpDown::displayText(int value) const {
    QString text = QString::number(value);
    if (thousands_ && (value >= 1000 || value <= -1000)) {
        const QString separator = GroupSeparator();
        const int firstDigit = value < 0 ? 1 : 0;
        for (qsizetype i = text.size() - 3; i > firstDigit; i -= 3) text.insert(i, separator);
    }
    return text;
}

void TUpDown::setPosition(int position) {
    position_ = std::clamp(position, minimum_, maximum_);
    if (associate_ != nullptr) associate_->setText(displayText(position_));
}

void TUpDown::syncFromAssociate() {
    if (associate_ == nullptr) return;
    QString text = associate_->text().trimmed();
    text.remove(GroupSeparator());
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    if (ok && value >= minimum_ && value <= maximum_) position_ = value;
}

int TUpDown::position() {
    syncFromAssociate();
    return position_;
}

void TUpDown::step(int direction) {
    if (!isEnabled()) return;
    syncFromAssociate();
    const long long next = static_cast<long long>(position_) + static_cast<long long>(direction) * increment_;
    setPosition(static_cast<int>(std::clamp<long long>(next, minimum_, maximum_)));
    emit clicked(direction >= 0 ? +1 : -1);
}

bool TUpDown::eventFilter(QObject* watched, QEvent* event) {
    if (watched == associate_ && event->type() == QEvent::KeyPress && isEnabled()) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Up || key->key() == Qt::Key_Down) {
            step(key->key() == Qt::Key_Up ? +1 : -1);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TUpDown::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange) {
        up_->setEnabled(isEnabled());
        down_->setEnabled(isEnabled());
    }
    QWidget::changeEvent(event);
}

// ---- TValueEdit ------------------------------------------------------------

TValueEdit::TValueEdit(QWidget* parent) : QLineEdit(parent) {
    setMaxLength(3);
    setText(QStringLiteral("0"));
    setAlignment(Qt::AlignRight | Qt::AlignVCenter);
}

void TValueEdit::keyPressEvent(QKeyEvent* event) {
    // Like a numbers-only edit: typed characters other than digits are
    // dropped; editing and navigation keys pass.
    const QString text = event->text();
    if (!text.isEmpty() && text.at(0).isPrint() &&
        !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
        for (const QChar c : text) {
            if (!c.isDigit()) {
                event->accept();
                return;
            }
        }
    }
    QLineEdit::keyPressEvent(event);
}

void TValueEdit::mouseDoubleClickEvent(QMouseEvent* event) {
    QLineEdit::mouseDoubleClickEvent(event);
    emit doubleClicked();
}

void TValueEdit::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    emit exited();
}

// ---- TPointButton ----------------------------------------------------------

TPointButton::TPointButton(QWidget* parent) : QRadioButton(parent) {
    // The selected calibration point is set in bold, so that the row being
    // adjusted stands out beside the greyed rows.
    connect(this, &QAbstractButton::toggled, this, [this](bool on) {
        // Only the weight is the button's own; family and size follow the
        // window, also after a language switch.
        QFont f;
        f.setBold(on);
        setFont(f);
    });
}

void TPointButton::forceChecked(bool checked) {
    if (checked || !isChecked()) {
        setChecked(checked);
        return;
    }
    const bool exclusive = autoExclusive();
    setAutoExclusive(false);
    setChecked(false);
    setAutoExclusive(exclusive);
}

void TPointButton::mouseDoubleClickEvent(QMouseEvent* event) {
    QRadioButton::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton) emit doubleClicked();
}

// ---- TScrollBar ------------------------------------------------------------

TScrollBar::TScrollBar(QWidget* parent) : QScrollBar(Qt::Horizontal, parent) {
    // An enabled bar gets a tinted thumb; disabled bars keep the plain grey,
    // which otherwise looks almost the same as an enabled one.
    QPalette pal = palette();
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        pal.setColor(group, QPalette::Button, QColor(150, 196, 246));
    }
    setPalette(pal);
}

void TScrollBar::mouseReleaseEvent(QMouseEvent* event) {
    QScrollBar::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton) emit endScroll(value());
}

void TScrollBar::keyReleaseEvent(QKeyEvent* event) {
    QScrollBar::keyReleaseEvent(event);
    switch (event->key()) {
        case Qt::Key_Left:
        case Qt::Key_Right:
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
        case Qt::Key_Home:
        case Qt::Key_End:
            if (!event->isAutoRepeat()) emit endScroll(value());
            break;
        default:
            break;
    }
}

void TScrollBar::wheelEvent(QWheelEvent* event) {
    // The wheel never moves a value bar: the page decides what a wheel does.
    event->ignore();
}

// ---- TTreeView -------------------------------------------------------------

TTreeView::TTreeView(QWidget* parent) : QTreeWidget(parent) {}

void TTreeView::mouseDoubleClickEvent(QMouseEvent* event) {
    QTreeWidget::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton) emit dblClick();
}

void TTreeView::drawRow(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    QStyleOptionViewItem opt(option);
    const bool focused = hasFocus();
    const QColor background = focused ? TreeSelectionDelegate::focusedBackground()
                                      : TreeSelectionDelegate::unfocusedBackground();
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        opt.palette.setColor(group, QPalette::Highlight, background);
        opt.palette.setColor(group, QPalette::HighlightedText, focused ? QColor(Qt::white) : QColor(Qt::black));
    }
    QTreeWidget::drawRow(painter, opt, index);
}

void DrawFocusFrame(QWidget* viewport) {
    QPainter p(viewport);
    QPen pen(QColor(0x33, 0x99, 0xfe));
    pen.setWidth(2);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawRect(viewport->rect().adjusted(1, 1, -1, -1));
}

void TTreeView::paintEvent(QPaintEvent* event) {
    QTreeWidget::paintEvent(event);
    // The tree shows that it has the keyboard focus like every other stop.
    if (hasFocus()) DrawFocusFrame(viewport());
}

void TTreeView::focusInEvent(QFocusEvent* event) {
    QTreeWidget::focusInEvent(event);
    viewport()->update();
}

void TTreeView::focusOutEvent(QFocusEvent* event) {
    QTreeWidget::focusOutEvent(event);
    viewport()->update();
}

// ---- TreeSelectionDelegate -------------------------------------------------

TreeSelectionDelegate::TreeSelectionDelegate(QTreeWidget* tree) : QStyledItemDelegate(tree), tree_(tree) {}

QStyleOptionViewItem TreeSelectionDelegate::selectionOption(const QStyleOptionViewItem& option) const {
    QStyleOptionViewItem opt(option);
    if (!(opt.state & QStyle::State_Selected)) return opt;
    const bool focused = tree_ != nullptr && tree_->hasFocus();
    const QColor background = focused ? focusedBackground() : unfocusedBackground();
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        opt.palette.setColor(group, QPalette::Highlight, background);
        if (focused) {
            opt.palette.setColor(group, QPalette::HighlightedText, Qt::white);
        } else {
            opt.palette.setColor(group, QPalette::HighlightedText, Qt::black);
        }
    }
    return opt;
}

void TreeSelectionDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                  const QModelIndex& index) const {
    QStyleOptionViewItem opt = selectionOption(option);
    // The chosen colours hold whether or not the window is active.
    if (opt.state & QStyle::State_Selected) opt.state |= QStyle::State_Active;
    QStyledItemDelegate::paint(painter, opt, index);
}

}  // namespace varnel::tuning
