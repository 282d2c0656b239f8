// The one way a failure reaches the operator: the error chain in the
// interface language in an error message box, through the dialog seam.
#pragma once

#include <QString>

#include "ui/DialogSeam.h"
#include "util/Error.h"

class QWidget;

namespace varnel::ui {

// The chain, outermost first, each link's "Section:Key" (a key without ':' is
// in section "Errors") looked up in the current language file, the English
// kept where the text is missing.
QString ErrorMessageText(const Error& error);

// Shows the chain in an error box captioned "Varnel". Nothing is shown for
// success (the result is then Ok).
MessageResult ShowError(QWidget* parent, const Error& error, MessageButtons buttons = MessageButtons::Ok);

}  // namespace varnel::ui
