#include "support/ScriptedDialogs.h"

#include <QDialog>

namespace varnel::test {

ScriptedDialogs::ScriptedDialogs() { ui::SetDialogs(this); }
ScriptedDialogs::~ScriptedDialogs() { ui::SetDialogs(nullptr); }

ui::MessageResult ScriptedDialogs::message(QWidget*, ui::MessageKind kind, const QString& caption,
                                           const QString& text, ui::MessageButtons buttons) {
    messages.append({kind, caption, text, buttons});
    if (onMessage) onMessage(messages.back());
    if (buttons == ui::MessageButtons::Ok) return ui::MessageResult::Ok;
    return answers.isEmpty() ? ui::MessageResult::Ok : answers.takeFirst();
}

QString ScriptedDialogs::openFileName(QWidget*, const QString& directory, const QString& filter) {
    openDirectories << directory;
    openFilters << filter;
    return openNames.isEmpty() ? QString() : openNames.takeFirst();
}

QString ScriptedDialogs::saveFileName(QWidget*, const QString&, const QString& filter,
                                      const QString& defaultSuffix, bool confirmOverwrite) {
    saveFilters << filter;
    saveSuffixes << defaultSuffix;
    saveConfirmsOverwrite << confirmOverwrite;
    return saveNames.isEmpty() ? QString() : saveNames.takeFirst();
}

int ScriptedDialogs::execDialog(QDialog* dialog) {
    if (onDialog) return onDialog(dialog);
    dialog->show();
    dialog->hide();
    return QDialog::Rejected;
}

void ScriptedDialogs::pause(int milliseconds) { pauses << milliseconds; }

}  // namespace varnel::test
