// The tree of tuning items: the radio's model at the root, then the groups
// and their items as the item table orders them. Each node carries its
// state index (the item key a double-click selects) and its icon index.
#pragma once

#include <QIcon>

#include "data/ItemTable.h"
#include "tuning/TuningControls.h"

namespace varnel::tuning {

class ItemTree : public TTreeView {
    Q_OBJECT
public:
    explicit ItemTree(QWidget* parent = nullptr);

    static constexpr int kStateIndexRole = Qt::UserRole;
    static constexpr int kImageIndexRole = Qt::UserRole + 1;
    // The icon of image index `imageIndex` (item, group, or the root of model
    // variant 0, 1 or 2).
    static QIcon icon(int imageIndex);

    // Fills the tree for the radio in radioInfo and selects the receiver's
    // first item, which it returns.
    const TuningItem* rebuild();

private:
    QTreeWidgetItem* addNode(QTreeWidgetItem* parent, const QString& caption, int stateIndex, int imageIndex);
    // The items of `group` the radio has, in tree order.
    static std::vector<const TuningItem*> groupItems(TreeGroup group);
};

}  // namespace varnel::tuning
