// Archive files from the main window: open, save, save as, the dialogs'
// filters and folders, refused files and failed saves.
#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>
#include <QToolButton>
#include <cstring>

#ifdef __linux__
#include <csignal>
#include <sys/resource.h>
#endif

#include "app/TMainForm.h"
#include "data/Filemanage.h"
#include "data/Global.h"
#include "protocol/Sendcmd.h"
#include "support/TestEnvironment.h"
#include "tuning/TMDIChild.h"

using namespace varnel;
using varnel::test::TestEnvironment;

namespace {

QByteArray Memory() {
    QByteArray bytes(reinterpret_cast<const char*>(radioInfo.bytes.data()), RadioInfo::kSize);
    bytes.append(reinterpret_cast<const char*>(tunerImage.bytes.data()), TunerImage::kSize);
    return bytes;
}

void SetMemory(const QByteArray& bytes) {
    std::memcpy(radioInfo.bytes.data(), bytes.constData(), RadioInfo::kSize);
    std::memcpy(tunerImage.bytes.data(), bytes.constData() + RadioInfo::kSize, TunerImage::kSize);
}

QByteArray Buffer() { return QByteArray(reinterpret_cast<const char*>(archiveBuffer.data()), kArchiveSize); }

}  // namespace

class ArchiveTest : public QObject {
    Q_OBJECT

private slots:
    void roundTripByteForByte();
    void saveAfterSaveAsWritesWithoutAsking();
    void nameWithoutExtensionGetsTdb();
    void cancelledDialogsChangeNothing();
    void refusedFilesChangeNothing_data();
    void refusedFilesChangeNothing();
    void missingFileShowsReason();
    void failedSaveAsKeepsName();
    void saveFailingMidwayKeepsOldFile();
    void openWhileTunerModeAsksAndMayCancelTheOpen();
};

void ArchiveTest::roundTripByteForByte() {
    TestEnvironment env;
    TMainForm form;
    const QByteArray pattern = test::PatternArchive(1);
    SetMemory(pattern);
    form.OpenTuningWindow(QStringLiteral("Untitled.tdb"));
    QVERIFY(form.FileSaveAsItem->isEnabled());

    const QString path = env.defaultDataDirectory() + QStringLiteral("round.tdb");
    env.dialogs().saveNames << path;
    form.FileSaveAsItem->trigger();
    QCOMPARE(env.dialogs().saveFilters, QStringList{QStringLiteral("TDB Files (*.tdb) | *.tdb")});
    QCOMPARE(env.dialogs().saveSuffixes, QStringList{QStringLiteral(".tdb")});
    QCOMPARE(env.dialogs().saveConfirmsOverwrite, QList<bool>{true});  // an archive is never replaced unasked
    QVERIFY(env.dialogs().messages.isEmpty());
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray written = file.readAll();
    QCOMPARE(written.size(), qsizetype(1104));
    QCOMPARE(written, pattern);
    QCOMPARE(QString::fromStdString(currentFileName), path);
    QCOMPARE(form.tuningWindow->windowTitle(), QStringLiteral("round.tdb"));

    // Wipe memory, open the file again: every byte comes back. The wiped
    // image counts as an unsaved change, which is discarded.
    radioInfo.clear();
    tunerImage.clear();
    currentFileName.clear();
    env.dialogs().openNames << path;
    env.dialogs().answers << ui::MessageResult::Discard;
    form.SpeedButton2->click();
    QCOMPARE(env.dialogs().openFilters, QStringList{QStringLiteral("Archive Files(*.tdb)|*.tdb")});
    QCOMPARE(env.dialogs().openDirectories, QStringList{env.defaultDataDirectory()});
    QCOMPARE(Memory(), pattern);
    QCOMPARE(Buffer(), pattern);
    QCOMPARE(QString::fromStdString(currentFileName), path);
    QCOMPARE(form.openTuningWindows().size(), 1);
    QCOMPARE(form.tuningWindow->windowTitle(), QStringLiteral("round.tdb"));
    QVERIFY(!inTunerMode);
    QVERIFY(linkHandle == nullptr);  // opening touches neither mode nor link
    // The discard question, and the warning that the pattern is no plausible
    // radio's data.
    QCOMPARE(env.dialogs().messages.size(), 2);
    QCOMPARE(env.dialogs().messages[0].text, TestEnvironment::text("Safety", "M0001"));
    QVERIFY(env.dialogs().messages[1].text.startsWith(TestEnvironment::text("Safety", "P0001")));

    // Ctrl+O is the same command.
    env.dialogs().openNames << path;
    form.FileOpenItem->trigger();
    QCOMPARE(env.dialogs().openFilters.size(), 2);
    QCOMPARE(form.openTuningWindows().size(), 1);
}

void ArchiveTest::saveAfterSaveAsWritesWithoutAsking() {
    TestEnvironment env;
    TMainForm form;
    SetMemory(test::PatternArchive(2));
    form.OpenTuningWindow(QStringLiteral("Untitled.tdb"));
    // No name yet: Save asks.
    const QString path = env.filePath(QStringLiteral("first.tdb"));
    env.dialogs().saveNames << path;
    form.SpeedButton3->click();
    QCOMPARE(env.dialogs().saveFilters.size(), 1);
    QCOMPARE(env.readFile(QStringLiteral("first.tdb")), test::PatternArchive(2));

    // Now it writes to that name without asking.
    SetMemory(test::PatternArchive(3));
    form.FileSaveItem->trigger();
    QCOMPARE(env.dialogs().saveFilters.size(), 1);
    QCOMPARE(env.readFile(QStringLiteral("first.tdb")), test::PatternArchive(3));
    QVERIFY(env.dialogs().messages.isEmpty());
}

void ArchiveTest::nameWithoutExtensionGetsTdb() {
    TestEnvironment env;
    TMainForm form;
    SetMemory(test::PatternArchive(4));
    form.OpenTuningWindow(QStringLiteral("Untitled.tdb"));
    env.dialogs().saveNames << env.filePath(QStringLiteral("bare"));
    form.FileSaveAsItemClick();
    QVERIFY(env.fileExists(QStringLiteral("bare.tdb")));
    QVERIFY(!env.fileExists(QStringLiteral("bare")));
    QCOMPARE(form.tuningWindow->windowTitle(), QStringLiteral("bare.tdb"));
    QCOMPARE(QString::fromStdString(currentFileName), env.filePath(QStringLiteral("bare.tdb")));
}

void ArchiveTest::cancelledDialogsChangeNothing() {
    TestEnvironment env;
    TMainForm form;
    SetMemory(test::PatternArchive(5));
    form.FileOpen1Execute();  // cancelled: no name scripted
    QCOMPARE(Memory(), test::PatternArchive(5));
    QVERIFY(form.openTuningWindows().isEmpty());
    form.OpenTuningWindow(QStringLiteral("Untitled.tdb"));
    form.FileSaveAsItemClick();
    QCOMPARE(env.dialogs().saveFilters.size(), 1);
    QVERIFY(currentFileName.empty());
    QCOMPARE(form.tuningWindow->windowTitle(), QStringLiteral("Untitled.tdb"));
    QVERIFY(QDir(env.defaultDataDirectory()).entryList(QDir::Files).isEmpty());
}

void ArchiveTest::refusedFilesChangeNothing_data() {
    QTest::addColumn<int>("size");
    QTest::newRow("empty") << 0;
    QTest::newRow("one byte") << 1;
    QTest::newRow("300 bytes") << 300;
    QTest::newRow("one short") << 1103;
    QTest::newRow("one long") << 1105;
    QTest::newRow("long") << 5000;
}

void ArchiveTest::refusedFilesChangeNothing() {
    QFETCH(int, size);
    TestEnvironment env;
    TMainForm form;
    // A file opened before: it is what the tuning window shows.
    env.writeFile(QStringLiteral("good.tdb"), test::PatternArchive(6));
    QVERIFY(form.OpenArchive(env.filePath(QStringLiteral("good.tdb"))));
    env.dialogs().messages.clear();  // the pattern is no plausible radio's data: a warning
    TMDIChild* window = form.tuningWindow;
    const QByteArray memory = Memory();
    const std::string name = currentFileName;

    QByteArray bad = test::PatternArchive(7).repeated(5).left(size);
    env.writeFile(QStringLiteral("bad.tdb"), bad);
    env.dialogs().openNames << env.filePath(QStringLiteral("bad.tdb"));
    form.FileOpen1Execute();

    QCOMPARE(env.dialogs().messages.size(), 1);
    const test::RecordedMessage box = env.dialogs().messages.first();
    QCOMPARE(box.kind, ui::MessageKind::Error);
    QCOMPARE(box.caption, QStringLiteral("Varnel"));
    QVERIFY2(box.text.contains(env.filePath(QStringLiteral("bad.tdb"))), qPrintable(box.text));
    if (size > 1) QVERIFY2(box.text.contains(QString::number(size)), qPrintable(box.text));
    QVERIFY(box.text.contains(QLatin1String("1104")));

    QCOMPARE(Memory(), memory);
    QCOMPARE(Buffer(), test::PatternArchive(6));
    QCOMPARE(currentFileName, name);
    QCOMPARE(form.tuningWindow.data(), window);
    QCOMPARE(form.openTuningWindows().size(), 1);
    QCOMPARE(window->windowTitle(), QStringLiteral("good.tdb"));
}

void ArchiveTest::missingFileShowsReason() {
    TestEnvironment env;
    TMainForm form;
    SetMemory(test::PatternArchive(8));
    const QString path = env.filePath(QStringLiteral("nowhere.tdb"));
    QVERIFY(!form.OpenArchive(path));
    QCOMPARE(env.dialogs().messages.size(), 1);
    QCOMPARE(env.dialogs().messages.first().kind, ui::MessageKind::Error);
    QCOMPARE(env.dialogs().messages.first().caption, QStringLiteral("Varnel"));
    QVERIFY(env.dialogs().messages.first().text.contains(path));
    QVERIFY(env.dialogs().messages.first().text.contains(QLatin1String("No such file"), Qt::CaseInsensitive));
    QCOMPARE(Memory(), test::PatternArchive(8));
    QVERIFY(currentFileName.empty());
    QVERIFY(form.openTuningWindows().isEmpty());
}

void ArchiveTest::failedSaveAsKeepsName() {
    TestEnvironment env;
    TMainForm form;
    env.writeFile(QStringLiteral("keep.tdb"), test::PatternArchive(9));
    QVERIFY(form.OpenArchive(env.filePath(QStringLiteral("keep.tdb"))));
    env.dialogs().messages.clear();  // the pattern's plausibility warning
    const std::string name = currentFileName;
    const QString target = env.filePath(QStringLiteral("no-such-folder/new.tdb"));
    env.dialogs().saveNames << target;
    form.FileSaveAsItemClick();
    QCOMPARE(env.dialogs().messages.size(), 1);
    QCOMPARE(env.dialogs().messages.first().kind, ui::MessageKind::Error);
    QCOMPARE(env.dialogs().messages.first().caption, QStringLiteral("Varnel"));
    QVERIFY(env.dialogs().messages.first().text.contains(target));
    QCOMPARE(currentFileName, name);
    QCOMPARE(form.tuningWindow->windowTitle(), QStringLiteral("keep.tdb"));
    QVERIFY(!QFile::exists(target));
}

void ArchiveTest::saveFailingMidwayKeepsOldFile() {
#ifdef __linux__
    TestEnvironment env;
    TMainForm form;
    env.writeFile(QStringLiteral("old.tdb"), test::PatternArchive(10));
    QVERIFY(form.OpenArchive(env.filePath(QStringLiteral("old.tdb"))));
    env.dialogs().messages.clear();  // the pattern's plausibility warning
    SetMemory(test::PatternArchive(11));

    // Files may grow to 600 bytes only: the write stops half-way, as on a
    // full disk. (The limit binds root as well.)
    struct rlimit saved {};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 600;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
    form.FileSaveItemClick();
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    QCOMPARE(env.dialogs().messages.size(), 1);
    QCOMPARE(env.dialogs().messages.first().kind, ui::MessageKind::Error);
    QVERIFY(env.dialogs().messages.first().text.contains(env.filePath(QStringLiteral("old.tdb"))));
    QCOMPARE(env.readFile(QStringLiteral("old.tdb")), test::PatternArchive(10));
    // No half-written file is left behind either.
    QCOMPARE(QDir(env.programDirectory()).entryList(QDir::Files | QDir::Hidden).filter(QStringLiteral(".tmp")),
             QStringList());
    // The same save works once there is room.
    form.FileSaveItemClick();
    QCOMPARE(env.readFile(QStringLiteral("old.tdb")), test::PatternArchive(11));
#else
    QSKIP("needs a file size limit");
#endif
}

void ArchiveTest::openWhileTunerModeAsksAndMayCancelTheOpen() {
    TestEnvironment env;
    TMainForm form;
    QVERIFY(test::EnterTunerMode(form));
    TMDIChild* tuning = form.tuningWindow;
    env.writeFile(QStringLiteral("a.tdb"), test::PatternArchive(12));
    env.dialogs().messages.clear();

    // Refused: the open is cancelled; the tuned window stays alone, with
    // the radio's image, and tuner mode stays on.
    const QByteArray before = Memory();
    env.dialogs().answers << ui::MessageResult::Cancel;
    QVERIFY(!form.OpenArchive(env.filePath(QStringLiteral("a.tdb"))));
    QCOMPARE(env.dialogs().messages.size(), 1);
    QCOMPARE(env.dialogs().messages.first().kind, ui::MessageKind::Question);
    QVERIFY(inTunerMode);
    QCOMPARE(form.openTuningWindows(), QList<TMDIChild*>{tuning});
    QCOMPARE(form.tuningWindow.data(), tuning);
    QCOMPARE(Memory(), before);

    // Confirmed: tuner mode is left and the windows close.
    env.dialogs().answers << ui::MessageResult::Ok;
    QVERIFY(form.OpenArchive(env.filePath(QStringLiteral("a.tdb"))));
    QVERIFY(!inTunerMode);
    QCOMPARE(form.openTuningWindows().size(), 1);
    QCOMPARE(Memory(), test::PatternArchive(12));
}

QTEST_MAIN(ArchiveTest)
#include "archive_test.moc"
