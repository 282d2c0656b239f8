// What the main window's parts share: language lookup, placeholders, hints
// and the caption of their message boxes.
#pragma once

#include <QAction>
#include <QString>
#include <QWidget>
#include <initializer_list>

#include "data/Safety.h"
#include "lang/Loadlanguage.h"

namespace varnel::app {

inline const QString kBoxCaption = QStringLiteral("Varnel");
inline const QString kUntitled = QStringLiteral("Untitled.tdb");

inline QString Tr(const char* section, const char* key) { return QString::fromStdString(Text(section, key)); }

// Puts the arguments into %1, %2, ... of a language text; a missing text
// (or placeholder) gives no warning.
inline QString Fill(QString text, std::initializer_list<QString> args) {
    int n = 0;
    for (const QString& arg : args) text.replace(QStringLiteral("%") + QString::number(++n), arg);
    return text;
}

// The parts of a hint "short|long": the short part is the tool tip, the long
// part goes to the status bar. Without '|' both are the whole hint.
QString ShortHint(const QString& hint);
QString LongHint(const QString& hint);

inline void SetHint(QWidget* widget, const QString& hint) {
    widget->setToolTip(ShortHint(hint));
    widget->setStatusTip(hint);
}

inline void SetHint(QAction* action, const QString& hint) {
    action->setToolTip(ShortHint(hint));
    action->setStatusTip(hint);
}

// A radio as the log and the questions name it, in the interface language:
// "VR-D500 (model 5, variant 0, 848 bytes)".
QString DescribeRadioText(const RadioInfo& info);

// One line of a plausibility warning.
QString DescribeProblem(const PlausibilityProblem& problem);

}  // namespace varnel::app
