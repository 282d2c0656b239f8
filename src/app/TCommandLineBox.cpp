#include "app/TCommandLineBox.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <iterator>

#include "app/AppTexts.h"
#include "sim/VirtualFaults.h"
#include "sim/VirtualRadio.h"
#include "ui/AppFonts.h"

using varnel::app::Fill;
using varnel::app::Tr;

namespace {

struct OptionRow {
    const char* option;  // as it is typed: not translated
    const char* key;     // what it does, section [Tuner]
};

constexpr OptionRow kOptions[] = {
    {"-E", "H0010"},
    {"archive.tdb", "H0011"},
    {"--virtual-radio[=PRESET]", "H0012"},
    {"--virtual-faults=SPEC", "H0013"},
    {"--enter-tuner-mode", "H0014"},
    {"--grab PATH", "H0015"},
    {"--report-startup", "H0016"},
    {"--help", "H0017"},
};

}  // namespace

TCommandLineBox::TCommandLineBox(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("TCommandLineBox"));
    setModal(true);
    IntroLabel = new QLabel(this);
    IntroLabel->setObjectName(QStringLiteral("IntroLabel"));
    IntroLabel->setWordWrap(true);
    OptionTable = new QTableWidget(static_cast<int>(std::size(kOptions)), 2, this);
    OptionTable->setObjectName(QStringLiteral("OptionTable"));
    OptionTable->verticalHeader()->setVisible(false);
    OptionTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    OptionTable->setSelectionMode(QAbstractItemView::NoSelection);
    OptionTable->setWordWrap(true);
    OptionTable->setShowGrid(false);
    // The option keeps its width; the meaning takes the rest and wraps.
    OptionTable->horizontalHeader()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    OptionTable->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
    OptionTable->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    Buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    Buttons->setObjectName(QStringLiteral("Buttons"));
    connect(Buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(IntroLabel);
    layout->addWidget(OptionTable, 1);
    layout->addWidget(Buttons);
    resize(760, 440);
    applyTexts();
}

void TCommandLineBox::applyTexts() {
    setFont(varnel::ui::ProgramFont(varnel::FontPointsForDialogs()));
    setWindowTitle(Tr("Tuner", "H0004"));
    IntroLabel->setText(Tr("Tuner", "H0003"));
    OptionTable->setHorizontalHeaderLabels({Tr("Tuner", "H0005"), Tr("Tuner", "H0006")});
    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    fixed.setPointSize(font().pointSize());
    int row = 0;
    for (const OptionRow& option : kOptions) {
        auto* name = new QTableWidgetItem(QString::fromLatin1(option.option));
        name->setFont(fixed);
        name->setTextAlignment(Qt::AlignLeft | Qt::AlignTop);
        OptionTable->setItem(row, 0, name);
        const QString meaning = Fill(Tr("Tuner", option.key), {QString::fromStdString(varnel::VirtualPresetNames()),
                                                                QString::fromStdString(varnel::VirtualFaultNames())});
        auto* what = new QTableWidgetItem(meaning);
        what->setTextAlignment(Qt::AlignLeft | Qt::AlignTop);
        OptionTable->setItem(row, 1, what);
        ++row;
    }
    OptionTable->resizeRowsToContents();
}
