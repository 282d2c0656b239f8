#include "app/ArchiveCommands.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <array>
#include <ctime>
#include <system_error>
#include <vector>

#include "app/AppTexts.h"
#include "app/TMainForm.h"
#include "records/Recorder.h"
#include "data/Filemanage.h"
#include "data/Global.h"
#include "data/Safety.h"
#include "lang/ErrorText.h"
#include "line/LineSettings.h"
#include "tuning/TMDIChild.h"
#include "ui/DialogSeam.h"
#include "ui/Records.h"
#include "util/LocalTime.h"

using varnel::ui::Dialogs;
using varnel::ui::MessageButtons;
using varnel::ui::MessageKind;

namespace varnel::app {

namespace {

const QString kOpenFilter = QStringLiteral("Archive Files(*.tdb)|*.tdb");
const QString kSaveFilter = QStringLiteral("TDB Files (*.tdb) | *.tdb");
const QString kDefaultSuffix = QStringLiteral(".tdb");

}  // namespace

std::filesystem::path NativePath(const QString& path) {
#ifdef _WIN32
    return std::filesystem::path(path.toStdWString());
#else
    return std::filesystem::path(QFile::encodeName(path).toStdString());
#endif
}

std::string NarrowFileName(const QString& path) { return QFile::encodeName(path).toStdString(); }

QString FromNarrowFileName(const std::string& name) { return QFile::decodeName(QByteArray::fromStdString(name)); }

QString FromNativePath(const std::filesystem::path& path) {
#ifdef _WIN32
    return QString::fromStdWString(path.wstring());
#else
    return QFile::decodeName(QByteArray::fromStdString(path.string()));
#endif
}

QString DefaultDataDirectory() {
    return QDir(FromNativePath(ProgramDirectory())).filePath(QStringLiteral("Default Data")) + QLatin1Char('/');
}

ArchiveCommands::ArchiveCommands(TMainForm& window) : QObject(&window), window_(window) {
    setObjectName(QStringLiteral("ArchiveCommands"));
}

void ArchiveCommands::showError(const Error& error) {
    Dialogs().message(&window_, MessageKind::Error, kBoxCaption, QString::fromStdString(ErrorText(error)),
                      MessageButtons::Ok);
}

void ArchiveCommands::open() {
    const QString path = Dialogs().openFileName(&window_, DefaultDataDirectory(), kOpenFilter);
    if (path.isEmpty()) return;
    openArchive(NativePath(path));
}

bool ArchiveCommands::openArchive(const std::filesystem::path& path) {
    // Only a whole archive is taken: anything else is refused and nothing in
    // memory changes.
    std::array<std::uint8_t, kArchiveSize> loaded = archiveBuffer;
    if (const Error error = LoadArchive(path, loaded); !error.ok()) {
        showError(error);
        return false;
    }
    // The open tuning window goes first (its unsaved changes and tuner mode
    // are asked about); when it stays, the open is cancelled, so that no
    // second window can reach the radio with another model's image.
    // The archive that is open already is read again from the disk: the
    // operator is told that the window and its log start afresh.
    const QString shown = FromNativePath(path);
    const bool reopened = window_.tuningWindow != nullptr && !currentFileName.empty() &&
                          QFileInfo(shown).absoluteFilePath() == QFileInfo(currentFilePath()).absoluteFilePath();
    if (!window_.closeTuningWindows()) return false;
    archiveBuffer = loaded;
    UnpackArchive(archiveBuffer);
    MarkImageSaved(tunerImage);
    imageSource_ = QFileInfo(shown).fileName();
    window_.OpenTuningWindow(shown);
#ifdef _WIN32
    currentFileName = NarrowFileName(shown);
#else
    currentFileName = path.native();  // the system's own bytes
#endif
    currentFilePath_ = shown;
    window_.showStatusMessage(Fill(Tr("Files", reopened ? "Reopened" : "Opened"), {QDir::toNativeSeparators(shown)}));
    const std::vector<PlausibilityProblem> problems = PlausibilityProblems(radioInfo, tunerImage);
    if (!problems.empty()) {
        QStringList lines{Tr("Safety", "P0001")};
        for (const PlausibilityProblem& problem : problems) lines << DescribeProblem(problem);
        lines << QString() << Tr("Safety", "P0006");
        Dialogs().message(&window_, MessageKind::Error, kBoxCaption, lines.join(QLatin1Char('\n')),
                          MessageButtons::Ok);
    }
    return true;
}

std::filesystem::path ArchiveCommands::currentNativePath() const {
#ifdef _WIN32
    return NativePath(currentFilePath());
#else
    return std::filesystem::path(currentFileName);
#endif
}

QString ArchiveCommands::currentFilePath() const {
    // currentFileName is the program-wide record; the exact path is kept
    // beside it for names the narrow form cannot hold.
    if (!currentFilePath_.isEmpty() && NarrowFileName(currentFilePath_) == currentFileName) {
        return currentFilePath_;
    }
    return FromNarrowFileName(currentFileName);
}

bool ArchiveCommands::save() {
    if (currentFileName.empty()) return saveAs();
    PackArchive(archiveBuffer);
    if (const Error error = SaveArchive(currentNativePath(), archiveBuffer.data(), kArchiveSize); !error.ok()) {
        showError(error);
        return false;
    }
    ui::RecordArchiveSaved(currentFilePath());
    imageSaved(currentFilePath());
    window_.showStatusMessage(Fill(Tr("Files", "Saved"), {QDir::toNativeSeparators(currentFilePath())}));
    return true;
}

void ArchiveCommands::imageSaved(const QString& path) {
    MarkImageSaved(tunerImage);
    imageSource_ = QFileInfo(path).fileName();
    if (window_.tuningWindow != nullptr) window_.tuningWindow->refreshModifiedMarker();
}

bool ArchiveCommands::saveAs() {
    QString directory = DefaultDataDirectory();
    if (!currentFileName.empty()) directory = QFileInfo(currentFilePath()).absolutePath();
    QString path = Dialogs().saveFileName(&window_, directory, kSaveFilter, kDefaultSuffix);
    if (path.isEmpty()) return false;
    // The dialog appends the extension to a bare name; so does this, for
    // dialogs that do not.
    if (QFileInfo(path).suffix().isEmpty() && !path.endsWith(QLatin1Char('.'))) path += kDefaultSuffix;

    PackArchive(archiveBuffer);
    if (const Error error = SaveArchive(NativePath(path), archiveBuffer.data(), kArchiveSize); !error.ok()) {
        showError(error);
        return false;
    }
    ui::RecordArchiveSaved(path);
    currentFileName = NarrowFileName(path);
    currentFilePath_ = path;
    if (window_.tuningWindow != nullptr) window_.tuningWindow->setDocumentName(QFileInfo(path).fileName());
    imageSaved(path);
    window_.showStatusMessage(Fill(Tr("Files", "Saved"), {QDir::toNativeSeparators(path)}));
    return true;
}

bool ArchiveCommands::confirmImageReplaced() {
    if (window_.tuningWindow == nullptr || !ImageModified(tunerImage)) return true;
    switch (Dialogs().message(&window_, MessageKind::Question, kBoxCaption, Tr("Safety", "M0001"),
                              MessageButtons::SaveDiscardCancel)) {
        case ui::MessageResult::Ok: return save();
        case ui::MessageResult::Discard: return true;
        case ui::MessageResult::Cancel: return false;
    }
    return false;
}

void ArchiveCommands::imageReadFromRadio(const QString& when) {
    MarkImageSaved(tunerImage);  // what the radio holds is no unsaved change
    imageSource_ = Fill(Tr("Safety", "W0007"), {when});
}

void ArchiveCommands::forgetFile() {
    currentFileName.clear();
    currentFilePath_.clear();
}

void ArchiveCommands::backupEntry(const RadioInfo& info, const TunerImage& image) {
    lastBackupPath_.clear();
    const std::tm local = LocalTime(std::time(nullptr));
    const QString folder = DefaultDataDirectory() + QString::fromLatin1(kBackupFolder);
    // Named as the line names its backups ("<model>_<serial>_<date>_<time>.tdb",
    // the serial when the radio has one), never replacing an earlier one.
    const QString path = FromNativePath(
        FreeBackupPath(NativePath(folder), info.modelName(), CalibrationRecorder().serial(), local));
    std::error_code ec;
    std::filesystem::create_directories(NativePath(folder), ec);
    std::array<std::uint8_t, kArchiveSize> bytes{};
    std::copy(info.bytes.begin(), info.bytes.end(), bytes.begin());
    std::copy(image.bytes.begin(), image.bytes.end(), bytes.begin() + RadioInfo::kSize);
    const Error error = ec ? Error::make(ErrorCode::FileError, ec.message(), folder.toStdString())
                           : SaveArchive(NativePath(path), bytes.data(), kArchiveSize);
    if (!error.ok()) {
        // Tuning goes on; the operator sees that there is no backup.
        const std::string reason = ErrorText(error);
        window_.showStatusNote(Fill(Tr("Safety", "B0002"), {QString::fromStdString(reason)}));
        return;
    }
    lastBackupPath_ = path;
}

}  // namespace varnel::app
