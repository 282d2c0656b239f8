// A small chart of the selected item's values across its calibration
// points, with the same values from a reference image (the last backup of
// this model, else the image as it was when the window opened; a broad light
// band) and, once it has been read, the radio's factory copy (dotted). An outlier point stands out at
// once; the chart follows every live change the radio acknowledges. Where
// the program's copy (tunerImage) is not what the radio runs, it is drawn
// dashed beside it and named so.
#pragma once

#include <QList>
#include <QPointF>
#include <QWidget>
#include <filesystem>
#include <optional>

#include "data/RadioInfo.h"
#include "data/TunerImage.h"

class QTimer;

namespace varnel::ui {
class Plot;
}

namespace varnel::tuning {

// The image the chart compares against: the newest archive in
// "<program directory>/Default Data/backups/" of the same radio as `info`
// (model, code, variant, size) whose image differs from `fallback`, else
// `fallback` (the image as read at entry).
TunerImage ReferenceImage(const RadioInfo& info, const TunerImage& fallback);
// The same search in a given folder, passing over archives whose image
// equals `skip`; nothing when no archive fits.
std::optional<TunerImage> NewestBackupOfModel(const std::filesystem::path& folder, const RadioInfo& info,
                                              const TunerImage* skip = nullptr);

// The values a chart shows for an item code: one list of (point, value) per
// array of the item (a power pair or triple gives two or three lists, an FSK
// block its column A), in the current band. Empty for items without points.
QList<QList<QPointF>> ItemPointValues(const TunerImage& image, int itemCode);

class PointChart : public QWidget {
    Q_OBJECT
public:
    explicit PointChart(QWidget* parent = nullptr);

    void setReference(const TunerImage& image);
    void setFactory(const TunerImage& image);
    bool hasFactory() const { return haveFactory_; }

    // Reads the current item's values again from the tuner image; redraws
    // only when something changed. Runs on its own timer as well.
    void refresh();
    // Shows every text again in the current language.
    void retranslate();

    // What is drawn, for tests: the series of this radio, of the reference
    // and of the factory copy (each a list per array).
    // "This radio" is what the radio runs (empty when that is not known).
    const QList<QList<QPointF>>& currentValues() const { return current_; }
    // The program's copy where it differs from what the radio runs, or all
    // of it when that is not known (else empty); its legend entry says which.
    const QList<QList<QPointF>>& programCopyValues() const { return copy_; }
    bool radioKnown() const { return radioKnown_; }
    const QList<QList<QPointF>>& referenceValues() const { return reference_; }
    const QList<QList<QPointF>>& factoryValues() const { return factory_; }
    int shownItem() const { return item_; }
    // The plot itself (axes, legend, graphs), for tests.
    ui::Plot* plot() const { return plot_; }
    QSize sizeHint() const override { return {240, 240}; }

protected:
    void changeEvent(QEvent* event) override;

private:
    void rebuild();

    ui::Plot* plot_ = nullptr;
    QTimer* timer_ = nullptr;
    TunerImage referenceImage_;
    TunerImage factoryImage_;
    bool haveFactory_ = false;
    int item_ = -1;
    int band_ = -1;
    QList<QList<QPointF>> current_;
    QList<QList<QPointF>> copy_;
    bool radioKnown_ = false;
    QList<QList<QPointF>> reference_;
    QList<QList<QPointF>> factory_;
};

}  // namespace varnel::tuning
