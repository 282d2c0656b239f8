// The records view: the calibration history of one radio (by serial number
// or model), filterable by event, exportable to CSV.
#pragma once

#include <QDialog>
#include <vector>

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

    QLineEdit* SerialEdit = nullptr;
    QLineEdit* ModelEdit = nullptr;
    QComboBox* EventBox = nullptr;
    QPushButton* SearchButton = nullptr;
    QPushButton* ExportButton = nullptr;
    QPushButton* CloseButton = nullptr;
    QTableWidget* RecordsGrid = nullptr;
    QLabel* StoreLabel = nullptr;
    QLabel* CountLabel = nullptr;

    // Reads the records that match the filter into the grid.
    void SearchButtonClick();
    // Asks for a file (dialog seam) and writes the shown records as CSV.
    void ExportButtonClick();
    const std::vector<varnel::CalibrationRecord>& shown() const { return records_; }

private:
    QHBoxLayout* buildFilterRow();
    QTableWidget* buildGrid();
    QHBoxLayout* buildButtonRow();
    void applyTexts();
    std::vector<varnel::CalibrationRecord> records_;
};
