// Program entry of the desktop alignment tool.
#ifdef _WIN32
#include <windows.h>
#include <psapi.h>
#endif
#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QPixmap>
#include <QTextStream>
#include <QThread>
#include <QTimer>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ui/Records.h"
#include "ui/DialogSeam.h"
#include "app/RadioShutdown.h"
#include "app/StartupOptions.h"
#include "app/TAboutBox.h"
#include "app/TMainForm.h"
#include "data/Global.h"
#include "device/Mass_storage.h"
#include "dialogs/TFactroyForm.h"
#include "dialogs/TParamForm.h"
#include "lang/DataFolders.h"
#include "lang/Loadlanguage.h"
#include "protocol/Exchange.h"
#include "protocol/Sendcmd.h"
#include "sim/VirtualFaults.h"
#include "device/HostBackend.h"
#include "sim/VirtualBackend.h"
#include "tuning/HotplugWatch.h"
#include "tuning/TMDIChild.h"


namespace {

using namespace varnel;

// In grab and report runs nobody sits at the screen: boxes are answered
// with OK and written to stderr, file dialogs are cancelled, modal forms
// are shown once and rejected.
class UnattendedDialogs : public ui::DialogSeam {
public:
    ui::MessageResult message(QWidget*, ui::MessageKind, const QString& caption, const QString& text,
                              ui::MessageButtons) override {
        std::cerr << "[" << caption.toStdString() << "] " << text.toStdString() << "\n";
        return ui::MessageResult::Ok;
    }
    QString openFileName(QWidget*, const QString&, const QString&) override { return {}; }
    QString saveFileName(QWidget*, const QString&, const QString&, const QString&, bool) override {
        return {};
    }
    int execDialog(QDialog* dialog) override {
        dialog->show();
        dialog->hide();
        return QDialog::Rejected;
    }
    void pause(int milliseconds) override { QThread::msleep(static_cast<unsigned long>(milliseconds)); }
};

// Resident memory of this process in kilobytes, or -1 where unknown.
long ResidentKilobytes() {
#ifdef _WIN32
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return -1;
    return static_cast<long>(counters.WorkingSetSize / 1024);
#else
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly | QIODevice::Text)) return -1;
    QTextStream in(&status);
    for (QString line = in.readLine(); !line.isNull(); line = in.readLine()) {
        if (line.startsWith(QLatin1String("VmRSS:"))) {
            return line.mid(6).trimmed().section(QLatin1Char(' '), 0, 0).toLong();
        }
    }
    return -1;
#endif
}

// What happens once the main window is up: the archive of the command line,
// tuner mode, then the picture or the report.
class StartupRun : public QObject {
public:
    StartupRun(TMainForm& form, const app::StartupOptions& options, const QElapsedTimer& clock)
        : form_(form), options_(options), clock_(clock) {}

    void begin() {
        shownMs_ = clock_.elapsed();
        shownRss_ = ResidentKilobytes();
        if (!options_.archivePath.empty()) {
            // The name as the system gave it: a name that is not valid UTF-8
            // would not survive a trip through QString.
            std::error_code ec;
            const std::filesystem::path given(options_.archivePath);
            const std::filesystem::path absolute = std::filesystem::absolute(given, ec);
            form_.OpenArchive(ec ? given : absolute);
        }
        if (options_.enterTunerMode) form_.SpeedButton4Click();
        if (!unattended()) return;
        // Let the polls run to their end (a match or 100 ticks), then finish.
        auto* watch = new QTimer(this);
        watch->setInterval(10);
        QObject::connect(watch, &QTimer::timeout, this, [this, watch] {
            if (form_.pollRunning()) return;
            watch->stop();
            QTimer::singleShot(50, this, [this] { finish(); });
        });
        watch->start();
    }

    bool unattended() const { return !options_.grabPath.empty() || options_.reportStartup; }
    int exitCode() const { return exitCode_; }

private:
    void finish() {
        QCoreApplication::processEvents();
        if (options_.enterTunerMode && !inTunerMode) {
            std::cerr << "varnel-tuner: tuner mode could not be entered\n";
        }
        if (options_.reportStartup) {
            std::printf("main window shown: %lld ms, resident memory %ld kB\n", static_cast<long long>(shownMs_),
                        shownRss_);
            if (form_.tuningWindow != nullptr) {
                std::printf("tuning window open: %lld ms, resident memory %ld kB\n",
                            static_cast<long long>(clock_.elapsed()), ResidentKilobytes());
            }
            std::fflush(stdout);
        }
        if (!options_.grabPath.empty()) {
            const QPixmap picture = form_.grab();
            if (!picture.save(QString::fromLocal8Bit(options_.grabPath.c_str()), "PNG")) {
                std::cerr << "varnel-tuner: cannot write " << options_.grabPath << "\n";
                exitCode_ = 1;
            }
        }
        QCoreApplication::exit(exitCode_);
    }

    TMainForm& form_;
    const app::StartupOptions& options_;
    const QElapsedTimer& clock_;
    qint64 shownMs_ = 0;
    long shownRss_ = -1;
    int exitCode_ = 0;
};

// A refused command line: its reason on stderr (the exit status is 2).
bool Refused(const app::StartupOptions& options) {
    if (options.error.empty()) return false;
    std::cerr << "varnel-tuner: " << options.error << "\n";
    return true;
}

// A refused command line and --help need no display: look before Qt starts
// (Qt's own options such as "-platform x" pass as ignored). The exit status
// when the program ends here.
std::optional<int> AnswerWithoutDisplay(int argc, char* argv[]) {
    const app::StartupOptions early = app::ParseStartupOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (Refused(early)) return 2;
    if (early.help) {
        std::cout << app::StartupUsage();
        return 0;
    }
    return std::nullopt;
}

// Language files beside the program, else in the installed data folder;
// setting.ini beside the program when it may write there.
void SetDataFolders() {
    const auto programFolder = app::NativePath(QCoreApplication::applicationDirPath());
    SetProgramDirectory(LanguageFolder(programFolder));
    SetSettingsDirectory(SettingsFolder(programFolder));
}

// The virtual radio (with its faults) or the radios attached to the host.
std::unique_ptr<DeviceBackend> MakeBackend(const app::StartupOptions& options) {
    if (!options.virtualRadio) return CreateHostBackend();
    auto virtualBackend = std::make_unique<VirtualBackend>(options.virtualPreset);
    if (!options.virtualFaults.empty()) ApplyVirtualFaults(virtualBackend->radio(), options.virtualFaults);
    // Pulling the virtual cable is announced like a real USB removal.
    virtualBackend->setPlugListener([](bool) { HotplugWatch::notifyAll(); });
    return virtualBackend;
}

// Shows the forms and runs the program until it ends; the exit status.
int RunForms(const app::StartupOptions& options, DeviceBackend* backend, const QElapsedTimer& clock) {
    // The four forms, in this order.
    TMainForm mainForm(options);
    TAboutBox aboutBox(&mainForm);
    TParamForm paramForm(&mainForm);
    TFactroyForm factoryForm(&mainForm);
    mainForm.attachForms(&aboutBox, &paramForm, &factoryForm);
    if (options.virtualRadio) mainForm.attachVirtualRadio(static_cast<VirtualBackend*>(backend));
    mainForm.show();

    // SIGTERM, SIGHUP and the end of the desktop session leave the radio
    // unkeyed and out of tuner mode without asking (RadioShutdown.h).
    app::TerminationWatch termination;

    StartupRun run(mainForm, options, clock);
    QTimer::singleShot(0, &run, [&run] { run.begin(); });
    int result = QApplication::exec();
    if (run.unattended() && result == 0) result = run.exitCode();
    return result;
}

}  // namespace

int main(int argc, char* argv[]) {
    QElapsedTimer clock;
    clock.start();
    if (const std::optional<int> status = AnswerWithoutDisplay(argc, argv)) return *status;

    QApplication application(argc, argv);  // takes Qt's own options off the command line
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Varnel Software"));

    const app::StartupOptions options = app::ParseStartupOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (Refused(options)) return 2;
    for (const std::string& warning : options.warnings) std::cerr << "varnel-tuner: " << warning << "\n";

    SetDataFolders();
    ui::OpenRecordsStore();

    std::unique_ptr<DeviceBackend> backend = MakeBackend(options);
    SetDeviceBackend(backend.get());
    // Transfers run on the I/O thread: the window never waits on the radio.
    Exchange().setTransport(ExchangeEngine::Transport::IoThread);

    UnattendedDialogs unattendedDialogs;
    const bool unattended = !options.grabPath.empty() || options.reportStartup;
    if (unattended) ui::SetDialogs(&unattendedDialogs);

    const int result = RunForms(options, backend.get(), clock);

    Exchange().close();
    SetDeviceBackend(nullptr);
    ui::SetDialogs(nullptr);
    return result;
}
