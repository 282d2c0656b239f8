// The about box: program icon, product name, notice, comments and the fixed
// "VARNEL" label, the program's version; closed by its default OK button. It takes its texts and
// font size from the current language on every show.
#pragma once

#include <QDialog>

class QFrame;
class QLabel;
class QPushButton;
class QVBoxLayout;

class TAboutBox : public QDialog {
    Q_OBJECT
public:
    explicit TAboutBox(QWidget* parent = nullptr);

    // The show routine: font size and texts of the current language.
    void FormShow();
    // The program's version, as the build names it (CMake's project version).
    static QString ProgramVersion();

    QLabel* ProgramIcon = nullptr;
    QLabel* ProductName = nullptr;
    QLabel* Version = nullptr;    // "Version 0.1.0", the project's version
    QLabel* Copyright = nullptr;  // the notice below the product name
    QLabel* Comments = nullptr;
    QLabel* VarnelLabel = nullptr;
    QPushButton* OKButton = nullptr;

protected:
    void showEvent(QShowEvent* event) override;

private:
    QFrame* buildPanel();
    QVBoxLayout* buildIconColumn(QWidget* panel);
    QVBoxLayout* buildTextColumn(QWidget* panel);
};
