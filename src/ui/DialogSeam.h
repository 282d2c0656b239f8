// Every modal message box, file dialog, modal form and pause of the program
// goes through this seam, so that tests can answer them without blocking.
#pragma once

#include <QString>

class QDialog;
class QWidget;

namespace varnel::ui {

enum class MessageKind { Information, Error, Question, Plain };
enum class MessageButtons { Ok, OkCancel, SaveDiscardCancel };
// SaveDiscardCancel answers Ok for Save, Discard or Cancel.
enum class MessageResult { Ok, Cancel, Discard };

class DialogSeam {
public:
    virtual ~DialogSeam() = default;
    // A modal message box. `caption` is "Varnel" for the information, error
    // and question kinds and the application title for the plain kind.
    virtual MessageResult message(QWidget* parent, MessageKind kind, const QString& caption,
                                  const QString& text, MessageButtons buttons) = 0;
    // Open / save file dialogs; an empty result means the user cancelled.
    // `filter` uses the "Description|pattern" form of the design.
    virtual QString openFileName(QWidget* parent, const QString& directory, const QString& filter) = 0;
    // `confirmOverwrite`: ask before replacing an existing file (archives do,
    // the saved log does not).
    virtual QString saveFileName(QWidget* parent, const QString& directory, const QString& filter,
                                 const QString& defaultSuffix, bool confirmOverwrite = true) = 0;
    // Runs a modal form (parameter editor, factory dialog, about box) and
    // returns its result code.
    virtual int execDialog(QDialog* dialog) = 0;
    // A pause of the user-interface thread (the close query's 500 ms).
    virtual void pause(int milliseconds) = 0;
};

// The seam in use; the real dialogs unless a test installed its own.
DialogSeam& Dialogs();
// Installs `seam` (not owned); nullptr restores the real dialogs.
void SetDialogs(DialogSeam* seam);

// Converts a design filter such as "TDB Files (*.tdb) | *.tdb" to Qt's
// "TDB Files (*.tdb)" form.
QString QtFilterFromDesign(const QString& designFilter);

// The real dialogs.
class WidgetDialogs : public DialogSeam {
public:
    MessageResult message(QWidget* parent, MessageKind kind, const QString& caption,
                          const QString& text, MessageButtons buttons) override;
    QString openFileName(QWidget* parent, const QString& directory, const QString& filter) override;
    QString saveFileName(QWidget* parent, const QString& directory, const QString& filter,
                         const QString& defaultSuffix, bool confirmOverwrite = true) override;
    int execDialog(QDialog* dialog) override;
    void pause(int milliseconds) override;
};

}  // namespace varnel::ui
