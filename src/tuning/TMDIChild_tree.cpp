// The tree of tuning items and its icons.
#include <QIcon>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>
#include <QTreeWidgetItem>

#include "data/Global.h"
#include "lang/Loadlanguage.h"
#include "tuning/TMDIChild.h"

using namespace varnel;
using namespace varnel::tuning;

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

QIcon TMDIChild::TreeIcon(int imageIndex) {
    // Drawn afresh each time: a handful of small pixmaps per tree, and no
    // pixmap outlives the application object.
    QIcon icon;
    icon.addPixmap(IconPixmap(imageIndex, 16));
    icon.addPixmap(IconPixmap(imageIndex, 32));
    return icon;
}

QTreeWidgetItem* TMDIChild::addNode(QTreeWidgetItem* parent, const QString& caption, int stateIndex,
                                    int imageIndex) {
    auto* node = parent != nullptr ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(TreeView1);
    node->setText(0, caption);
    node->setData(0, kStateIndexRole, stateIndex);
    node->setData(0, kImageIndexRole, imageIndex);
    node->setIcon(0, TreeIcon(imageIndex));
    return node;
}

void TMDIChild::BuildItemTree() {
    TreeView1->clear();
    CheckTimer->stop();
    RefreshFrequencyLabels(RefreshScope::Build);

    const int variant = radioInfo.modelVariant();
    const int rootIcon = variant >= 0 && variant <= 2 ? kRootIcons[variant] : kRootIcons[0];
    QTreeWidgetItem* root = addNode(nullptr, QString::fromLocal8Bit(radioInfo.modelName().c_str()), 0, rootIcon);

    struct Node {
        const char* key;  // "TreeView" key; nullptr for the fixed caption "1233"
        int state;
    };
    auto addItems = [this](QTreeWidgetItem* group, std::initializer_list<Node> nodes) {
        QTreeWidgetItem* last = nullptr;
        for (const Node& n : nodes) {
            last = addNode(group, n.key != nullptr ? TreeText(n.key) : QStringLiteral("1233"), n.state, kItemIcon);
        }
        return last;
    };

    QTreeWidgetItem* receiver = addNode(root, TreeText("T0001"), 1, kGroupIcon);
    QTreeWidgetItem* selected = addItems(receiver, {{"T0006", 4}});
    addItems(receiver, {{"T0004", 2}, {"T0005", 3}, {"T0007", 5}, {"T0008", 6}, {"T0009", 7}, {"T0010", 8}});

    QTreeWidgetItem* transmitter = addNode(root, TreeText("T0002"), 20, kGroupIcon);
    addItems(transmitter, {{"T0013", 23}, {"T0014", 24}, {"T0011", 21}, {"T0012", 22}, {"T0016", 26},
                           {"T0017", 27}, {"T0018", 28}, {"T0023", 33}, {"T0019", 29}, {"T0020", 30},
                           {"T0021", 31}, {"T0022", 32}, {nullptr, 35}});
    if (variant == 1) addItems(transmitter, {{"T0044", 34}});
    if (radioInfo.largeModel()) addItems(transmitter, {{"T0056", 36}, {"T0045", 37}, {"T0057", 38}});

    QTreeWidgetItem* measurements = addNode(root, TreeText("T0003"), 50, kGroupIcon);
    addItems(measurements, {{"T0024", 51}, {"T0025", 52}, {"T0026", 53}});

    if (variant == 0) {
        QTreeWidgetItem* mandown = addNode(root, TreeText("T0040"), 60, kGroupIcon);
        addItems(mandown, {{"T0041", 61}, {"T0042", 62}, {"T0043", 63}});
    }

    TreeView1->setCurrentItem(selected);
    selected->setSelected(true);

    // The window opens on the receiver's CTCSS item, locked until a point is chosen.
    currentItem = 4;
    ShowPage(static_cast<int>(Page::Ctcss));
    LoadCtcssPage();
    lockCtcssPage();
    Panel1->setText(TreeText("T0006"));
}
