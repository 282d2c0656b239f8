#include "dialogs/TRecordsForm.h"

#include <QComboBox>
#include <QFile>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "ui/DialogSeam.h"
#include "ui/Records.h"
#include "lang/Loadlanguage.h"
#include "records/Recorder.h"

using namespace varnel;

namespace {

QString Tr(const char* key) { return QString::fromStdString(Text("Records", key)); }

const char* const kEvents[] = {record_event::kEnter,  record_event::kLiveChange, record_event::kSaveItem,
                               record_event::kWriteAll, record_event::kFactoryRead, record_event::kBackup,
                               record_event::kLeave};
const char* const kColumnKeys[] = {"R0020", "R0021", "R0022", "R0023", "R0024", "R0025", "R0026",
                                   "R0027", "R0028", "R0029", "R0030", "R0031", "R0032", "R0033"};
constexpr int kColumns = static_cast<int>(std::size(kColumnKeys));

QString OrEmpty(int v) { return v < 0 ? QString() : QString::number(v); }

}  // namespace

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
    connect(CloseButton, &QPushButton::clicked, this, &QDialog::reject);

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
    for (const char* e : kEvents) EventBox->addItem(QString::fromLatin1(e), QString::fromLatin1(e));
    SearchButton->setText(Tr("R0008"));
    ExportButton->setText(Tr("R0009"));
    CloseButton->setText(Tr("R0010"));
    QStringList headers;
    for (const char* key : kColumnKeys) headers << Tr(key);
    RecordsGrid->setHorizontalHeaderLabels(headers);
}

void TRecordsForm::SearchButtonClick() {
    records_.clear();
    RecordsGrid->setRowCount(0);
    RecordStore* store = CalibrationRecorder().store();
    if (store == nullptr) {
        StoreLabel->setText(Tr("R0012") + QLatin1Char(' ') + ui::LastRecordsError());
        CountLabel->clear();
        return;
    }
    RecordFilter filter;
    filter.serial = SerialEdit->text().trimmed().toStdString();
    filter.modelName = ModelEdit->text().trimmed().toStdString();
    filter.event = EventBox->currentData().toString().toStdString();
    auto list = store->List(filter);
    QString where = Tr("R0011") + QLatin1Char(' ') + QString::fromStdString(store->Describe());
    if (const std::size_t queued = store->Queued(); queued > 0)
        where += QStringLiteral("; %1 %2").arg(queued).arg(Tr("R0017"));
    if (!list) {
        StoreLabel->setText(Tr("R0012") + QLatin1Char(' ') + QString::fromStdString(list.error().Text()));
        CountLabel->clear();
        return;
    }
    StoreLabel->setText(where);
    records_ = std::move(*list);
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
                                         QString::fromStdString(r.event),
                                         OrEmpty(r.item),
                                         r.band < 0 ? QString() : (r.band == 0 ? QStringLiteral("400-470 MHz") : QStringLiteral("136-174 MHz")),
                                         OrEmpty(r.point),
                                         OrEmpty(r.oldValue),
                                         OrEmpty(r.newValue),
                                         QString::fromStdString(r.detail)};
        for (int c = 0; c < kColumns; ++c) RecordsGrid->setItem(row, c, new QTableWidgetItem(cells[c]));
    }
    RecordsGrid->resizeColumnsToContents();
    CountLabel->setText(QStringLiteral("%1 %2").arg(records_.size()).arg(Tr("R0016")));
}

void TRecordsForm::ExportButtonClick() {
    const QString path = ui::Dialogs().saveFileName(this, QString(), QStringLiteral("CSV Files (*.csv)|*.csv"),
                                                    QStringLiteral(".csv"));
    if (path.isEmpty()) return;
    const std::string csv = RecordsToCsv(records_);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(csv.data(), static_cast<qint64>(csv.size())) != static_cast<qint64>(csv.size())) {
        ui::Dialogs().message(this, ui::MessageKind::Error, QStringLiteral("Varnel"),
                              path + QStringLiteral(": ") + file.errorString(), ui::MessageButtons::Ok);
    }
}
