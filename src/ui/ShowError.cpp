#include "ui/ShowError.h"

#include "lang/Loadlanguage.h"

namespace varnel::ui {

QString ErrorMessageText(const Error& error) { return QString::fromStdString(ErrorText(error)); }

MessageResult ShowError(QWidget* parent, const Error& error, MessageButtons buttons) {
    if (error.ok()) return MessageResult::Ok;
    return Dialogs().message(parent, MessageKind::Error, QStringLiteral("Varnel"), ErrorMessageText(error), buttons);
}

}  // namespace varnel::ui
