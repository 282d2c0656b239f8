// The main window's archive commands: open, save, save as, the question
// before the image in memory is replaced, and the automatic backup of every
// entry into tuner mode under "Default Data/backups/". It keeps where the
// image in memory came from and the exact path of the current file beside
// the program-wide currentFileName.
#pragma once

#include <QObject>
#include <QString>
#include <filesystem>
#include <functional>
#include <string>

#include "data/RadioInfo.h"
#include "data/TunerImage.h"
#include "util/Error.h"

class TMainForm;

namespace varnel::app {

// Paths: the archive functions take a filesystem path; currentFileName keeps
// the narrow form (system code page) of the same path.
std::filesystem::path NativePath(const QString& path);
std::string NarrowFileName(const QString& path);
QString FromNarrowFileName(const std::string& name);
QString FromNativePath(const std::filesystem::path& path);
// "<program directory>/Default Data/", where the open dialog starts.
QString DefaultDataDirectory();

class ArchiveCommands : public QObject {
public:
    explicit ArchiveCommands(TMainForm& window);

    // File → Open: asks for a name, then as OpenArchive.
    void open();
    // Opens an archive without asking for its name. False when the file was
    // refused (an error box has then been shown) or the tuning window stayed.
    bool openArchive(const std::filesystem::path& path);
    // File → Save (asks for a name when there is none yet), File → Save As.
    bool save();
    bool saveAs();
    // Before the image in memory is replaced: Save / Discard / Cancel when
    // it has unsaved changes. True when the operator lets it go.
    bool confirmImageReplaced();

    // Tuner mode was entered: the image is the radio's, read at `when`
    // ("HH:MM"), and no unsaved change.
    void imageReadFromRadio(const QString& when);
    // No file behind the image any more: the next save asks for a name.
    void forgetFile();
    // Saves the block and image of an entry under Default Data/backups/; a
    // failure is shown in the status bar and tuning goes on.
    void backupEntry(const RadioInfo& info, const TunerImage& image);

    QString imageSource() const { return imageSource_; }
    QString lastBackupPath() const { return lastBackupPath_; }

private:
    void showError(const Error& error);
    QString currentFilePath() const;
    // The file behind currentFileName exactly as the system names it.
    std::filesystem::path currentNativePath() const;
    void imageSaved(const QString& path);

    TMainForm& window_;
    // The exact path behind currentFileName (which is narrow and may lose
    // characters on Windows).
    QString currentFilePath_;
    QString imageSource_;
    QString lastBackupPath_;
};

}  // namespace varnel::app
