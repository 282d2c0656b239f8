#include "tuning/PointChart.h"

#include "protocol/RadioValues.h"

#include <QEvent>
#include <QPen>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <fstream>
#include <system_error>

#include "ui/FeedbackTexts.h"
#include "data/Filemanage.h"
#include "data/Global.h"
#include "ui/Selection.h"
#include "data/ItemTable.h"
#include "data/Safety.h"
#include "lang/Loadlanguage.h"
#include "ui/Plot.h"

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
    plot_ = new ui::Plot(this);
    plot_->setObjectName(QStringLiteral("PointChartView"));
    // Points are whole numbers, and so are the values of the image.
    ui::Plot::setWholeTicks(plot_->xAxis, true);
    ui::Plot::setWholeTicks(plot_->yAxis, false);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(plot_);
    setMinimumWidth(200);

    timer_ = new QTimer(this);
    timer_->setObjectName(QStringLiteral("PointChartTimer"));
    timer_->setInterval(250);
    connect(timer_, &QTimer::timeout, this, &PointChart::refresh);
    timer_->start();
}

void PointChart::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange) {
        plot_->applyFont();
        plot_->replot(QCustomPlot::rpQueuedReplot);
    }
    QWidget::changeEvent(event);
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
    // "This radio" is what the radio runs (its acknowledged values); the
    // program's copy is drawn beside it where it differs, or alone, named as
    // such, when what the radio holds is not known (out of tuner mode, an
    // archive opened, the radio lost).
    const RadioValues& held = HeldValues();
    QList<QList<QPointF>> current = held.known() ? ItemPointValues(held.live(), currentItem) : QList<QList<QPointF>>{};
    QList<QList<QPointF>> copy = ItemPointValues(tunerImage, currentItem);
    const bool known = held.known();
    if (known && copy == current) copy.clear();
    if (currentItem == item_ && band == band_ && current == current_ && copy == copy_ && known == radioKnown_) return;
    current_ = std::move(current);
    copy_ = std::move(copy);
    radioKnown_ = known;
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

// The chart's title: the caption of the item's node in the tree, the same
// for every column of a power pair or triple (whichever column was chosen or
// saved last).
QString ItemTitle(int itemCode) {
    const QString caption = QString::fromStdString(ItemNodeCaption(itemCode, ui::LanguageLookup()));
    return caption.isEmpty() ? ui::StatusText("S0017") : caption;
}

// The names of the radio's own lines: one per column of a power pair or
// triple ("Low Level", "High Level"), else one line named as the radio.
QStringList ColumnNames(int itemCode, qsizetype lines) {
    QList<int> codes;
    const TuningItem* item = FindItem(itemCode);
    if (const auto triple = TripleOf(itemCode); triple && item != nullptr && item->page == Page::PowerMobile) {
        codes = {triple->low, triple->middle, triple->high};
    } else if (const auto pair = PairOf(itemCode); pair && item != nullptr && item->page == Page::Power) {
        codes = {pair->low, pair->high};
    }
    QStringList names;
    if (codes.size() == lines && lines > 1) {
        for (const int code : codes) names << QString::fromStdString(ItemColumnCaption(code, ui::LanguageLookup()));
    }
    return names;
}

// The values drawn so far: their range and the last point.
struct Extent {
    double low = 255;
    double high = 0;
    int lastPoint = 1;
};

// One line per array of the item, all of one kind under one legend entry.
// The reference is a broad light band under the radio's own thin line, so
// that both show where they agree; the radio's values carry markers.
void AddSeries(ui::Plot* plot, const QList<QList<QPointF>>& lists, const QString& name, Qt::PenStyle style,
               bool light, bool markers, Extent& extent, const QStringList& lineNames = {}) {
    for (int i = 0; i < lists.size(); ++i) {
        QCPGraph* graph = plot->addGraph();
        const bool named = i < lineNames.size() && !lineNames[i].isEmpty();
        graph->setName(named ? lineNames[i] : name);
        graph->setPen(ui::Plot::seriesPen(i, style, light));
        if (markers) graph->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssCircle, 6));
        QVector<double> keys, values;
        for (const QPointF& p : lists[i]) {
            keys << p.x();
            values << p.y();
            extent.low = std::min(extent.low, p.y());
            extent.high = std::max(extent.high, p.y());
            extent.lastPoint = std::max(extent.lastPoint, static_cast<int>(p.x()));
        }
        graph->setData(keys, values, true);
        // One legend entry per kind of series, or per named line.
        if (i > 0 && !named) graph->removeFromLegend();
    }
}

// Every point, with room for the markers at both ends; the values with a
// margin (0 to 255 when there are none), on whole numbers.
void SetRanges(ui::Plot* plot, Extent extent) {
    plot->xAxis->setRange(0.7, std::max(extent.lastPoint, 2) + 0.3);
    if (extent.high < extent.low) {
        extent.low = 0;
        extent.high = 255;
    }
    const double margin = std::max(4.0, std::ceil((extent.high - extent.low) * 0.15));
    plot->yAxis->setRange(std::max(0.0, extent.low - margin), extent.high + margin);
}

}  // namespace

void PointChart::rebuild() {
    plot_->clearGraphs();
    plot_->setTitle(ItemTitle(currentItem));
    plot_->xAxis->setLabel(ui::StatusText("S0021"));
    plot_->yAxis->setLabel(ui::StatusText("S0022"));

    Extent extent;
    AddSeries(plot_, reference_, ui::StatusText("S0019"), Qt::SolidLine, true, false, extent);
    if (haveFactory_) AddSeries(plot_, factory_, ui::StatusText("S0020"), Qt::DotLine, false, false, extent);
    AddSeries(plot_, current_, ui::StatusText("S0018"), Qt::SolidLine, false, true, extent,
              ColumnNames(currentItem, current_.size()));
    // The program's copy where it is not what the radio runs, named for what it is.
    if (!copy_.isEmpty())
        AddSeries(plot_, copy_, ui::StatusText(radioKnown_ ? "S0050" : "S0051"), Qt::DashLine, false, true, extent);
    SetRanges(plot_, extent);
    plot_->replot(QCustomPlot::rpQueuedReplot);
}

}  // namespace varnel::tuning
