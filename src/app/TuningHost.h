// What the tuning window needs from the main window that hosts it.
#pragma once

#include <QString>

class TMDIChild;

class TuningHost {
public:
    virtual ~TuningHost() = default;
    // Enables or disables SpeedButton1, SpeedButton3, ParamItem, FileSaveItem
    // and FileSaveAsItem; the tuning window calls it from its show and close.
    virtual void setDocumentCommandsEnabled(bool enabled) = 0;
    // After the close query left tuner mode: N2 and SpeedButton4 show
    // (MainForm, S003).
    virtual void showTunerModeLeftCaptions() = 0;
    // After the connection watch lost the radio: N2 shows (MainMenu, M0022)
    // and SpeedButton4 (MainForm, S003).
    virtual void showRadioLostCaptions() = 0;
    // A note about the link for the status bar (shown until replaced).
    virtual void showLinkNote(const QString& note) { static_cast<void>(note); }
    // Saves the image as File > Save does (asking for a name when it has
    // none); true when it was saved.
    virtual bool saveDocument() { return false; }
    // The tuning window is being destroyed.
    virtual void tuningWindowDestroyed(TMDIChild* window) = 0;
};
