// The main window with awkward files: a FIFO in place of setting.ini, an
// archive name that is not valid UTF-8, a read-only archive, a link.
#include <QDir>
#include <QFile>
#include <QTest>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "app/TMainForm.h"
#include "data/Filemanage.h"
#include "data/Global.h"
#include "support/TestEnvironment.h"
#include "tuning/TMDIChild.h"

using namespace varnel;
using varnel::test::TestEnvironment;

namespace {

namespace fs = std::filesystem;

fs::path Native(const QString& path) { return fs::path(QFile::encodeName(path).toStdString()); }

QByteArray ReadNative(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

void WriteNative(const fs::path& path, const QByteArray& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.constData(), bytes.size());
}

void SetMemory(const QByteArray& bytes) {
    std::memcpy(radioInfo.bytes.data(), bytes.constData(), RadioInfo::kSize);
    std::memcpy(tunerImage.bytes.data(), bytes.constData() + RadioInfo::kSize, TunerImage::kSize);
}

}  // namespace

class FileSafetyTest : public QObject {
    Q_OBJECT

private slots:
    void fifoSettingsFileIsReportedAndDoesNotHang();
    void nonUtf8ArchiveNameOpensAndSavesBack();
    void readOnlyArchiveIsRefusedWithTheReason();
    void saveThroughLinkKeepsTheLink();
};

void FileSafetyTest::fifoSettingsFileIsReportedAndDoesNotHang() {
#ifdef _WIN32
    QSKIP("Windows has no named pipes in the file system");
#else
    TestEnvironment env;
    const fs::path settings = Native(env.filePath(QStringLiteral("setting.ini")));
    fs::remove(settings);
    QCOMPARE(::mkfifo(settings.c_str(), 0644), 0);
    TMainForm form;
    // English texts all the same.
    QCOMPARE(form.windowTitle(), QStringLiteral("Varnel DMR Radio Tuner"));
    QTRY_COMPARE(env.dialogs().messages.size(), 1);
    const test::RecordedMessage box = env.dialogs().messages.first();
    QCOMPARE(box.kind, ui::MessageKind::Error);
    QCOMPARE(box.caption, QStringLiteral("Varnel"));
    QVERIFY2(box.text.contains(env.filePath(QStringLiteral("setting.ini"))), qPrintable(box.text));
    QVERIFY2(box.text.contains(QLatin1String("pipe")), qPrintable(box.text));
    // Closing stores nothing into the FIFO and says why.
    form.close();
    QCOMPARE(env.dialogs().messages.size(), 2);
    QVERIFY(env.dialogs().messages.last().text.contains(QLatin1String("settings file")));
    QVERIFY(fs::is_fifo(settings));
#endif
}

void FileSafetyTest::nonUtf8ArchiveNameOpensAndSavesBack() {
    TestEnvironment env;
    TMainForm form;
    const fs::path dir = Native(env.defaultDataDirectory());
#ifdef _WIN32
    // Windows names are UTF-16: a name outside the ANSI code page is the
    // awkward case there.
    const fs::path file = dir / fs::path(L"\u7535\u53F0-\u00E9.tdb");
    const std::string expectedName = app::NarrowFileName(app::FromNativePath(file));
#else
    const fs::path file = dir / std::string("radio-\xFF\xFE.tdb");
    const std::string expectedName = file.native();
#endif
    WriteNative(file, test::PatternArchive(21));
    QVERIFY(form.OpenArchive(file));
    // Only the warning that the pattern is no plausible radio's data.
    QCOMPARE(env.dialogs().messages.size(), 1);
    QVERIFY(env.dialogs().messages.first().text.startsWith(TestEnvironment::text("Safety", "P0001")));
    env.dialogs().messages.clear();
    QVERIFY(form.tuningWindow != nullptr);
    QCOMPARE(currentFileName, expectedName);

    SetMemory(test::PatternArchive(22));
    form.FileSaveItemClick();
    QVERIFY(env.dialogs().messages.isEmpty());
    QCOMPARE(ReadNative(file), test::PatternArchive(22));
    int count = 0;
    for (const auto& entry : fs::directory_iterator(dir)) count += entry.is_regular_file() ? 1 : 0;
    QCOMPARE(count, 1);
    fs::remove(file);  // QTemporaryDir cannot remove a name Qt cannot decode
}

void FileSafetyTest::readOnlyArchiveIsRefusedWithTheReason() {
    TestEnvironment env;
    TMainForm form;
    env.writeFile(QStringLiteral("locked.tdb"), test::PatternArchive(23));
    QVERIFY(form.OpenArchive(env.filePath(QStringLiteral("locked.tdb"))));
    env.dialogs().messages.clear();  // the pattern's plausibility warning
    QFile::setPermissions(env.filePath(QStringLiteral("locked.tdb")), QFile::ReadOwner | QFile::ReadGroup);
    SetMemory(test::PatternArchive(24));
    form.FileSaveItemClick();
    QCOMPARE(env.dialogs().messages.size(), 1);
    const QString text = env.dialogs().messages.first().text;
    QVERIFY2(text.contains(env.filePath(QStringLiteral("locked.tdb"))), qPrintable(text));
    QVERIFY2(text.contains(QLatin1String("read-only")), qPrintable(text));
    QCOMPARE(env.readFile(QStringLiteral("locked.tdb")), test::PatternArchive(23));
}

void FileSafetyTest::saveThroughLinkKeepsTheLink() {
    TestEnvironment env;
    TMainForm form;
    env.writeFile(QStringLiteral("real.tdb"), test::PatternArchive(25));
    const fs::path link = Native(env.filePath(QStringLiteral("link.tdb")));
    std::error_code linkError;
    fs::create_symlink("real.tdb", link, linkError);
#ifdef _WIN32
    // Windows lets only administrators and developer mode make links.
    if (linkError) QSKIP("this user may not create symbolic links");
#endif
    QVERIFY2(!linkError, linkError.message().c_str());
    QVERIFY(form.OpenArchive(env.filePath(QStringLiteral("link.tdb"))));
    env.dialogs().messages.clear();  // the pattern's plausibility warning
    QCOMPARE(form.tuningWindow->windowTitle(), QStringLiteral("link.tdb"));
    SetMemory(test::PatternArchive(26));
    form.FileSaveItemClick();
    QVERIFY(env.dialogs().messages.isEmpty());
    QVERIFY(fs::is_symlink(link));
    QCOMPARE(env.readFile(QStringLiteral("real.tdb")), test::PatternArchive(26));
}

QTEST_MAIN(FileSafetyTest)
#include "file_safety_test.moc"
