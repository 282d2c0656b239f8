#include "dialogs/TAlignForm.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QDateTime>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QTableWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <optional>
#include <thread>

#include "align/AlignHistory.h"
#include "align/AlignRecords.h"
#include "data/Global.h"
#include "dialogs/AlignPlot.h"
#include "instrument/VirtualInstrument.h"
#include "lang/DataFolders.h"
#include "lang/Loadlanguage.h"
#include "line/LineDrift.h"
#include "line/LineSettings.h"
#include "protocol/Sendcmd.h"
#include "records/Recorder.h"
#include "report/RadioReport.h"
#include "report/ReportPdf.h"
#include "sim/VirtualBackend.h"
#include "ui/AppFonts.h"
#include "ui/DialogSeam.h"
#include "ui/Records.h"
#include "ui/Selection.h"

using namespace varnel;

namespace {

QString Tr(const char* key) { return QString::fromStdString(Text("Align", key)); }

void SetHint(QAction* action, const QString& hint) {
    action->setToolTip(hint.section(QLatin1Char('|'), 0, 0));
    action->setStatusTip(hint);
}

VirtualBackend* virtualHost() { return dynamic_cast<VirtualBackend*>(CurrentDeviceBackend()); }

// The example procedures: beside the program's language files (the build
// tree, or <prefix>/share/varnel-tuner when installed), else beside the
// executable.
QDir procedureDirectory() {
    const std::filesystem::path candidates[] = {ProgramDirectory() / "procedures",
                                                LanguageFolder(ExecutableDirectory()) / "procedures",
                                                ExecutableDirectory() / "procedures"};
    for (const std::filesystem::path& p : candidates) {
        const QDir dir(QString::fromStdString(p.string()));
        if (!p.empty() && dir.exists()) return dir;
    }
    return QDir(QString::fromStdString(candidates[0].string()));
}

enum ResultColumn { kStep, kPoint, kTarget, kFinal, kReading, kTries, kResult, kColumns };

QLabel* NamedLabel(QWidget* parent, const char* name) {
    auto* l = new QLabel(parent);
    l->setObjectName(QString::fromLatin1(name));
    return l;
}

QPushButton* NamedButton(QWidget* parent, const char* name) {
    auto* b = new QPushButton(parent);
    b->setObjectName(QString::fromLatin1(name));
    return b;
}

}  // namespace

QAction* TAlignForm::addMenuEntry(QWidget* owner, QMenu* menu) {
    auto* action = menu->addAction(Tr("A0001"));
    action->setObjectName(QStringLiteral("AutoAlignItem"));
    SetHint(action, Tr("A0002"));
    // The caption follows the language whenever the menu opens.
    QObject::connect(menu, &QMenu::aboutToShow, action, [action] {
        action->setText(Tr("A0001"));
        SetHint(action, Tr("A0002"));
    });
    QObject::connect(action, &QAction::triggered, owner, [owner] {
        auto* form = owner->findChild<TAlignForm*>(QStringLiteral("TAlignForm"));
        if (form == nullptr) form = new TAlignForm(owner);
        form->applyTexts();
        form->show();
        form->raise();
        form->activateWindow();
    });
    return action;
}

TAlignForm::TAlignForm(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("TAlignForm"));
    setWindowFlag(Qt::WindowMaximizeButtonHint, true);
    setModal(false);
    buildControls();
    fillProcedures();
    applyTexts();
    updateReportButton();
    resize(980, 640);
}

TAlignForm::~TAlignForm() {
    if (engine_ != nullptr) engine_->stop();
}

void TAlignForm::buildControls() {
    setFont(ui::ProgramFont(FontPointsForDialogs()));
    QGridLayout* grid = buildChoices();
    buildStepTable();
    buildChart();
    buildResultTable();
    StatusLabel = NamedLabel(this, "StatusLabel");
    StatusLabel->setWordWrap(true);
    HeaderLabel = NamedLabel(this, "HeaderLabel");
    HeaderLabel->setWordWrap(true);
    HeaderLabel->setTextFormat(Qt::PlainText);
    AlarmLabel = NamedLabel(this, "AlarmLabel");
    AlarmLabel->setWordWrap(true);
    AlarmLabel->setTextFormat(Qt::PlainText);
    AlarmLabel->setStyleSheet(QStringLiteral("QLabel { background: #ffd24d; color: #5a0000; font-weight: bold; }"));
    AlarmLabel->hide();
    LogList = new QListWidget(this);
    LogList->setObjectName(QStringLiteral("LogList"));

    auto* top = new QSplitter(Qt::Horizontal, this);
    top->addWidget(StepTable);
    top->addWidget(ChartView);
    top->setStretchFactor(1, 1);
    auto* split = new QSplitter(Qt::Vertical, this);
    split->addWidget(top);
    split->addWidget(ResultTable);
    split->addWidget(LogList);
    split->setStretchFactor(1, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(HeaderLabel);
    layout->addWidget(AlarmLabel);
    layout->addWidget(split, 1);
    layout->addWidget(StatusLabel);

    connect(RunButton, &QPushButton::clicked, this, &TAlignForm::RunButtonClick);
    connect(StopButton, &QPushButton::clicked, this, &TAlignForm::StopButtonClick);
    connect(ProcedureButton, &QPushButton::clicked, this, &TAlignForm::ProcedureButtonClick);
    connect(ModelButton, &QPushButton::clicked, this, &TAlignForm::ModelButtonClick);
    connect(ReportButton, &QPushButton::clicked, this, &TAlignForm::ReportButtonClick);
    connect(CloseButton, &QPushButton::clicked, this, &TAlignForm::reject);
}

// The instrument, its model and the procedure, with the Run and Stop buttons.
QGridLayout* TAlignForm::buildChoices() {
    auto* grid = new QGridLayout;
    InstrumentBox = new QComboBox(this);
    InstrumentBox->setObjectName(QStringLiteral("InstrumentBox"));
    InstrumentBox->setEditable(true);
    if (virtualHost() != nullptr) InstrumentBox->addItem(QStringLiteral("virtual"));
    InstrumentBox->addItems({QStringLiteral("tcp://192.168.1.20:5025"), QStringLiteral("lxi://192.168.1.20"),
                             QStringLiteral("usbtmc:///dev/usbtmc0")});
    ModelEdit = new QLineEdit(this);
    ModelEdit->setObjectName(QStringLiteral("ModelEdit"));
    ModelButton = NamedButton(this, "ModelButton");
    ProcedureBox = new QComboBox(this);
    ProcedureBox->setObjectName(QStringLiteral("ProcedureBox"));
    ProcedureBox->setEditable(true);
    ProcedureBox->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    ProcedureButton = NamedButton(this, "ProcedureButton");
    RunButton = NamedButton(this, "RunButton");
    StopButton = NamedButton(this, "StopButton");
    StopButton->setEnabled(false);
    grid->addWidget(NamedLabel(this, "Label1"), 0, 0);
    grid->addWidget(InstrumentBox, 0, 1);
    grid->addWidget(NamedLabel(this, "Label2"), 1, 0);
    grid->addWidget(ModelEdit, 1, 1);
    grid->addWidget(ModelButton, 1, 2);
    grid->addWidget(NamedLabel(this, "Label3"), 2, 0);
    grid->addWidget(ProcedureBox, 2, 1);
    grid->addWidget(ProcedureButton, 2, 2);
    grid->addWidget(RunButton, 0, 3);
    grid->addWidget(StopButton, 1, 3);
    ReportButton = NamedButton(this, "btn_report");
    grid->addWidget(ReportButton, 2, 3);
    CloseButton = NamedButton(this, "CloseButton");
    CloseButton->setAutoDefault(false);
    grid->addWidget(CloseButton, 3, 3);
    grid->setColumnStretch(1, 1);
    return grid;
}

void TAlignForm::buildStepTable() {
    StepTable = new QTableWidget(0, 2, this);
    StepTable->setObjectName(QStringLiteral("StepTable"));
    StepTable->verticalHeader()->setVisible(false);
    StepTable->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    StepTable->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Fixed);
    StepTable->setColumnWidth(1, 110);
    StepTable->setMinimumWidth(380);
    StepTable->setWordWrap(false);
    StepTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    StepTable->setSelectionMode(QAbstractItemView::NoSelection);
}

// The current point's chart: the readings against the value, and the target.
void TAlignForm::buildChart() {
    ChartView = new AlignPlot(this);
    ChartView->setObjectName(QStringLiteral("ChartView"));
}

void TAlignForm::buildResultTable() {
    ResultTable = new QTableWidget(0, kColumns, this);
    ResultTable->setObjectName(QStringLiteral("ResultTable"));
    ResultTable->verticalHeader()->setVisible(false);
    ResultTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ResultTable->horizontalHeader()->setSectionResizeMode(kStep, QHeaderView::Stretch);
}

void TAlignForm::applyTexts() {
    setFont(ui::ProgramFont(FontPointsForDialogs()));
    setWindowTitle(Tr("A0003"));
    CloseButton->setText(Tr("A0044"));
    // The results already shown take the language too.
    for (int row = 0; row < ResultTable->rowCount(); ++row) {
        QTableWidgetItem* result = ResultTable->item(row, kResult);
        const QByteArray key = result != nullptr ? result->data(Qt::UserRole).toByteArray() : QByteArray();
        if (!key.isEmpty()) result->setText(Tr(key.constData()));
    }
    if (status_) StatusLabel->setText(status_());
    findChild<QLabel*>(QStringLiteral("Label1"))->setText(Tr("A0004"));
    findChild<QLabel*>(QStringLiteral("Label2"))->setText(Tr("A0005"));
    findChild<QLabel*>(QStringLiteral("Label3"))->setText(Tr("A0006"));
    ModelButton->setText(Tr("A0007"));
    ProcedureButton->setText(Tr("A0007"));
    RunButton->setText(Tr("A0008"));
    StopButton->setText(Tr("A0009"));
    ReportButton->setText(QString::fromStdString(Text("Report", "P0031")));
    ReportButton->setToolTip(QString::fromStdString(Text("Report", "P0032")).section(QLatin1Char('|'), 1));
    ModelEdit->setPlaceholderText(Tr("A0028"));
    StepTable->setHorizontalHeaderLabels({Tr("A0010"), Tr("A0011")});
    ResultTable->setHorizontalHeaderLabels(
        {Tr("A0010"), Tr("A0012"), Tr("A0013"), Tr("A0014"), Tr("A0015"), Tr("A0016"), Tr("A0017")});
    ChartView->applyTexts();
}

QString TAlignForm::defaultProcedure() const {
    QString model;
    if (inTunerMode) {
        model = radioInfo.largeModel() ? QStringLiteral("large")
                                       : QStringLiteral("variant%1").arg(radioInfo.modelVariant());
    } else if (VirtualBackend* host = virtualHost()) {
        model = QString::fromLatin1(VirtualPresetName(host->radio().preset()).data());
    }
    const QDir dir = procedureDirectory();
    if (!model.isEmpty() && dir.exists(model + QStringLiteral(".json")))
        return QDir::toNativeSeparators(dir.filePath(model + QStringLiteral(".json")));
    return ProcedureBox->count() > 0 ? ProcedureBox->itemText(0) : QString();
}

void TAlignForm::fillProcedures() {
    ProcedureBox->clear();
    const QDir dir = procedureDirectory();
    for (const QString& name : dir.entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name))
        ProcedureBox->addItem(QDir::toNativeSeparators(dir.filePath(name)));
    const QString chosen = defaultProcedure();
    const int at = ProcedureBox->findText(chosen);
    if (at >= 0) ProcedureBox->setCurrentIndex(at);
}

void TAlignForm::ProcedureButtonClick() {
    const QString file = ui::Dialogs().openFileName(this, procedureDirectory().path(),
                                                    QStringLiteral("JSON Files (*.json)|*.json"));
    if (file.isEmpty()) return;
    ProcedureBox->setEditText(QDir::toNativeSeparators(file));
}

void TAlignForm::ModelButtonClick() {
    const QString file = ui::Dialogs().openFileName(this, procedureDirectory().filePath(QStringLiteral("instruments")),
                                                    QStringLiteral("JSON Files (*.json)|*.json"));
    if (!file.isEmpty()) ModelEdit->setText(QDir::toNativeSeparators(file));
}

void TAlignForm::fail(const QString& text) {
    status_ = {};
    StatusLabel->setText(Tr("A0027").arg(text));
    ui::Dialogs().message(this, ui::MessageKind::Error, QStringLiteral("Varnel"), Tr("A0027").arg(text),
                          ui::MessageButtons::Ok);
}

void TAlignForm::note(const QString& text) {
    LogList->addItem(QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss  ")) + text);
    LogList->scrollToBottom();
}

// The fixture, its path loss and the instrument's calibration from
// setting.ini; false after telling the operator why the run cannot start.
bool TAlignForm::prepareLine(TraceContext& trace, PathLoss& loss) {
    const std::string file = settingsFile.string();
    const LineSettings settings = ReadLineSettings(settingsFile);
    trace.fixtureId = settings.fixtureId;
    if (!settings.pathLossFile.empty()) {
        Result<PathLoss> table = LoadPathLoss(settings.pathLossFile);
        if (!table) {
            fail(QString::fromStdString(table.error().text()));
            return false;
        }
        loss = table.value();
        trace.pathLoss = loss.recordText();
    }
    Result<CalibrationCheck> due = CheckCalibrationDue(settings.calibrationDue, LocalToday(), file + " [instrument] calibrationDue");
    if (!due) {
        fail(QString::fromStdString(due.error().text()));
        return false;
    }
    trace.calibrationDue = due->due;
    overdueSince_.clear();
    if (due->state == CalibrationState::Overdue) {
        if (settings.strict) {
            fail(Tr("A0033").arg(QString::fromStdString(due->due)));
            return false;
        }
        note(Tr("A0032").arg(QString::fromStdString(due->due)));
        // Where the operator looks: the status line, and the header in red;
        // every record of the run is flagged.
        overdueSince_ = due->due;
        trace.calibrationOverdue = true;
        showStatus([due = QString::fromStdString(due->due)] { return Tr("A0052").arg(due); });
    }
    if (!trace.fixtureId.empty() || !trace.pathLoss.empty())
        note(Tr("A0034").arg(QString::fromStdString(trace.fixtureId), QString::fromStdString(trace.pathLoss)));
    return true;
}

bool TAlignForm::ensureTunerMode() {
    if (inTunerMode && linkHandle) return true;
    // Enter it the way the operator would, through the main window's button,
    // so that the main window and its tuning window know about it.
    QWidget* owner = parentWidget();
    auto* enter = owner != nullptr ? owner->findChild<QToolButton*>(QStringLiteral("SpeedButton4")) : nullptr;
    if (enter == nullptr) return true;  // on its own: the engine enters tuner mode itself
    enter->click();
    QElapsedTimer clock;
    clock.start();
    while (!inTunerMode && clock.elapsed() < 5000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        if (!inTunerMode) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return inTunerMode;
}

void TAlignForm::showSteps(const Procedure& procedure) {
    StepTable->setRowCount(0);
    ResultTable->setRowCount(0);
    for (const ProcedureStep& step : procedure.steps) {
        const int row = StepTable->rowCount();
        StepTable->insertRow(row);
        StepTable->setItem(row, 0, new QTableWidgetItem(QString::fromStdString(step.name)));
        auto* bar = new QProgressBar(StepTable);
        bar->setObjectName(QStringLiteral("StepProgress%1").arg(row + 1));
        bar->setRange(0, static_cast<int>(step.points.size()));
        bar->setValue(0);
        bar->setFormat(QStringLiteral("%v / %m"));
        StepTable->setCellWidget(row, 1, bar);
    }
}

void TAlignForm::startPoint(int step, const PointResult& point) {
    currentStep_ = step;
    StepTable->selectRow(step);
    StepTable->scrollToItem(StepTable->item(step, 0));
    ChartView->startPoint(QStringLiteral("%1, %2 %3").arg(QString::fromStdString(point.step), Tr("A0012")).arg(point.point),
                          point.target, point.tolerance);
    const QString stepName = QString::fromStdString(point.step);
    const int number = point.point;
    showStatus([stepName, number] { return Tr("A0023").arg(stepName).arg(number); });
}

void TAlignForm::addTry(const AlignTry& attempt) { ChartView->addTry(attempt.value, attempt.reading); }

void TAlignForm::finishPoint(const PointResult& p) {
    const int row = ResultTable->rowCount();
    ResultTable->insertRow(row);
    auto cell = [&](int column, const QString& text) {
        auto* item = new QTableWidgetItem(text);
        if (column != kStep) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        ResultTable->setItem(row, column, item);
        return item;
    };
    const QString unit = QString::fromStdString(p.unit);
    cell(kStep, QString::fromStdString(p.step));
    cell(kPoint, QString::number(p.point));
    cell(kTarget, QStringLiteral("%1 ± %2 %3").arg(p.target).arg(p.tolerance).arg(unit));
    cell(kFinal, QString::number(p.finalValue));
    cell(kReading, p.reading ? QStringLiteral("%1 %2").arg(*p.reading, 0, 'f', 3).arg(unit) : QStringLiteral("—"));
    cell(kTries, QString::number(p.tries));
    showResult(row, p);
    rows_.push_back({p.stepIndex, p.point});
    ResultTable->scrollToBottom();
    // A stopped point is not done, nor one the run did not come to.
    auto* bar = qobject_cast<QProgressBar*>(StepTable->cellWidget(p.stepIndex, 1));
    if (bar != nullptr && !p.stopped && p.reached()) bar->setValue(bar->value() + 1);
}

// The result of a point as far as it is known: once its step is saved it
// says what the radio keeps.
void TAlignForm::showResult(int row, const PointResult& p) {
    // A stopped point is neither passed nor failed: it went back to its value before the run.
    const char* key = "A0019";
    QColor ink(Qt::red);
    if (!p.reached()) {
        key = "A0064";
        ink = QColor(Qt::darkGray);
    } else if (p.kept == PointKept::NotStored) {
        key = "A0063";
    } else if (p.pass) {
        key = MarginalPass(p) ? "A0062" : "A0018";
        ink = MarginalPass(p) ? QColor(0xB0, 0x6A, 0x00) : QColor(Qt::darkGreen);
    } else if (p.stopped) {
        key = "A0030";
        ink = palette().color(QPalette::Text);
    }
    auto* result = new QTableWidgetItem(Tr(key));
    result->setData(Qt::UserRole, QByteArray(key));  // made again after a language switch
    result->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    result->setForeground(ink);
    if (!p.note.empty()) result->setToolTip(QString::fromStdString(p.note));
    ResultTable->setItem(row, kResult, result);
    if (QTableWidgetItem* final = ResultTable->item(row, kFinal)) final->setText(QString::number(p.finalValue));
}

// A point's outcome is final: its row says what the radio keeps; a point
// the run never came to gets a row of its own.
void TAlignForm::settlePoint(const PointResult& p) {
    for (int row = 0; row < static_cast<int>(rows_.size()); ++row) {
        if (rows_[static_cast<std::size_t>(row)] == std::pair{p.stepIndex, p.point}) {
            showResult(row, p);
            return;
        }
    }
    finishPoint(p);
}

// The instrument model of the model file, the virtual test set's without one;
// nothing after telling the operator why not.
std::optional<InstrumentModel> TAlignForm::chosenModel() {
    InstrumentModel model = VirtualTestSetModel();
    if (!ModelEdit->text().trimmed().isEmpty()) {
        Result<InstrumentModel> loaded = LoadInstrumentModel(ModelEdit->text().trimmed().toStdString());
        if (!loaded) {
            fail(QString::fromStdString(loaded.error().text()));
            return std::nullopt;
        }
        model = loaded.value();
    }
    return model;
}

// The instrument's address; "virtual" starts the virtual test set on the
// virtual radio (once). Nothing after telling the operator why not.
std::optional<QString> TAlignForm::instrumentUrl() {
    QString url = InstrumentBox->currentText().trimmed();
    if (url == QLatin1String("virtual")) {
        VirtualBackend* host = virtualHost();
        if (host == nullptr) {
            fail(QStringLiteral("virtual"));
            return std::nullopt;
        }
        if (!virtualInstrument_) {
            virtualInstrument_ = std::make_unique<VirtualInstrument>(host->sharedRadio());
            if (Error e = virtualInstrument_->start(); !e.ok()) {
                virtualInstrument_.reset();
                fail(QString::fromStdString(e.text()));
                return std::nullopt;
            }
        }
        url = QString::fromStdString(virtualInstrument_->url());
    }
    return url;
}

// The main window's tuning window, if there is one (the dialogs do not know
// its class: it is found by its name, like its timers).
QWidget* TAlignForm::tuningWindow() const {
    QWidget* owner = parentWidget();
    return owner != nullptr ? owner->findChild<QWidget*>(QStringLiteral("MDIChild")) : nullptr;
}

// One command outstanding at a time: the tuning window's periodic
// read-backs stop for the run (the operator keys the page again after).
void TAlignForm::pauseTuningTimers() {
    if (QWidget* owner = parentWidget()) {
        for (const char* name : {"CheckTimer", "ReadTimer", "ErrorRateTimer", "MandownTimer"})
            for (QTimer* timer : owner->findChildren<QTimer*>(QString::fromLatin1(name))) timer->stop();
    }
}

// The run's progress in the window: steps, chart and results; the window
// stays alive while the engine waits.
AlignEvents TAlignForm::runEvents() {
    AlignEvents events;
    events.pointStarted = [this](int step, int, const PointResult& p) { startPoint(step, p); };
    events.tried = [this](const AlignTry& t) { addTry(t); };
    events.pointDone = [this](const PointResult& p) { finishPoint(p); };
    events.pointSettled = [this](const PointResult& p) { settlePoint(p); };
    // The run's keying is the program's keying: the status bar shows it.
    events.keying = [](bool receive, bool on) { (receive ? rxKeyed : txKeyed) = on; };
    events.idle = [] { QCoreApplication::processEvents(); };
    return events;
}

// How the run ended, in the status line; closes the window if asked to
// while it ran.
void TAlignForm::showOutcome() {
    RunButton->setEnabled(true);
    StopButton->setEnabled(false);
    // Every point in one count: a stopped point is no failure, and the
    // points the run did not come to are counted as not reached.
    const PointCounts c = report_.counts();
    const auto counts = [c] {
        return Tr("A0061").arg(c.passed).arg(c.marginal).arg(c.failed).arg(c.stopped).arg(c.notReached).arg(c.total());
    };
    if (report_.stopped) {
        showStatus([counts] { return Tr("A0025") + QStringLiteral("; ") + counts(); });
    } else if (!report_.error.ok()) {
        const QString reason = QString::fromStdString(report_.error.text());
        showStatus([reason, counts] { return Tr("A0026").arg(reason) + QStringLiteral("; ") + counts(); });
    } else {
        showStatus([counts] { return Tr("A0060").arg(counts()); });
    }
    if (!overdueSince_.empty()) {
        const std::function<QString()> outcome = status_;
        const QString due = QString::fromStdString(overdueSince_);
        showStatus([outcome, due] { return outcome() + QStringLiteral("  ") + Tr("A0052").arg(due); });
    }
    updateReportButton();
    emit runFinished();
    if (closeAfterRun_) {
        closeAfterRun_ = false;
        close();
    }
}

void TAlignForm::RunButtonClick() {
    if (engine_ != nullptr) return;
    const std::string procedureFile = QDir::fromNativeSeparators(ProcedureBox->currentText()).toStdString();
    Result<Procedure> procedure = LoadProcedure(procedureFile);
    if (!procedure) return fail(QString::fromStdString(procedure.error().text()));
    const std::optional<InstrumentModel> model = chosenModel();
    if (!model) return;
    // A step the model cannot measure, and another instrument than the
    // model's, are refused before the radio is touched.
    if (Error e = CheckProcedureAgainstModel(procedure.value(), *model); !e.ok())
        return fail(QString::fromStdString(ErrorText(e)));
    const std::optional<QString> url = instrumentUrl();
    if (!url) return;
    Result<std::unique_ptr<Instrument>> instrument = OpenInstrument(url->toStdString(), std::chrono::milliseconds(2000));
    if (!instrument) return fail(QString::fromStdString(ErrorText(instrument.error())));
    Result<std::string> identity = IdentifyInstrument(*instrument.value(), *model);
    if (!identity) return fail(QString::fromStdString(ErrorText(identity.error())));
    // The operator's keying and the run's cannot overlap: the run keys and
    // unkeys points of its own, and would leave the tuning window's keying
    // showing what the radio no longer does.
    if (inTunerMode && (txKeyed || rxKeyed)) return fail(Tr("A0031"));
    TraceContext trace;
    PathLoss loss;
    if (!prepareLine(trace, loss)) return;
    if (!askSerialFirst()) return;
    if (!ensureTunerMode()) return fail(Tr("A0029"));
    if (!CalibrationRecorder().serial().empty())
        note(Tr("A0035").arg(QString::fromStdString(CalibrationRecorder().serial())));

    showSteps(procedure.value());
    rows_.clear();
    RunButton->setEnabled(false);
    StopButton->setEnabled(true);
    ReportButton->setEnabled(false);
    StopButton->setFocus();
    pauseTuningTimers();
    // The engine verifies every reply itself: the tuning window's verifying
    // timer must not poll the same replies meanwhile. Its log still shows
    // every frame.
    const SenderHooks saved = CurrentSenderHooks();
    SenderHooks hooks;
    hooks.logFrame = saved.logFrame;
    SetSenderHooks(hooks);

    // Nothing in the tuning window can send while the run goes on.
    QPointer<QWidget> tuning(tuningWindow());
    if (tuning) tuning->setEnabled(false);

    QPointer<TAlignForm> self(this);
    SendcmdAlignRadio radio([] { QCoreApplication::processEvents(); });
    AlignEngine engine(procedure.value(), radio, instrument.value().get(), *model);
    engine.setEvents(runEvents());
    engine.setPathLoss(loss);
    // Each point starts from what the radios of this model and firmware
    // before it needed, as on the command line.
    Error historyWarning;
    std::optional<Predictor> predictor = PredictorFromRecords(
        CalibrationRecorder().store(), radioInfo.modelName(), radioInfo.firmwareVersion(), &historyWarning);
    if (!historyWarning.ok()) note(QString::fromStdString(ErrorText(historyWarning)));
    note(Tr(predictor ? "A0042" : "A0043"));
    engine.setPredictor(std::move(predictor));
    // What the records tell about the run's set-up.
    TraceProcedureFile(trace, procedureFile);
    trace.instrumentIdn = identity.value();
    showHeader(trace);
    engine.setRecordSink(CalibrationRecordSink(trace));
    engine.setSaveSink(CalibrationSaveSink());
    engine_ = &engine;
    runStartedAt_ = UtcTimestampNow();
    report_ = engine.run();
    engine_ = nullptr;
    SetSenderHooks(saved);
    if (tuning) {
        // The page shows the values the run left, unkeyed as the radio is.
        tuning->setEnabled(true);
        QMetaObject::invokeMethod(tuning, "ReloadPageValues");
        QMetaObject::invokeMethod(tuning, "refreshModifiedMarker");
    }
    if (!self) return;
    checkLineDrift();
    showOutcome();
}

// On a line with a serial pattern the radio's serial is scanned before the
// radio is touched (before tuner mode is entered for the run); the entry
// then does not ask again.
bool TAlignForm::askSerialFirst() {
    const std::string patternText = settingsFile.empty() ? std::string() : ReadLineSettings(settingsFile).serialPattern;
    if (patternText.empty()) return true;
    Result<SerialPattern> pattern = SerialPattern::make(patternText, "[line] serialPattern");
    if (pattern && pattern->accepts(CalibrationRecorder().serial())) return true;
    const std::optional<QString> serial = ui::AskRadioSerial(this);
    if (!serial) return false;
    CalibrationRecorder().setSerial(serial->toStdString());
    if (!inTunerMode) ui::SerialTakenForNextEntry();
    return true;
}

// The run's header: the instrument and its calibration (an overdue one in
// red), the fixture and the radio's serial.
void TAlignForm::showHeader(const TraceContext& trace) {
    const auto orDash = [](const std::string& s) { return s.empty() ? QStringLiteral("\u2014") : QString::fromStdString(s); };
    QString due = orDash(trace.calibrationDue);
    if (!overdueSince_.empty()) due += QStringLiteral(" (") + Tr("A0047") + QLatin1Char(')');
    HeaderLabel->setText(Tr("A0045").arg(orDash(trace.instrumentIdn), due, orDash(trace.fixtureId),
                                         orDash(CalibrationRecorder().serial())));
    HeaderLabel->setStyleSheet(overdueSince_.empty() ? QString()
                                                     : QStringLiteral("QLabel { color: #c81414; font-weight: bold; }"));
    HeaderLabel->setProperty("overdue", !overdueSince_.empty());
}

// The model's control charts after the run: a line chart that signals at
// this radio is the line alarm (the window's notice, the status bar, a
// record of its own).
void TAlignForm::checkLineDrift() {
    RecordStore* store = CalibrationRecorder().store();
    if (store == nullptr || report_.points.empty()) return;
    (void)store->drain(std::chrono::seconds(5));
    const LineSettings settings = ReadLineSettings(settingsFile);
    ChartSettings charts;
    if (settings.chartRadios > 0) charts.radios = settings.chartRadios;
    if (settings.chartWindow) charts.limits = ChartSettings::Limits::LastRadios;
    Result<DriftAnalysis> analysis =
        LoadDriftAnalysis(*store, radioInfo.modelName(), radioInfo.firmwareVersion(), charts);
    if (!analysis) {
        note(QString::fromStdString(ErrorText(analysis.error())));
        return;
    }
    QStringList alarms;
    for (const DriftAlarm& alarm : analysis->alarms) {
        const std::string text = DriftAlarmText(alarm);
        alarms << QString::fromStdString(text);
        (void)CalibrationRecorder().lineAlarm(radioInfo, text);
    }
    const QString text = alarms.join(QStringLiteral("; "));
    ui::SetLineAlarm(text);
    AlarmLabel->setText(text.isEmpty() ? QString() : Tr("A0046").arg(text));
    AlarmLabel->setVisible(!text.isEmpty());
    if (!text.isEmpty()) note(Tr("A0046").arg(text));
}

void TAlignForm::StopButtonClick() {
    if (engine_ != nullptr) engine_->stop();
}

void TAlignForm::showStatus(std::function<QString()> text) {
    status_ = std::move(text);
    StatusLabel->setText(status_());
}

void TAlignForm::reject() {
    if (engine_ != nullptr) {
        engine_->stop();
        closeAfterRun_ = true;
        return;
    }
    QDialog::reject();
}

void TAlignForm::closeEvent(QCloseEvent* event) {
    if (engine_ != nullptr) {
        // The run unwinds first (and unkeys); the window closes after it.
        engine_->stop();
        closeAfterRun_ = true;
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

// ---- the report -------------------------------------------------------------

namespace {

// The report the window can give: the latest run of the radio's serial, or,
// for a radio without one, the run this window made in the recorder's
// session (the records of one session share it).
std::optional<ReportRequest> CurrentReportRequest(RecordStore& store, const std::string& runStartedAt) {
    Recorder& recorder = CalibrationRecorder();
    RecordFilter filter;
    filter.event = record_event::kAlign;
    std::optional<ReportRequest> request;
    if (!recorder.serial().empty()) {
        filter.serial = recorder.serial();
        filter.limit = 1;
        (void)store.forEach(filter, [&](const CalibrationRecord&) {
            request = ReportRequest{recorder.serial(), 0};
            return false;
        });
        return request;
    }
    if (runStartedAt.empty() || recorder.session().empty()) return std::nullopt;
    filter.since = runStartedAt;
    (void)store.forEach(filter, [&](const CalibrationRecord& r) {
        if (r.session == recorder.session() && r.serial.empty()) request = ReportRequest{"", r.id};
        return true;
    });
    return request;
}

// A chosen file name as the system names it.
std::filesystem::path ReportPath(const QString& file) {
#ifdef _WIN32
    return std::filesystem::path(file.toStdWString());
#else
    return std::filesystem::path(QFile::encodeName(file).toStdString());
#endif
}

}  // namespace

void TAlignForm::updateReportButton() {
    RecordStore* store = CalibrationRecorder().store();
    ReportButton->setEnabled(engine_ == nullptr && store != nullptr &&
                             CurrentReportRequest(*store, runStartedAt_).has_value());
}

void TAlignForm::ReportButtonClick() {
    const auto say = [this](const char* key, const QString& what) {
        const QString text = QString::fromStdString(Text("Report", key)).arg(what);
        status_ = {};
        StatusLabel->setText(text);
        return text;
    };
    if (!PdfReportsAvailable()) {
        ui::Dialogs().message(this, ui::MessageKind::Error, QStringLiteral("Varnel"),
                              say("P0035", QString::fromStdString(Text("Report", "P0033"))), ui::MessageButtons::Ok);
        return;
    }
    RecordStore* store = CalibrationRecorder().store();
    if (store == nullptr) return;
    // Records still on their way to a server are sent first.
    (void)store->drain(std::chrono::seconds(5));
    const std::optional<ReportRequest> request = CurrentReportRequest(*store, runStartedAt_);
    if (!request) return updateReportButton();
    Result<RadioReport> report = BuildRadioReport(*store, *request);
    if (!report) {
        ui::Dialogs().message(this, ui::MessageKind::Error, QStringLiteral("Varnel"),
                              say("P0035", QString::fromStdString(ErrorText(report.error()))), ui::MessageButtons::Ok);
        return;
    }
    const QString suggested = QDir::home().filePath(QString::fromStdString(DefaultReportFileName(report.value())));
    const QString file = ui::Dialogs().saveFileName(this, suggested, QString::fromStdString(Text("Report", "P0036")),
                                                    QStringLiteral(".pdf"), true);
    if (file.isEmpty()) return;
    if (Error e = WriteReportPdf(report.value(), ReportPath(file)); !e.ok()) {
        ui::Dialogs().message(this, ui::MessageKind::Error, QStringLiteral("Varnel"),
                              say("P0035", QString::fromStdString(ErrorText(e))), ui::MessageButtons::Ok);
        return;
    }
    say("P0034", QDir::toNativeSeparators(file));
}
