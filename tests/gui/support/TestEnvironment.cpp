#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QtGlobal>

#include <QTimer>

#include "app/TMainForm.h"
#include "data/Filemanage.h"
#include "data/Global.h"
#include "ui/Selection.h"
#include "lang/Loadlanguage.h"
#include "lang/Profile.h"
#include "protocol/Sendcmd.h"

#ifndef VARNEL_LANG_DIR
#error "VARNEL_LANG_DIR must name the folder of english.lang and chinese.lang"
#endif

namespace varnel::test {

namespace {

std::filesystem::path NativePath(const QString& path) {
#ifdef _WIN32
    return std::filesystem::path(path.toStdWString());
#else
    return std::filesystem::path(QFile::encodeName(path).toStdString());
#endif
}

}  // namespace

TestEnvironment::TestEnvironment(VirtualPreset preset)
    : backend_(std::make_unique<VirtualBackend>(preset)) {
    if (!dir_.isValid()) qFatal("cannot create a temporary program directory");
    const QDir langDir(QStringLiteral(VARNEL_LANG_DIR));
    for (const char* name : {"english.lang", "chinese.lang"}) {
        const QString source = langDir.filePath(QString::fromLatin1(name));
        if (QFile::exists(source)) QFile::copy(source, filePath(QString::fromLatin1(name)));
    }
    QDir(programDirectory()).mkpath(QStringLiteral("Default Data"));
    resetState();
    SetProgramDirectory(NativePath(programDirectory()));
    SetDeviceBackend(backend_.get());
}

TestEnvironment::~TestEnvironment() {
    resetState();
    SetDeviceBackend(nullptr);
}

void TestEnvironment::resetState() {
    ResetPollState();
    ResetGlobalState();
    ResetSelection();
    ResetLanguageState();
    archiveBuffer.fill(0);
    radioDriveLetters.fill(std::string());
}

QString TestEnvironment::programDirectory() const { return dir_.path(); }

QString TestEnvironment::filePath(const QString& name) const { return dir_.filePath(name); }

QString TestEnvironment::defaultDataDirectory() const {
    return dir_.filePath(QStringLiteral("Default Data")) + QLatin1Char('/');
}

void TestEnvironment::writeFile(const QString& name, const QByteArray& contents) {
    QFile file(filePath(name));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) qFatal("cannot write a test file");
    file.write(contents);
}

QByteArray TestEnvironment::readFile(const QString& name) const {
    QFile file(filePath(name));
    if (!file.open(QIODevice::ReadOnly)) return {};
    return file.readAll();
}

bool TestEnvironment::fileExists(const QString& name) const { return QFile::exists(filePath(name)); }

void TestEnvironment::removeFile(const QString& name) { QFile::remove(filePath(name)); }

void TestEnvironment::writeSettings(const QByteArray& contents) { writeFile(QStringLiteral("setting.ini"), contents); }

void TestEnvironment::writeSettingsLanguage(const QString& value) {
    writeSettings("[setup]\r\nlanguage=" + value.toUtf8() + "\r\n");
}

QString TestEnvironment::settingsLanguage() const {
    return QString::fromStdString(
        ReadProfileString(NativePath(filePath(QStringLiteral("setting.ini"))), "setup", "language"));
}

void TestEnvironment::replaceRadio(VirtualPreset preset) {
    ResetPollState();  // the old link goes with the old host
    auto fresh = std::make_unique<VirtualBackend>(preset);
    SetDeviceBackend(fresh.get());
    backend_ = std::move(fresh);
}

void TestEnvironment::setRadioPresent(bool present) {
    if (present) {
        SetDeviceBackend(backend_.get());
        return;
    }
    if (!emptyHost_) {
        emptyHost_ = std::make_unique<VirtualBackend>();
        emptyHost_->clearSlot(emptyHost_->radioSlot());
    }
    SetDeviceBackend(emptyHost_.get());
}

QString TestEnvironment::text(const char* section, const char* key) {
    return QString::fromStdString(Text(section, key));
}

int RunMainWindowPolls(TMainForm& form, int maxTicks) {
    int ticks = 0;
    while (ticks < maxTicks) {
        if (form.ReadInfoTimer->isActive()) {
            form.ReadInfoTimerTimer();
        } else if (form.EnterTunerModeTimer->isActive()) {
            form.EnterTunerModeTimerTimer();
        } else if (form.ExitTunerModeTimer->isActive()) {
            form.ExitTunerModeTimerTimer();
        } else if (form.WriteAllCheckTimer->isActive()) {
            form.WriteAllCheckTimerTimer();
        } else if (form.WriteAllTunerDataTimer->isActive()) {
            form.WriteAllTunerDataTimerTimer();
        } else if (form.WriteAllReadBackTimer->isActive()) {
            form.WriteAllReadBackTimerTimer();
        } else {
            break;
        }
        ++ticks;
    }
    return ticks;
}

bool EnterTunerMode(TMainForm& form) {
    if (!inTunerMode) {
        form.SpeedButton4Click();
        RunMainWindowPolls(form);
    }
    return inTunerMode;
}

bool LeaveTunerMode(TMainForm& form) {
    if (inTunerMode) {
        form.SpeedButton4Click();
        RunMainWindowPolls(form);
    }
    return !inTunerMode;
}

QByteArray PatternArchive(int seed) {
    QByteArray bytes(static_cast<qsizetype>(kArchiveSize), '\0');
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>((i * 7 + seed * 13 + (i >> 8)) & 0xFF);
    }
    return bytes;
}

}  // namespace varnel::test
