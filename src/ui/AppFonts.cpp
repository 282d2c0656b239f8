#include "ui/AppFonts.h"

#include <QApplication>
#include <QFontDatabase>
#include <QStringList>

namespace varnel::ui {

QString ProgramFontFamily() {
    static const QString family = [] {
        const QStringList candidates = {
            QStringLiteral("Arial Unicode MS"),    QStringLiteral("Microsoft YaHei UI"),
            QStringLiteral("Microsoft YaHei"),     QStringLiteral("WenQuanYi Micro Hei"),
            QStringLiteral("Noto Sans CJK SC"),    QStringLiteral("Source Han Sans SC"),
            QStringLiteral("WenQuanYi Zen Hei"),   QStringLiteral("Droid Sans Fallback"),
            QStringLiteral("SimSun"),
        };
        const QStringList installed = QFontDatabase::families();
        for (const QString& candidate : candidates) {
            if (installed.contains(candidate, Qt::CaseInsensitive)) return candidate;
        }
        return QString();
    }();
    return family;
}

QFont ProgramFont(int points) {
    QFont font = QApplication::font();
    const QString family = ProgramFontFamily();
    if (!family.isEmpty()) font.setFamily(family);
    font.setPointSize(points);
    return font;
}

}  // namespace varnel::ui
