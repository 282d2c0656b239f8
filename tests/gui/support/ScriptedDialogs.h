// Test stand-in for the program's dialogs: records every message box and
// answers it, file dialogs and modal forms, from a script. Never blocks.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

#include "ui/DialogSeam.h"

class QDialog;

namespace varnel::test {

struct RecordedMessage {
    ui::MessageKind kind;
    QString caption;
    QString text;
    ui::MessageButtons buttons;
};

class ScriptedDialogs : public ui::DialogSeam {
public:
    ScriptedDialogs();   // installs itself
    ~ScriptedDialogs() override;  // restores the real dialogs

    // Answers for question boxes, used in order; Ok when the list is empty.
    QList<ui::MessageResult> answers;
    // Results of the open and save dialogs, used in order; "" = cancel.
    QStringList openNames;
    QStringList saveNames;
    // Called for every modal form instead of exec(); returns the result code.
    // By default the form is shown, and its result is QDialog::Rejected.
    std::function<int(QDialog*)> onDialog;
    // Called after a message box was recorded (e.g. to check state while
    // the box would be on screen).
    std::function<void(const RecordedMessage&)> onMessage;

    QList<RecordedMessage> messages;
    QStringList openDirectories, openFilters, saveFilters, saveSuffixes;
    QList<bool> saveConfirmsOverwrite;
    QList<int> pauses;

    ui::MessageResult message(QWidget* parent, ui::MessageKind kind, const QString& caption,
                              const QString& text, ui::MessageButtons buttons) override;
    QString openFileName(QWidget* parent, const QString& directory, const QString& filter) override;
    QString saveFileName(QWidget* parent, const QString& directory, const QString& filter,
                         const QString& defaultSuffix, bool confirmOverwrite = true) override;
    int execDialog(QDialog* dialog) override;
    void pause(int milliseconds) override;
};

}  // namespace varnel::test
