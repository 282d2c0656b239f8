// Help → Command Line...: the program's options in the interface language,
// one row each (the option as it is typed, in a fixed-pitch face, and what it
// does, wrapped in its own column), under a sentence that says where the
// manual is.
#pragma once

#include <QDialog>

class QLabel;
class QTableWidget;
class QDialogButtonBox;

class TCommandLineBox : public QDialog {
    Q_OBJECT
public:
    explicit TCommandLineBox(QWidget* parent = nullptr);
    // Takes the texts of the language in use (every show).
    void applyTexts();

    QLabel* IntroLabel = nullptr;
    QTableWidget* OptionTable = nullptr;
    QDialogButtonBox* Buttons = nullptr;
};
