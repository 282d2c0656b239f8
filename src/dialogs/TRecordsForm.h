// The records view: the calibration history of one radio (by serial number
// or model), filterable by event, exportable to CSV. A window of its own
// beside the main window (not modal), newest record first; items by their
// caption and events by their name in the interface language. The search runs
// in the background, so a slow records server never holds the window up.
#pragma once

#include <QDialog>
#include <memory>
#include <vector>

#include "line/LineDrift.h"
#include "records/RecordStore.h"

class QComboBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

class TRecordsForm : public QDialog {
    Q_OBJECT
public:
    explicit TRecordsForm(QWidget* parent = nullptr);
    ~TRecordsForm() override;

    // Opens the program's one records view beside `parent`, or brings it to
    // the front when it is open already.
    static TRecordsForm* showRecordsView(QWidget* parent);
    // The open records view, or nullptr.
    static TRecordsForm* currentView();

    // The caption of an item as the operator reads it (with the column of a
    // power pair), and the name of an event, in the interface language.
    static QString itemCaption(int code);
    static QString eventName(const std::string& event);

    QLineEdit* SerialEdit = nullptr;
    QLineEdit* ModelEdit = nullptr;
    QComboBox* EventBox = nullptr;
    QPushButton* SearchButton = nullptr;
    QPushButton* ExportButton = nullptr;
    QPushButton* StatsButton = nullptr;
    QPushButton* ChartButton = nullptr;
    QPushButton* CloseButton = nullptr;
    QTableWidget* RecordsGrid = nullptr;
    QLabel* StoreLabel = nullptr;
    QLabel* CountLabel = nullptr;

    // Reads the records that match the filter into the grid (in the
    // background; searching() is true until they are shown).
    void SearchButtonClick();
    bool searching() const { return searching_; }
    // Asks for a file (dialog seam) and writes the shown records as CSV.
    void ExportButtonClick();
    const std::vector<varnel::CalibrationRecord>& shown() const { return records_; }
    // Opens the line statistics of the records that match the filter:
    // radios per hour, first-pass yield and tries per point, per station or
    // per day (computed in the background, streaming).
    void StatsButtonClick();
    QDialog* statsView() const { return stats_; }
    // Opens the control charts of the model in the filter (else of the
    // first record shown): per step and point the I-MR chart of the final
    // values over the radios (centre line, 3-sigma limits, the points that
    // break a run rule), with Cpk, and the line alarm.
    void ChartButtonClick();
    QDialog* chartView() const { return chart_; }
    const varnel::DriftAnalysis* drift() const { return drift_.get(); }

private:
    QHBoxLayout* buildFilterRow();
    QTableWidget* buildGrid();
    QHBoxLayout* buildButtonRow();
    void applyTexts();
    void showResult(const varnel::Result<std::vector<varnel::CalibrationRecord>>& list, const QString& where);
    varnel::RecordFilter currentFilter() const;
    void refreshStats();
    void refreshChart();
    void drawChart(int series);
    QDialog* chart_ = nullptr;
    std::shared_ptr<varnel::DriftAnalysis> drift_;
    unsigned chartRun_ = 0;
    std::vector<varnel::CalibrationRecord> records_;
    QDialog* stats_ = nullptr;
    unsigned statsRun_ = 0;
    bool searching_ = false;
    unsigned search_ = 0;  // number of the latest search; older answers are dropped
};
