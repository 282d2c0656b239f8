// Texts and formats that follow the interface language beyond the windows'
// own captions: the status texts, the time of day, Qt's own buttons and
// dialogs, the reasons an open failed.
#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>

class QWidget;

#include "device/Mass_storage.h"
#include "protocol/FrameDecode.h"

namespace varnel::ui {

// The text of (Status, key).
QString StatusText(const char* key);
// The language lookup as the frame decoder takes it.
TextLookup LanguageLookup();
// English (United States) or Chinese (China), as languageIndex says.
QLocale InterfaceLocale();
// Short date and long time of the interface language.
QString InterfaceDateTime(const QDateTime& when);
// The time of day, hh:mm:ss.
QString InterfaceTime(const QDateTime& when);
// Loads Qt's own catalogues (standard buttons, file dialogs, context menus)
// for the language, or removes them for English. The catalogues come from
// Qt's translation directory (Debian: qt6-translations-l10n) or, when the
// program is shipped with them, from "translations" beside the executable.
// True when a catalogue is installed.
bool InstallQtCatalogue(int languageIndex);
// Why the radio could not be opened, in the interface language, with the
// device and the system's detail appended where known.
QString OpenFailureReason(const OpenError& error);
// The box when the radio could not be opened: M010, and when a radio was
// found but could not be opened, why (a missing udev rule, a volume held by
// another program, another device on the path).
QString OpenRadioFailedText(const OpenError& error);
// Says what a command did (where a file went) across the main window's
// status bar for a while; `from` is any widget of the program.
void ShowStatusMessage(QWidget* from, const QString& text);
// Whether the radio that is seen can be opened now: empty when it can, else
// why not (in the interface language). Opens and closes the volume.
QString RadioOpenProblem();

}  // namespace varnel::ui
