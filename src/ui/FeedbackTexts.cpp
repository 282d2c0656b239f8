#include "ui/FeedbackTexts.h"

#include <QCoreApplication>
#include <QDir>
#include <QApplication>
#include <QLibraryInfo>
#include <QMainWindow>
#include <QStatusBar>
#include <QTranslator>
#include <memory>
#include <vector>

#include "lang/Loadlanguage.h"

namespace varnel::ui {

void ShowStatusMessage(QWidget* from, const QString& text) {
    QMainWindow* main = nullptr;
    for (QWidget* w = from; w != nullptr && main == nullptr; w = w->parentWidget()) main = qobject_cast<QMainWindow*>(w);
    if (main == nullptr) {
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (main == nullptr) main = qobject_cast<QMainWindow*>(top);
        }
    }
    if (main != nullptr && main->statusBar() != nullptr) main->statusBar()->showMessage(text, 20000);
}

QString StatusText(const char* key) { return QString::fromStdString(Text("Status", key)); }

TextLookup LanguageLookup() {
    return [](const char* section, const char* key) { return Text(section, key); };
}

QLocale InterfaceLocale() {
    return languageIndex == kLanguageChinese ? QLocale(QLocale::Chinese, QLocale::China)
                                             : QLocale(QLocale::English, QLocale::UnitedStates);
}

QString InterfaceDateTime(const QDateTime& when) {
    const QLocale locale = InterfaceLocale();
    return locale.toString(when.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
           locale.toString(when.time(), QLocale::LongFormat);
}

QString InterfaceTime(const QDateTime& when) { return when.time().toString(QStringLiteral("hh:mm:ss")); }

namespace {
std::vector<std::unique_ptr<QTranslator>>& Installed() {
    static std::vector<std::unique_ptr<QTranslator>> translators;
    return translators;
}
}  // namespace

bool InstallQtCatalogue(int index) {
    auto& installed = Installed();
    for (auto& translator : installed) QCoreApplication::removeTranslator(translator.get());
    installed.clear();
    if (index != kLanguageChinese) return false;

    const QStringList folders = {
        QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("translations")),
        QLibraryInfo::path(QLibraryInfo::TranslationsPath),
    };
    // qtbase holds the standard buttons, the file dialog and the edit menus.
    for (const QString& folder : folders) {
        auto translator = std::make_unique<QTranslator>();
        if (translator->load(QStringLiteral("qtbase_zh_CN"), folder)) {
            QCoreApplication::installTranslator(translator.get());
            installed.push_back(std::move(translator));
            return true;
        }
    }
    return false;
}

QString RadioOpenProblem() {
    OpenError error;
    if (OpenRadio(&error) != nullptr) return {};
    const QString reason = OpenFailureReason(error);
    return reason.isEmpty() ? StatusText("O0004") : reason;
}

QString OpenFailureReason(const OpenError& error) {
    QString text;
    switch (error.kind) {
        case OpenError::Kind::None: return {};
        case OpenError::Kind::NoRadio: return StatusText("O0001");
        case OpenError::Kind::PermissionDenied: text = StatusText("O0002"); break;
        case OpenError::Kind::Busy: text = StatusText("O0003"); break;
        case OpenError::Kind::WrongDevice:
        case OpenError::Kind::Other: text = StatusText("O0004"); break;
    }
    QString where = QString::fromStdString(error.device);
    if (!error.detail.empty()) where += (where.isEmpty() ? QString() : QStringLiteral(": ")) + QString::fromStdString(error.detail);
    if (!where.isEmpty()) text += QStringLiteral(" (") + where + QLatin1Char(')');
    return text;
}

QString OpenRadioFailedText(const OpenError& error) {
    QString text = QString::fromStdString(Text("MessageBox", "M010"));
    if (error.kind == OpenError::Kind::PermissionDenied || error.kind == OpenError::Kind::Busy ||
        error.kind == OpenError::Kind::WrongDevice || error.kind == OpenError::Kind::Other) {
        const QString reason = error.kind == OpenError::Kind::WrongDevice
                                   ? QString::fromStdString(DescribeOpenError(error))
                                   : OpenFailureReason(error);
        if (!reason.isEmpty()) text += QStringLiteral("\n\n") + reason;
    }
    return text;
}

}  // namespace varnel::ui
