// One test case's world: a program directory of its own (a temporary folder
// with copies of english.lang and chinese.lang and an empty "Default Data"),
// the program's global state back at start-up values, a virtual radio behind
// the scan and scripted dialogs that never block.
//
// Typical use:
//     varnel::test::TestEnvironment env;            // variant0 radio attached
//     env.writeSettingsLanguage("chinese");
//     TMainForm form;                               // reads setting.ini from env
//     env.radio().setFault(varnel::Fault::NoAnswer);
//     env.dialogs().answers << varnel::ui::MessageResult::Cancel;
//
// Create at most one at a time. The destructor closes the link, removes the
// backend and the dialogs and resets the global state again, so the next test
// case starts clean.
#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>
#include <memory>

#include "sim/VirtualBackend.h"
#include "support/ScriptedDialogs.h"

class TMainForm;

namespace varnel::test {

class TestEnvironment {
public:
    explicit TestEnvironment(VirtualPreset preset = VirtualPreset::Variant0);
    ~TestEnvironment();
    TestEnvironment(const TestEnvironment&) = delete;
    TestEnvironment& operator=(const TestEnvironment&) = delete;

    // The temporary program directory (no trailing separator) and a path in it.
    QString programDirectory() const;
    QString filePath(const QString& name) const;
    // "<program directory>/Default Data/".
    QString defaultDataDirectory() const;

    // Files in the program directory.
    void writeFile(const QString& name, const QByteArray& contents);
    QByteArray readFile(const QString& name) const;
    bool fileExists(const QString& name) const;
    void removeFile(const QString& name);

    // setting.ini: the whole file, or "[setup]" with "language=<value>".
    void writeSettings(const QByteArray& contents);
    void writeSettingsLanguage(const QString& value);
    // (setup, language) as the program reads it; empty when missing.
    QString settingsLanguage() const;

    // The virtual radio host that the scan sees, and its primary radio.
    VirtualBackend& backend() { return *backend_; }
    VirtualRadio& radio() { return backend_->radio(); }
    // Replaces the host by a fresh one with a radio of `preset` (closes the link).
    void replaceRadio(VirtualPreset preset);
    // Pulls / re-inserts the radio's cable (VirtualBackend::unplug / plug,
    // which also tell the plug listener, like a device-change message).
    void unplugRadio() { backend_->unplug(); }
    void plugRadio() { backend_->plug(); }
    // Without a notification: false makes the scan see a host with no radio
    // at all (an empty backend is installed), true brings the radio host back.
    // An open link keeps working either way.
    void setRadioPresent(bool present);

    ScriptedDialogs& dialogs() { return dialogs_; }

    // The looked-up text of (section, key) in the current language file.
    static QString text(const char* section, const char* key);

private:
    void resetState();

    QTemporaryDir dir_;
    std::unique_ptr<VirtualBackend> backend_;
    std::unique_ptr<VirtualBackend> emptyHost_;
    ScriptedDialogs dialogs_;
};

// TestEnvironment::text, short.
inline QString Tr(const char* section, const char* key) { return TestEnvironment::text(section, key); }

// Drives the main window's poll timers by calling the handler of whichever
// of ReadInfoTimer, EnterTunerModeTimer, ExitTunerModeTimer,
// WriteAllCheckTimer and WriteAllTunerDataTimer is active, until none is (or `maxTicks` calls).
// Returns the number of handler calls.
int RunMainWindowPolls(TMainForm& form, int maxTicks = 1000);

// Clicks SpeedButton4 and runs the polls: enters tuner mode on the attached
// radio (M001 is answered by the scripted dialogs) or leaves it. True when
// inTunerMode then has the wanted value.
bool EnterTunerMode(TMainForm& form);
bool LeaveTunerMode(TMainForm& form);

// A 1104-byte archive image (information block then tuner image) whose bytes
// follow a pattern seeded by `seed`, for round trips and comparisons.
QByteArray PatternArchive(int seed);

}  // namespace varnel::test
