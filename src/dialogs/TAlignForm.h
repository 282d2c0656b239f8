// The Auto Align window: choose the instrument and the procedure, run, and
// watch each step's progress, the readings of the current point against its
// value, and the results. The engine runs on the user-interface thread; it
// keeps the window alive between exchanges (every poll tick and every settle
// wait processes the window's events), so Stop, the chart and the tables
// respond while it runs, and no program state is touched from another
// thread. The transmitter is unkeyed by the engine whatever ends the run.
// The line's set-up comes from setting.ini: the fixture and its path-loss
// table ([fixture] id, pathLoss), the instrument's calibration due date
// ([instrument] calibrationDue: overdue is a warning in the window's status
// and in red in the run's header, and flags the run's records; a refusal
// with [line] strict=1) and the serial pattern ([line] serialPattern: a
// serial that does not match is asked for before the radio is touched).
// After a run the model's control charts are read: a line alarm is a
// notice in the window and on the main window's status bar, and a record.
// A run does not start while the tuning window has the radio keyed, and the
// tuning window takes no input while it runs; the run's keying shows as the
// program's (txKeyed, rxKeyed) on the status bar.
#pragma once

#include <QDialog>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "align/AlignEngine.h"
#include "align/AlignRecords.h"

class AlignPlot;
class QAction;
class QComboBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPushButton;
class QTableWidget;

namespace varnel {
class VirtualInstrument;
}

class TAlignForm : public QDialog {
    Q_OBJECT
public:
    explicit TAlignForm(QWidget* parent = nullptr);
    ~TAlignForm() override;

    // Adds the menu entry `AutoAlignItem` to `menu`; it opens the window (one
    // per main window) beside `owner`. Its caption follows the language.
    static QAction* addMenuEntry(QWidget* owner, QMenu* menu);

    // Sets every caption from section [Align] of the language file.
    void applyTexts();
    bool running() const { return engine_ != nullptr; }
    const varnel::AlignReport& lastReport() const { return report_; }
    // The procedure file chosen for the radio in tuner mode (or the virtual
    // radio's model), from the procedures beside the program.
    QString defaultProcedure() const;

    QComboBox* InstrumentBox = nullptr;  // instrument address, or "virtual"
    QLineEdit* ModelEdit = nullptr;      // instrument model file; empty: the virtual test set's
    QPushButton* ModelButton = nullptr;
    QComboBox* ProcedureBox = nullptr;   // procedure file
    QPushButton* ProcedureButton = nullptr;
    QPushButton* RunButton = nullptr;
    QPushButton* StopButton = nullptr;
    QPushButton* ReportButton = nullptr;  // the PDF report of the radio (btn_report)
    QPushButton* CloseButton = nullptr;   // closes the window (Esc too); a run is stopped first
    QTableWidget* StepTable = nullptr;   // one row per step with its progress bar
    AlignPlot* ChartView = nullptr;      // reading against value of the current point
    QTableWidget* ResultTable = nullptr; // point, target, final value, reading, result
    QLabel* StatusLabel = nullptr;
    QLabel* HeaderLabel = nullptr;       // the run's set-up: instrument, calibration due (overdue in red), fixture, serial
    QLabel* AlarmLabel = nullptr;        // the line alarm of the control charts, hidden when none
    QListWidget* LogList = nullptr;      // the run's notices: serial, fixture, warnings

signals:
    void runFinished();

public slots:
    void RunButtonClick();
    void StopButtonClick();
    void ProcedureButtonClick();
    void ModelButtonClick();
    // Asks for a file and writes the PDF report of the radio's latest run.
    void ReportButtonClick();
    // Enables Report when the current radio has an alignment record.
    void updateReportButton();

    // Esc and Close: a running alignment is stopped first (it unkeys), then
    // the window closes.
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    QGridLayout* buildChoices();
    void buildStepTable();
    void buildChart();
    void buildResultTable();
    void fillProcedures();
    void showSteps(const varnel::Procedure& procedure);
    void startPoint(int step, const varnel::PointResult& point);
    void addTry(const varnel::AlignTry& attempt);
    void finishPoint(const varnel::PointResult& point);
    void settlePoint(const varnel::PointResult& point);
    void showResult(int row, const varnel::PointResult& point);
    bool ensureTunerMode();
    void fail(const QString& text);
    std::optional<varnel::InstrumentModel> chosenModel();
    std::optional<QString> instrumentUrl();
    void pauseTuningTimers();
    QWidget* tuningWindow() const;
    varnel::AlignEvents runEvents();
    void showOutcome();
    void note(const QString& text);
    bool prepareLine(varnel::TraceContext& trace, varnel::PathLoss& loss);
    bool askSerialFirst();
    void showHeader(const varnel::TraceContext& trace);
    void checkLineDrift();

    varnel::AlignEngine* engine_ = nullptr;
    varnel::AlignReport report_;
    std::unique_ptr<varnel::VirtualInstrument> virtualInstrument_;
    bool closeAfterRun_ = false;
    int currentStep_ = -1;
    std::vector<std::pair<int, int>> rows_;  // (step, point) of each row of the results
    std::string runStartedAt_;  // UTC, the last run's start (its records follow it)
    // The status line in the interface language, made again after a switch.
    std::function<QString()> status_;
    void showStatus(std::function<QString()> text);
    std::string overdueSince_;  // the due date of an overdue instrument, "" when it is not overdue
};
