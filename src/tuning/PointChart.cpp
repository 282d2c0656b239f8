#include "tuning/PointChart.h"

#include <QChart>
#include <QChartView>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPen>
#include <QScatterSeries>
#include <QTimer>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>
#include <fstream>
#include <system_error>

#include "ui/FeedbackTexts.h"
#include "data/Filemanage.h"
#include "data/Global.h"
#include "ui/Selection.h"
#include "data/ItemTable.h"
#include "data/Safety.h"
#include "lang/Loadlanguage.h"

namespace varnel::tuning {

namespace fs = std::filesystem;

std::optional<TunerImage> NewestBackupOfModel(const fs::path& folder, const RadioInfo& info, const TunerImage* skip) {
    std::error_code error;
    if (!fs::is_directory(folder, error)) return std::nullopt;
    std::optional<TunerImage> newest;
    fs::file_time_type newestTime{};
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
        if (!entry.is_regular_file(error) || entry.file_size(error) != kArchiveSize) continue;
        std::ifstream file(entry.path(), std::ios::binary);
        std::array<std::uint8_t, kArchiveSize> bytes{};
        if (!file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()))) continue;
        RadioInfo backupInfo;
        backupInfo.assign(bytes.data());
        if (!SameRadio(backupInfo, info)) continue;
        const fs::file_time_type time = entry.last_write_time(error);
        if (newest && time <= newestTime) continue;
        TunerImage image;
        std::copy_n(bytes.begin() + RadioInfo::kSize, TunerImage::kSize, image.bytes.begin());
        // The backup made of this very image at entry tells nothing new: an
        // older one that differs is the better reference.
        if (skip != nullptr && image.bytes == skip->bytes) continue;
        newest = image;
        newestTime = time;
    }
    return newest;
}

TunerImage ReferenceImage(const RadioInfo& info, const TunerImage& fallback) {
    const fs::path folder = ProgramDirectory() / "Default Data" / kBackupFolder;
    if (auto backup = NewestBackupOfModel(folder, info, &fallback)) return *backup;
    return fallback;
}

namespace {

int PointCount(const TuningItem& item) {
    if (item.lastPoint <= 0) return 0;
    if (item.eightPointsWithNewFirmware && band == 1 && radioInfo.newFirmware()) return 8;
    return item.lastPoint;
}

QList<QPointF> ArrayValues(const TunerImage& image, int code, int points) {
    QList<QPointF> values;
    const std::optional<ItemBytesInfo> bytes = ItemBytes(code);
    if (!bytes) return values;
    if (bytes->layout == ItemLayout::Single) {
        values << QPointF(3, image[static_cast<std::size_t>(bytes->offset)]);
        return values;
    }
    for (int p = 1; p <= points && p <= 8; ++p) {
        values << QPointF(p, image[static_cast<std::size_t>(bytes->offset + p - 1)]);
    }
    return values;
}

}  // namespace

QList<QList<QPointF>> ItemPointValues(const TunerImage& image, int itemCode) {
    QList<QList<QPointF>> lists;
    const TuningItem* item = FindItem(itemCode);
    if (item == nullptr) return lists;
    const int points = PointCount(*item);
    if (points == 0) return lists;
    QList<int> codes;
    if (const auto triple = TripleOf(itemCode); triple && item->page == Page::PowerMobile) {
        codes = {triple->low, triple->middle, triple->high};
    } else if (const auto pair = PairOf(itemCode); pair && item->page == Page::Power) {
        codes = {pair->low, pair->high};
    } else {
        codes = {itemCode};
    }
    for (int code : codes) {
        QList<QPointF> values = ArrayValues(image, code, points);
        if (!values.isEmpty()) lists << values;
    }
    return lists;
}

PointChart::PointChart(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("PointChart"));
    chart_ = new QChart();
    chart_->setMargins(QMargins(2, 2, 2, 2));
    chart_->legend()->setAlignment(Qt::AlignBottom);
    chart_->setBackgroundRoundness(0);
    {
        QFont title = chart_->titleFont();
        title.setPointSize(9);
        chart_->setTitleFont(title);
    }
    view_ = new QChartView(chart_, this);
    view_->setObjectName(QStringLiteral("PointChartView"));
    view_->setRenderHint(QPainter::Antialiasing);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view_);
    setMinimumWidth(200);

    timer_ = new QTimer(this);
    timer_->setObjectName(QStringLiteral("PointChartTimer"));
    timer_->setInterval(250);
    connect(timer_, &QTimer::timeout, this, &PointChart::refresh);
    timer_->start();
}

void PointChart::setReference(const TunerImage& image) {
    referenceImage_ = image;
    item_ = -1;  // redraw
    refresh();
}

void PointChart::setFactory(const TunerImage& image) {
    factoryImage_ = image;
    haveFactory_ = true;
    item_ = -1;
    refresh();
}

void PointChart::refresh() {
    QList<QList<QPointF>> current = ItemPointValues(tunerImage, currentItem);
    if (currentItem == item_ && band == band_ && current == current_) return;
    current_ = std::move(current);
    reference_ = ItemPointValues(referenceImage_, currentItem);
    factory_ = haveFactory_ ? ItemPointValues(factoryImage_, currentItem) : QList<QList<QPointF>>{};
    item_ = currentItem;
    band_ = band;
    rebuild();
}

void PointChart::retranslate() {
    item_ = -1;
    refresh();
}

namespace {

// The chart's title: the item's caption in the tree.
QString ItemTitle(int itemCode) {
    QString caption;
    if (const TuningItem* item = FindItem(itemCode); item != nullptr && item->treeKey != nullptr) {
        caption = QString::fromStdString(Text("TreeView", item->treeKey));
    }
    return caption.isEmpty() ? ui::StatusText("S0017") : caption;
}

// The values drawn so far: their range and the last point.
struct Extent {
    double low = 255;
    double high = 0;
    int lastPoint = 1;
};

// The pen of the series for array `index`. The reference (dashed) is a broad
// light band under the radio's own thin line, so that both show where they
// agree.
QPen SeriesPen(int index, Qt::PenStyle style) {
    const QColor colours[] = {QColor(0x1f, 0x6f, 0xd0), QColor(0xd0, 0x5a, 0x10), QColor(0x2a, 0x9a, 0x2a)};
    QColor colour = colours[index % 3];
    if (style == Qt::DashLine) colour.setAlpha(80);
    QPen pen(colour);
    pen.setWidth(style == Qt::DashLine ? 6 : 2);
    pen.setStyle(style == Qt::DashLine ? Qt::SolidLine : style);
    pen.setCapStyle(Qt::RoundCap);
    return pen;
}

// One line per array of the item, all of one kind under one legend entry.
void AddSeries(QChart* chart, QValueAxis* x, QValueAxis* y, const QList<QList<QPointF>>& lists, const QString& name,
               Qt::PenStyle style, bool markers, Extent& extent) {
    for (int i = 0; i < lists.size(); ++i) {
        auto* line = new QLineSeries();
        line->setName(name);
        line->append(lists[i]);
        line->setPen(SeriesPen(i, style));
        line->setPointsVisible(markers);
        chart->addSeries(line);
        line->attachAxis(x);
        line->attachAxis(y);
        // One legend entry per kind of series is enough.
        if (i > 0) {
            for (QLegendMarker* marker : chart->legend()->markers(line)) marker->setVisible(false);
        }
        for (const QPointF& p : lists[i]) {
            extent.low = std::min(extent.low, p.y());
            extent.high = std::max(extent.high, p.y());
            extent.lastPoint = std::max(extent.lastPoint, static_cast<int>(p.x()));
        }
    }
}

// Whole points only, with room for the markers at both ends; the values with
// a margin (0 to 255 when there are none).
void SetRanges(QValueAxis* x, QValueAxis* y, Extent extent) {
    x->setRange(0.7, std::max(extent.lastPoint, 2) + 0.3);
    x->setTickType(QValueAxis::TicksDynamic);
    x->setTickAnchor(1);
    x->setTickInterval(1);
    if (extent.high < extent.low) {
        extent.low = 0;
        extent.high = 255;
    }
    const double margin = std::max(4.0, (extent.high - extent.low) * 0.15);
    y->setRange(std::max(0.0, extent.low - margin), extent.high + margin);
}

}  // namespace

void PointChart::rebuild() {
    chart_->removeAllSeries();
    chart_->setTitle(ItemTitle(currentItem));

    // One pair of axes for the chart's life; only titles and ranges change.
    if (x_ == nullptr) {
        x_ = new QValueAxis();
        x_->setLabelFormat(QStringLiteral("%d"));
        y_ = new QValueAxis();
        y_->setLabelFormat(QStringLiteral("%d"));
        chart_->addAxis(x_, Qt::AlignBottom);
        chart_->addAxis(y_, Qt::AlignLeft);
    }
    x_->setTitleText(ui::StatusText("S0021"));
    y_->setTitleText(ui::StatusText("S0022"));

    Extent extent;
    AddSeries(chart_, x_, y_, reference_, ui::StatusText("S0019"), Qt::DashLine, false, extent);
    if (haveFactory_) AddSeries(chart_, x_, y_, factory_, ui::StatusText("S0020"), Qt::DotLine, false, extent);
    AddSeries(chart_, x_, y_, current_, ui::StatusText("S0018"), Qt::SolidLine, true, extent);
    SetRanges(x_, y_, extent);
}

}  // namespace varnel::tuning
