#include "app/AppTexts.h"

#include "data/TunerImage.h"

namespace varnel::app {

QString ShortHint(const QString& hint) {
    const qsizetype bar = hint.indexOf(QLatin1Char('|'));
    return bar < 0 ? hint : hint.left(bar);
}

QString LongHint(const QString& hint) {
    const qsizetype bar = hint.indexOf(QLatin1Char('|'));
    return bar < 0 ? hint : hint.mid(bar + 1);
}

QString DescribeRadioText(const RadioInfo& info) {
    QString name = QString::fromStdString(info.modelName());
    if (name.isEmpty()) name = QStringLiteral("?");
    return Fill(Tr("Safety", "D0001"), {name, QString::number(info.modelCode()), QString::number(info.modelVariant()),
                                        QString::number(info.imageBytes())});
}

QString DescribeProblem(const PlausibilityProblem& problem) {
    switch (problem.kind) {
        case PlausibilityProblem::Kind::ModelName: return Tr("Safety", "P0002");
        case PlausibilityProblem::Kind::ModelVariant: return Fill(Tr("Safety", "P0003"), {QString::number(problem.value)});
        case PlausibilityProblem::Kind::TxFrequency:
        case PlausibilityProblem::Kind::RxFrequency: {
            const char* key = problem.kind == PlausibilityProblem::Kind::TxFrequency ? "P0004" : "P0005";
            return Fill(Tr("Safety", key), {QString::number(problem.band), QString::number(problem.point),
                                            QString::fromStdString(FormatMegahertz(problem.value))});
        }
    }
    return {};
}

}  // namespace varnel::app
