#include "tuning/ItemTree.h"

#include <QHeaderView>
#include <QIcon>
#include <QPainter>
#include <QPainterPath>
#include <QTreeWidgetItem>
#include <algorithm>
#include <vector>

#include "data/Global.h"
#include "lang/Loadlanguage.h"

namespace varnel::tuning {

namespace {

// Icon indices of the tree's image list.
constexpr int kItemIcon = 0;
constexpr int kGroupIcon = 16;
constexpr int kRootIcons[] = {18, 28, 29};  // by modelVariant 0, 1, 2

QString TreeText(const char* key) { return QString::fromStdString(Text("TreeView", key)); }

void PaintItemIcon(QPainter& p, qreal s) {
    // A small tuning knob on a scale.
    p.setPen(QPen(QColor(90, 100, 110), s / 16));
    p.setBrush(QColor(250, 250, 250));
    p.drawRoundedRect(QRectF(s * 0.12, s * 0.12, s * 0.76, s * 0.76), s * 0.12, s * 0.12);
    p.setPen(QPen(QColor(0, 150, 220), s / 10, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(s * 0.28, s * 0.62), QPointF(s * 0.72, s * 0.62));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 110, 190));
    p.drawEllipse(QPointF(s * 0.45, s * 0.62), s * 0.12, s * 0.12);
    p.setPen(QPen(QColor(120, 120, 120), s / 16));
    p.drawLine(QPointF(s * 0.28, s * 0.34), QPointF(s * 0.72, s * 0.34));
}

void PaintGroupIcon(QPainter& p, qreal s) {
    // A folder.
    QPainterPath tab;
    tab.moveTo(s * 0.08, s * 0.30);
    tab.lineTo(s * 0.08, s * 0.20);
    tab.lineTo(s * 0.40, s * 0.20);
    tab.lineTo(s * 0.48, s * 0.30);
    tab.closeSubpath();
    p.setPen(QPen(QColor(176, 128, 30), s / 16));
    p.setBrush(QColor(240, 196, 90));
    p.drawPath(tab);
    p.drawRoundedRect(QRectF(s * 0.08, s * 0.30, s * 0.84, s * 0.54), s * 0.06, s * 0.06);
}

void PaintRootIcon(QPainter& p, qreal s, const QColor& body) {
    // A hand-held radio: antenna, body, display, keypad dots.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(50, 50, 50));
    p.drawRect(QRectF(s * 0.56, s * 0.02, s * 0.10, s * 0.30));
    p.setPen(QPen(body.darker(150), s / 16));
    p.setBrush(body);
    p.drawRoundedRect(QRectF(s * 0.26, s * 0.26, s * 0.48, s * 0.70), s * 0.10, s * 0.10);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(200, 232, 250));
    p.drawRect(QRectF(s * 0.34, s * 0.36, s * 0.32, s * 0.18));
    p.setBrush(QColor(250, 250, 250));
    for (int r = 0; r < 2; ++r) {
        for (int c = 0; c < 2; ++c) {
            p.drawEllipse(QPointF(s * (0.42 + 0.16 * c), s * (0.66 + 0.14 * r)), s * 0.045, s * 0.045);
        }
    }
}

QPixmap IconPixmap(int index, int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    switch (index) {
        case kGroupIcon: PaintGroupIcon(p, s); break;
        case 18: PaintRootIcon(p, s, QColor(40, 110, 200)); break;
        case 28: PaintRootIcon(p, s, QColor(40, 150, 80)); break;
        case 29: PaintRootIcon(p, s, QColor(210, 110, 30)); break;
        default: PaintItemIcon(p, s); break;
    }
    return pixmap;
}

}  // namespace

ItemTree::ItemTree(QWidget* parent) : TTreeView(parent) {
    setObjectName(QStringLiteral("TreeView1"));
    setHeaderHidden(true);
    // Long captions scroll sideways, as in a native tree, instead of being cut.
    setTextElideMode(Qt::ElideNone);
    header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    header()->setStretchLastSection(false);
    setIndentation(19);
    setIconSize(QSize(16, 16));
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setItemDelegate(new TreeSelectionDelegate(this));
    setMinimumWidth(120);
    QPalette pal = palette();
    pal.setColor(QPalette::Base, Qt::white);
    setPalette(pal);
}

QIcon ItemTree::icon(int imageIndex) {
    // Drawn afresh each time: a handful of small pixmaps per tree, and no
    // pixmap outlives the application object.
    QIcon icon;
    icon.addPixmap(IconPixmap(imageIndex, 16));
    icon.addPixmap(IconPixmap(imageIndex, 32));
    return icon;
}

QTreeWidgetItem* ItemTree::addNode(QTreeWidgetItem* parent, const QString& caption, int stateIndex, int imageIndex) {
    auto* node = parent != nullptr ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(this);
    node->setText(0, caption);
    node->setData(0, kStateIndexRole, stateIndex);
    node->setData(0, kImageIndexRole, imageIndex);
    node->setIcon(0, icon(imageIndex));
    return node;
}

std::vector<const TuningItem*> ItemTree::groupItems(TreeGroup group) {
    const int variant = radioInfo.modelVariant();
    std::vector<const TuningItem*> nodes;
    for (const TuningItem& item : TuningItems()) {
        if (item.treeGroup != group) continue;
        if (item.treeShown == TreeShown::MobileVariant && variant != 1) continue;
        if (item.treeShown == TreeShown::LargeModel && !radioInfo.largeModel()) continue;
        if (item.treeShown == TreeShown::ExpertMode && !expertMode) continue;
        nodes.push_back(&item);
    }
    std::stable_sort(nodes.begin(), nodes.end(),
                     [](const TuningItem* a, const TuningItem* b) { return a->treeOrder < b->treeOrder; });
    return nodes;
}

const TuningItem* ItemTree::rebuild() {
    clear();
    const int variant = radioInfo.modelVariant();
    const int rootIcon = variant >= 0 && variant <= 2 ? kRootIcons[variant] : kRootIcons[0];
    QTreeWidgetItem* root = addNode(nullptr, QString::fromLocal8Bit(radioInfo.modelName().c_str()), 0, rootIcon);

    // The groups; the man-down group only on variant 0 radios. Their nodes
    // come from the item table, in each item's tree order.
    struct Group {
        TreeGroup group;
        const char* key;
        int state;
        bool shown;
    };
    const Group groups[] = {{TreeGroup::Receiver, "T0001", 1, true},
                            {TreeGroup::Transmitter, "T0002", 20, true},
                            {TreeGroup::Measurement, "T0003", 50, true},
                            {TreeGroup::Mandown, "T0040", 60, variant == 0}};
    QTreeWidgetItem* selected = nullptr;
    const TuningItem* opening = nullptr;
    for (const Group& g : groups) {
        if (!g.shown) continue;
        QTreeWidgetItem* groupNode = addNode(root, TreeText(g.key), g.state, kGroupIcon);
        for (const TuningItem* item : groupItems(g.group)) {
            const QString caption = item->treeFixed ? QString::fromLatin1(item->treeKey) : TreeText(item->treeKey);
            QTreeWidgetItem* node = addNode(groupNode, caption, item->treeState, kItemIcon);
            if (selected == nullptr) {  // the receiver's first item
                selected = node;
                opening = item;
            }
        }
    }
    setCurrentItem(selected);
    selected->setSelected(true);
    return opening;
}

}  // namespace varnel::tuning
