#include "dialogs/TRecordsForm.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QSignalBlocker>
#include <QPushButton>
#include <QTableWidget>
#include <QThreadPool>
#include <QVBoxLayout>
#include <algorithm>

#include "ui/DialogSeam.h"
#include "ui/FeedbackTexts.h"
#include "ui/Records.h"
#include "lang/ItemNames.h"
#include "line/LineSettings.h"
#include "ui/Plot.h"
#include "lang/Loadlanguage.h"
#include "data/ItemTable.h"
#include "records/RecordExport.h"
#include "records/Recorder.h"

using namespace varnel;

namespace {

QString Tr(const char* key) { return QString::fromStdString(Text("Records", key)); }

// The events with the key of their name in section "Records".
struct EventName {
    const char* event;
    const char* key;
};
const EventName kEvents[] = {{record_event::kEnter, "R0050"},     {record_event::kLiveChange, "R0051"},
                             {record_event::kSaveItem, "R0052"},  {record_event::kWriteAll, "R0053"},
                             {record_event::kFactoryRead, "R0054"}, {record_event::kBackup, "R0055"},
                             {record_event::kLeave, "R0056"},     {record_event::kAlign, "R0057"},
                             {record_event::kLineAlarm, "R0058"}};

QPointer<TRecordsForm> openView;
const char* const kColumnKeys[] = {"R0020", "R0021", "R0022", "R0023", "R0024", "R0025", "R0026",
                                   "R0027", "R0028", "R0029", "R0030", "R0031", "R0032", "R0033"};
constexpr int kColumns = static_cast<int>(std::size(kColumnKeys));

QString OrEmpty(int v) { return v < 0 ? QString() : QString::number(v); }

// The detail of a record in the interface language. An alignment point is
// told from its fields (verdict, limits, reading, tries, step); the stored
// detail, which is English, stays in the cell's tooltip. Any other detail
// is a file name or an option and is shown as stored.
QString DetailText(const CalibrationRecord& r) {
    const QString stored = QString::fromStdString(r.detail);
    if (r.event != record_event::kAlign || r.verdict.empty() || !r.limitLow || !r.limitHigh) return stored;
    const char* verdictKey = r.verdict == record_verdict::kPass       ? "P0021"
                             : r.verdict == record_verdict::kMarginal ? "P0022"
                             : r.verdict == record_verdict::kFail     ? "P0023"
                             : r.verdict == record_verdict::kStopped  ? "P0024"
                                                                      : "P0025";
    const QString unit = QString::fromStdString(r.unit);
    const auto number = [](double v) { return QString::number(v, 'g', 6); };
    QString text = Tr("R0071").arg(QString::fromStdString(Text("Report", verdictKey)), number(*r.limitLow),
                                   number(*r.limitHigh), unit);
    if (r.reading) text += Tr("R0072").arg(QString::number(*r.reading, 'f', 3), unit);
    if (r.tries >= 0) text += Tr("R0073").arg(r.tries);
    if (!r.step.empty()) text += Tr("R0074").arg(QString::fromStdString(r.step));
    return text;
}

}  // namespace

QString TRecordsForm::itemCaption(int code) { return QString::fromStdString(ItemCaption(code)); }

QString TRecordsForm::eventName(const std::string& event) {
    for (const auto& e : kEvents)
        if (event == e.event) {
            const QString name = Tr(e.key);
            if (!name.isEmpty()) return name;
        }
    return QString::fromStdString(event);
}

TRecordsForm* TRecordsForm::showRecordsView(QWidget* parent) {
    if (openView.isNull()) {
        openView = new TRecordsForm(parent);
        openView->setAttribute(Qt::WA_DeleteOnClose);
        openView->setModal(false);
    }
    openView->show();
    openView->raise();
    openView->activateWindow();
    return openView;
}

TRecordsForm* TRecordsForm::currentView() { return openView.data(); }

TRecordsForm::~TRecordsForm() = default;

TRecordsForm::TRecordsForm(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("TRecordsForm"));
    resize(980, 480);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(buildFilterRow());
    layout->addWidget(buildGrid(), 1);

    StoreLabel = new QLabel(this);
    StoreLabel->setObjectName(QStringLiteral("StoreLabel"));
    StoreLabel->setWordWrap(true);
    layout->addWidget(StoreLabel);
    layout->addLayout(buildButtonRow());

    connect(SearchButton, &QPushButton::clicked, this, &TRecordsForm::SearchButtonClick);
    connect(SerialEdit, &QLineEdit::returnPressed, this, &TRecordsForm::SearchButtonClick);
    connect(ModelEdit, &QLineEdit::returnPressed, this, &TRecordsForm::SearchButtonClick);
    connect(ExportButton, &QPushButton::clicked, this, &TRecordsForm::ExportButtonClick);
    connect(StatsButton, &QPushButton::clicked, this, &TRecordsForm::StatsButtonClick);
    connect(ChartButton, &QPushButton::clicked, this, &TRecordsForm::ChartButtonClick);
    connect(CloseButton, &QPushButton::clicked, this, &QDialog::close);

    applyTexts();
    SearchButtonClick();
}

// Serial number, model and event, each with its caption, then Search.
QHBoxLayout* TRecordsForm::buildFilterRow() {
    auto* filters = new QHBoxLayout;
    const auto labelled = [&](const char* name, QWidget* field) {
        auto* label = new QLabel(this);
        label->setObjectName(QString::fromLatin1(name));
        label->setBuddy(field);
        filters->addWidget(label);
        filters->addWidget(field, 1);
    };
    SerialEdit = new QLineEdit(this);
    SerialEdit->setObjectName(QStringLiteral("SerialEdit"));
    ModelEdit = new QLineEdit(this);
    ModelEdit->setObjectName(QStringLiteral("ModelEdit"));
    EventBox = new QComboBox(this);
    EventBox->setObjectName(QStringLiteral("EventBox"));
    labelled("SerialLabel", SerialEdit);
    labelled("ModelLabel", ModelEdit);
    labelled("EventLabel", EventBox);
    SearchButton = new QPushButton(this);
    SearchButton->setObjectName(QStringLiteral("SearchButton"));
    SearchButton->setDefault(true);
    filters->addWidget(SearchButton);
    return filters;
}

QTableWidget* TRecordsForm::buildGrid() {
    RecordsGrid = new QTableWidget(0, kColumns, this);
    RecordsGrid->setObjectName(QStringLiteral("RecordsGrid"));
    RecordsGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    RecordsGrid->setSelectionBehavior(QAbstractItemView::SelectRows);
    RecordsGrid->verticalHeader()->hide();
    RecordsGrid->horizontalHeader()->setStretchLastSection(true);
    return RecordsGrid;
}

// The record count, Export and Close.
QHBoxLayout* TRecordsForm::buildButtonRow() {
    auto* bottom = new QHBoxLayout;
    CountLabel = new QLabel(this);
    CountLabel->setObjectName(QStringLiteral("CountLabel"));
    bottom->addWidget(CountLabel, 1);
    ExportButton = new QPushButton(this);
    ExportButton->setObjectName(QStringLiteral("ExportButton"));
    StatsButton = new QPushButton(this);
    StatsButton->setObjectName(QStringLiteral("StatsButton"));
    bottom->addWidget(StatsButton);
    ChartButton = new QPushButton(this);
    ChartButton->setObjectName(QStringLiteral("ChartButton"));
    bottom->addWidget(ChartButton);
    CloseButton = new QPushButton(this);
    CloseButton->setObjectName(QStringLiteral("CloseButton"));
    bottom->addWidget(ExportButton);
    bottom->addWidget(CloseButton);
    return bottom;
}

void TRecordsForm::applyTexts() {
    QFont f = font();
    f.setPointSize(FontPointsForDialogs());
    setFont(f);
    setWindowTitle(Tr("R0001"));
    findChild<QLabel*>(QStringLiteral("SerialLabel"))->setText(Tr("R0004"));
    findChild<QLabel*>(QStringLiteral("ModelLabel"))->setText(Tr("R0005"));
    findChild<QLabel*>(QStringLiteral("EventLabel"))->setText(Tr("R0006"));
    EventBox->clear();
    EventBox->addItem(Tr("R0007"), QString());
    for (const auto& e : kEvents) EventBox->addItem(Tr(e.key), QString::fromLatin1(e.event));
    SearchButton->setText(Tr("R0008"));
    ExportButton->setText(Tr("R0009"));
    StatsButton->setText(Tr("R0060"));
    ChartButton->setText(Tr("R0090"));
    CloseButton->setText(Tr("R0010"));
    QStringList headers;
    for (const char* key : kColumnKeys) headers << Tr(key);
    RecordsGrid->setHorizontalHeaderLabels(headers);
}

void TRecordsForm::SearchButtonClick() {
    std::shared_ptr<RecordStore> store = CalibrationRecorder().sharedStore();
    const unsigned search = ++search_;
    if (store == nullptr) {
        searching_ = false;
        records_.clear();
        RecordsGrid->setRowCount(0);
        StoreLabel->setText(Tr("R0012") + QLatin1Char(' ') + ui::LastRecordsError());
        CountLabel->clear();
        return;
    }
    const RecordFilter filter = currentFilter();
    searching_ = true;
    StoreLabel->setText(Tr("R0042"));
    const QString where = Tr("R0011") + QLatin1Char(' ');
    const QString waiting = Tr("R0017");
    const QString setAside = Tr("R0041");
    QPointer<TRecordsForm> self(this);
    // The store answers on a thread of the pool; the answer is shown on the
    // user-interface thread, if the view is still there and asked for it last.
    QThreadPool::globalInstance()->start([store, filter, self, search, where, waiting, setAside] {
        auto list = store->list(filter);
        QString place = where + QString::fromStdString(store->describe());
        if (const std::size_t queued = store->queued(); queued > 0)
            place += QStringLiteral("; %1 %2").arg(queued).arg(waiting);
        if (const std::size_t kept = store->queueState().setAside; kept > 0) place += QStringLiteral("; ") + setAside.arg(kept);
        QMetaObject::invokeMethod(
            qApp,
            [self, search, list = std::move(list), place] {
                if (self.isNull() || self->search_ != search) return;
                self->showResult(list, place);
            },
            Qt::QueuedConnection);
    });
}

void TRecordsForm::showResult(const Result<std::vector<CalibrationRecord>>& list, const QString& where) {
    searching_ = false;
    records_.clear();
    RecordsGrid->setRowCount(0);
    if (!list) {
        StoreLabel->setText(Tr("R0012") + QLatin1Char(' ') + QString::fromStdString(list.error().text()));
        CountLabel->clear();
        return;
    }
    StoreLabel->setText(where);
    // Newest first.
    records_.assign(list->rbegin(), list->rend());
    RecordsGrid->setRowCount(static_cast<int>(records_.size()));
    for (int row = 0; row < static_cast<int>(records_.size()); ++row) {
        const CalibrationRecord& r = records_[static_cast<std::size_t>(row)];
        const QString cells[kColumns] = {QString::number(r.id),
                                         QString::fromStdString(r.recordedAt),
                                         QString::fromStdString(r.station),
                                         QString::fromStdString(r.operatorName),
                                         QString::fromStdString(r.modelName),
                                         QString::fromStdString(r.firmware),
                                         QString::fromStdString(r.serial),
                                         eventName(r.event),
                                         itemCaption(r.item),
                                         QString::fromStdString(BandCaption(r.band)),
                                         OrEmpty(r.point),
                                         OrEmpty(r.oldValue),
                                         OrEmpty(r.newValue),
                                         DetailText(r)};
        for (int c = 0; c < kColumns; ++c) RecordsGrid->setItem(row, c, new QTableWidgetItem(cells[c]));
        RecordsGrid->item(row, kColumns - 1)->setToolTip(QString::fromStdString(r.detail));
        if (r.item >= 0) RecordsGrid->item(row, 8)->setToolTip(QString::number(r.item));
    }
    RecordsGrid->resizeColumnsToContents();
    CountLabel->setText(QStringLiteral("%1 %2").arg(records_.size()).arg(Tr("R0016")));
}

void TRecordsForm::ExportButtonClick() {
    const QString path = ui::Dialogs().saveFileName(this, QString(), QString::fromStdString(Text("Files", "CsvFilter")),
                                                    QStringLiteral(".csv"));
    if (path.isEmpty()) return;
    const std::string csv = RecordsToCsv(records_);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(csv.data(), static_cast<qint64>(csv.size())) != static_cast<qint64>(csv.size())) {
        ui::Dialogs().message(this, ui::MessageKind::Error, QStringLiteral("Varnel"),
                              path + QStringLiteral(": ") + file.errorString(), ui::MessageButtons::Ok);
        return;
    }
    const QString saved = QString::fromStdString(Text("Files", "Exported"))
                              .replace(QStringLiteral("%1"), QString::number(records_.size()))
                              .replace(QStringLiteral("%2"), QDir::toNativeSeparators(path));
    CountLabel->setText(saved);
    ui::ShowStatusMessage(parentWidget(), saved);
}

RecordFilter TRecordsForm::currentFilter() const {
    RecordFilter filter;
    filter.serial = SerialEdit->text().trimmed().toStdString();
    filter.modelName = ModelEdit->text().trimmed().toStdString();
    filter.event = EventBox->currentData().toString().toStdString();
    return filter;
}

void TRecordsForm::StatsButtonClick() {
    if (stats_ == nullptr) {
        stats_ = new QDialog(this);
        stats_->setObjectName(QStringLiteral("StatsView"));
        stats_->setModal(false);
        stats_->resize(720, 320);
        stats_->setFont(font());
        stats_->setWindowTitle(Tr("R0061"));
        auto* layout = new QVBoxLayout(stats_);
        auto* byBox = new QComboBox(stats_);
        byBox->setObjectName(QStringLiteral("StatsByBox"));
        byBox->addItem(Tr("R0062"), static_cast<int>(LineStats::By::Station));
        byBox->addItem(Tr("R0063"), static_cast<int>(LineStats::By::Day));
        layout->addWidget(byBox);
        auto* grid = new QTableWidget(0, 7, stats_);
        grid->setObjectName(QStringLiteral("StatsGrid"));
        grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
        grid->verticalHeader()->hide();
        grid->horizontalHeader()->setStretchLastSection(true);
        grid->setHorizontalHeaderLabels(
            {Tr("R0064"), Tr("R0065"), Tr("R0069"), Tr("R0066"), Tr("R0067"), Tr("R0068"), Tr("R0110")});
        layout->addWidget(grid, 1);
        connect(byBox, &QComboBox::currentIndexChanged, this, [this] { refreshStats(); });
    }
    stats_->show();
    stats_->raise();
    refreshStats();
}

// The statistics of the records of the current filter (every event: the
// runs end with their sessions), from a thread of the pool.
void TRecordsForm::refreshStats() {
    std::shared_ptr<RecordStore> store = CalibrationRecorder().sharedStore();
    auto* grid = stats_->findChild<QTableWidget*>(QStringLiteral("StatsGrid"));
    const auto by = static_cast<LineStats::By>(stats_->findChild<QComboBox*>(QStringLiteral("StatsByBox"))->currentData().toInt());
    const unsigned run = ++statsRun_;
    grid->setRowCount(0);
    stats_->setProperty("statsReady", false);
    if (store == nullptr) return;
    RecordFilter filter = currentFilter();
    filter.event.clear();
    QPointer<TRecordsForm> self(this);
    QThreadPool::globalInstance()->start([store, filter, by, self, run] {
        LineStats stats(by);
        const Error e = store->forEach(filter, [&](const CalibrationRecord& r) {
            stats.add(r);
            return true;
        });
        std::vector<LineStatsRow> rows = stats.finish();
        const QString problem = e.ok() ? QString() : QString::fromStdString(e.text());
        QMetaObject::invokeMethod(
            qApp,
            [self, run, rows = std::move(rows), problem] {
                if (self.isNull() || self->statsRun_ != run || self->stats_ == nullptr) return;
                auto* grid = self->stats_->findChild<QTableWidget*>(QStringLiteral("StatsGrid"));
                self->stats_->setToolTip(problem);
                grid->setRowCount(static_cast<int>(rows.size()));
                for (int i = 0; i < static_cast<int>(rows.size()); ++i) {
                    const LineStatsRow& row = rows[static_cast<std::size_t>(i)];
                    const QString cells[7] = {
                        QString::fromStdString(row.group),
                        QString::number(row.runs),
                        QString::number(row.hours, 'f', 2),
                        row.hours > 0 ? QString::number(row.radiosPerHour(), 'f', 1) : QStringLiteral("-"),
                        row.firstRuns > 0 ? QStringLiteral("%1% (%2/%3)")
                                                .arg(100.0 * row.firstPassYield(), 0, 'f', 1)
                                                .arg(row.firstPassed)
                                                .arg(row.firstRuns)
                                          : QStringLiteral("-"),
                        QString::number(row.triesPerPoint(), 'f', 2),
                        // Each point once: passed, marginal, failed, stopped, not reached.
                        Tr("R0111")
                            .arg(row.passedPoints)
                            .arg(row.marginalPoints)
                            .arg(row.failedPoints)
                            .arg(row.stoppedPoints)
                            .arg(row.notReachedPoints)};
                    for (int c = 0; c < 7; ++c) grid->setItem(i, c, new QTableWidgetItem(cells[c]));
                }
                grid->resizeColumnsToContents();
                self->stats_->setProperty("statsReady", true);
            },
            Qt::QueuedConnection);
    });
}

// ---- control charts ---------------------------------------------------------

void TRecordsForm::ChartButtonClick() {
    if (chart_ == nullptr) {
        chart_ = new QDialog(this);
        chart_->setObjectName(QStringLiteral("ControlChartView"));
        chart_->setModal(false);
        chart_->resize(820, 520);
        chart_->setFont(font());
        chart_->setWindowTitle(Tr("R0091"));
        auto* layout = new QVBoxLayout(chart_);
        auto* pointBox = new QComboBox(chart_);
        pointBox->setObjectName(QStringLiteral("ChartPointBox"));
        layout->addWidget(pointBox);
        auto* plot = new ui::Plot(chart_);
        plot->setObjectName(QStringLiteral("ControlChartPlot"));
        plot->setMinimumHeight(320);
        layout->addWidget(plot, 1);
        auto* summary = new QLabel(chart_);
        summary->setObjectName(QStringLiteral("ChartSummary"));
        summary->setWordWrap(true);
        summary->setTextFormat(Qt::PlainText);
        layout->addWidget(summary);
        connect(pointBox, &QComboBox::currentIndexChanged, this, [this](int index) { drawChart(index); });
    }
    chart_->show();
    chart_->raise();
    refreshChart();
}

// The charts of the model in the filter, from a thread of the pool.
void TRecordsForm::refreshChart() {
    std::shared_ptr<RecordStore> store = CalibrationRecorder().sharedStore();
    const unsigned run = ++chartRun_;
    chart_->setProperty("chartReady", false);
    auto* pointBox = chart_->findChild<QComboBox*>(QStringLiteral("ChartPointBox"));
    pointBox->clear();
    drift_.reset();
    std::string model = ModelEdit->text().trimmed().toStdString();
    if (model.empty()) {
        for (const CalibrationRecord& r : records_)
            if (r.event == record_event::kAlign) {
                model = r.modelName;
                break;
            }
    }
    if (store == nullptr || model.empty()) {
        chart_->findChild<QLabel*>(QStringLiteral("ChartSummary"))->setText(Tr("R0092"));
        chart_->setProperty("chartReady", true);
        return;
    }
    const LineSettings settings = ReadLineSettings(settingsFile);
    ChartSettings charts;
    if (settings.chartRadios > 0) charts.radios = settings.chartRadios;
    if (settings.chartWindow) charts.limits = ChartSettings::Limits::LastRadios;
    QPointer<TRecordsForm> self(this);
    QThreadPool::globalInstance()->start([store, model, charts, self, run] {
        Result<DriftAnalysis> analysis = LoadDriftAnalysis(*store, model, std::string(), charts);
        auto result = analysis ? std::make_shared<DriftAnalysis>(std::move(analysis.value())) : nullptr;
        const QString problem = analysis ? QString() : QString::fromStdString(analysis.error().text());
        QMetaObject::invokeMethod(
            qApp,
            [self, run, result, problem] {
                if (self.isNull() || self->chartRun_ != run || self->chart_ == nullptr) return;
                self->drift_ = result;
                auto* box = self->chart_->findChild<QComboBox*>(QStringLiteral("ChartPointBox"));
                auto* summary = self->chart_->findChild<QLabel*>(QStringLiteral("ChartSummary"));
                if (!result || result->points.empty()) {
                    summary->setText(problem.isEmpty() ? Tr("R0092") : problem);
                    self->chart_->setProperty("chartReady", true);
                    return;
                }
                const QSignalBlocker quiet(box);
                for (const PointSeries& p : result->points)
                    box->addItem(QStringLiteral("%1 \u00b7 %2 \u00b7 %3 \u00b7 %4 %5")
                                     .arg(QString::fromStdString(p.step), itemCaption(p.item),
                                          QString::fromStdString(BandCaption(p.band)), Tr("R0093"))
                                     .arg(p.point));
                box->setCurrentIndex(0);
                self->drawChart(0);
                self->chart_->setProperty("chartReady", true);
            },
            Qt::QueuedConnection);
    });
}

// One point's chart: its final values over the radios, the centre line and
// the 3-sigma limits, the points that break a run rule marked.
void TRecordsForm::drawChart(int series) {
    if (!drift_ || series < 0 || series >= static_cast<int>(drift_->points.size())) return;
    const PointSeries& p = drift_->points[static_cast<std::size_t>(series)];
    auto* plot = chart_->findChild<ui::Plot*>(QStringLiteral("ControlChartPlot"));
    plot->clearGraphs();
    QVector<double> x, y, sx, sy;
    for (std::size_t i = 0; i < p.chart.points.size(); ++i) {
        x << static_cast<double>(i + 1);
        y << p.chart.points[i].value;
        if (p.chart.points[i].rule != RunRule::None) {
            sx << static_cast<double>(i + 1);
            sy << p.chart.points[i].value;
        }
    }
    QCPGraph* values = plot->addGraph();
    values->setName(Tr("R0094"));
    values->setPen(ui::Plot::seriesPen(0, Qt::SolidLine));
    values->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssDisc, 5));
    values->setData(x, y, true);
    const double last = std::max<double>(1, static_cast<double>(x.size()));
    if (p.chart.limits) {
        const ChartLimits& l = *p.chart.limits;
        const auto line = [&](double v, const QString& name, int pen, Qt::PenStyle style) {
            QCPGraph* g = plot->addGraph();
            g->setName(name);
            g->setPen(ui::Plot::seriesPen(pen, style));
            g->setData({1.0, last}, {v, v}, true);
        };
        line(l.centre, Tr("R0095"), 1, Qt::SolidLine);
        line(l.upper, Tr("R0096"), 2, Qt::DashLine);
        line(l.lower, Tr("R0096"), 2, Qt::DashLine);
        plot->graph(plot->graphCount() - 1)->removeFromLegend();
    }
    QCPGraph* marked = plot->addGraph();
    marked->setName(Tr("R0097"));
    marked->setLineStyle(QCPGraph::lsNone);
    marked->setPen(QPen(QColor(200, 20, 20)));
    marked->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssCircle, QPen(QColor(200, 20, 20), 2), Qt::NoBrush, 11));
    marked->setData(sx, sy, true);
    plot->setTitle(QStringLiteral("%1, %2, %3 %4").arg(itemCaption(p.item), QString::fromStdString(BandCaption(p.band)),
                                                      Tr("R0093")).arg(p.point));
    plot->xAxis->setLabel(Tr("R0098"));
    plot->yAxis->setLabel(Tr("R0099"));
    ui::Plot::setWholeTicks(plot->xAxis, x.size() <= 30);
    plot->rescaleAxes();
    plot->xAxis->setRange(0.5, last + 0.5);
    plot->yAxis->scaleRange(1.2);
    plot->replot(QCustomPlot::rpQueuedReplot);
    // Cpk, the signals, and the line alarm of the model.
    QStringList lines;
    lines << Tr("R0100")
                 .arg(p.cpk ? QString::number(*p.cpk, 'f', 2) : QStringLiteral("\u2014"))
                 .arg(p.chart.signalCount())
                 .arg(p.radios.size());
    for (const DriftAlarm& a : drift_->alarms) lines << Tr("R0101").arg(QString::fromStdString(DriftAlarmText(a)));
    chart_->findChild<QLabel*>(QStringLiteral("ChartSummary"))->setText(lines.join(QLatin1Char('\n')));
}
