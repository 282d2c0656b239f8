// Failures shown to the operator: the chain in the interface language in an
// error box, through the dialog seam.
#include <QTest>

#include "ui/ShowError.h"
#include "lang/Loadlanguage.h"
#include "support/TestEnvironment.h"

using namespace varnel;
using varnel::test::TestEnvironment;

class ShowErrorTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TestEnvironment> env_;

    void useLanguage(const QByteArray& body) {
        env_->writeFile(QStringLiteral("english.lang"), body);
        OpenLanguage(kLanguageEnglish);
    }

private slots:
    void init() { env_ = std::make_unique<TestEnvironment>(); }
    void cleanup() { env_.reset(); }

    void translatesEveryLinkThroughItsSectionAndKey() {
        useLanguage("[Errors]\r\nNoAnswer=Radio %1 is silent\r\n[Files]\r\nOpenArchive=Archive not opened\r\n");
        const Error e = Error::make(ErrorCode::NoAnswer, "no answer from %1", "E:", "NoAnswer")
                            .wrap("cannot open the archive", "a.tdb", "Files:OpenArchive");
        QCOMPARE(ui::ShowError(nullptr, e), ui::MessageResult::Ok);
        QCOMPARE(env_->dialogs().messages.size(), 1);
        const test::RecordedMessage& m = env_->dialogs().messages.first();
        QCOMPARE(m.kind, ui::MessageKind::Error);
        QCOMPARE(m.caption, QStringLiteral("Varnel"));
        QCOMPARE(m.buttons, ui::MessageButtons::Ok);
        QCOMPARE(m.text, QStringLiteral("a.tdb: Archive not opened: Radio E: is silent"));
    }

    void keepsTheEnglishWhereATextIsMissing() {
        useLanguage("[Errors]\r\nOther=x\r\n");
        const Error e = Error::make(ErrorCode::FileError, "cannot read %1", "b.tdb", "Files:Read")
                            .wrap("the archive stays as it was");
        ui::ShowError(nullptr, e);
        QCOMPARE(env_->dialogs().messages.size(), 1);
        QCOMPARE(env_->dialogs().messages.first().text, QStringLiteral("the archive stays as it was: cannot read b.tdb"));
    }

    void chineseTextsInChinese() {
        env_->writeFile(QStringLiteral("chinese.lang"), QStringLiteral("[Errors]\r\nBusy=%1 正忙\r\n").toUtf8());
        OpenLanguage(kLanguageChinese);
        ui::ShowError(nullptr, Error::make(ErrorCode::Busy, "%1 is busy", "E:", "Busy"));
        QCOMPARE(env_->dialogs().messages.first().text, QStringLiteral("E: 正忙"));
    }

    void successShowsNothing() {
        QCOMPARE(ui::ShowError(nullptr, Error{}), ui::MessageResult::Ok);
        QVERIFY(env_->dialogs().messages.isEmpty());
    }

    void questionBoxAnswers() {
        env_->dialogs().answers << ui::MessageResult::Cancel;
        const Error e = Error::make(ErrorCode::Refused, "refused");
        QCOMPARE(ui::ShowError(nullptr, e, ui::MessageButtons::OkCancel), ui::MessageResult::Cancel);
        QCOMPARE(env_->dialogs().messages.first().buttons, ui::MessageButtons::OkCancel);
    }
};

QTEST_MAIN(ShowErrorTest)
#include "show_error_test.moc"
