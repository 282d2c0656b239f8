#include "app/TAboutBox.h"

#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/AppFonts.h"
#include "lang/Loadlanguage.h"

namespace {

QString Tr(const char* section, const char* key) { return QString::fromStdString(varnel::Text(section, key)); }

QLabel* MakeLabel(QWidget* parent, const char* name) {
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setWordWrap(true);
    return label;
}

}  // namespace

QString TAboutBox::ProgramVersion() { return QStringLiteral(VARNEL_VERSION); }

TAboutBox::TAboutBox(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("TAboutBox"));
    setWindowFlags(Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setModal(true);
    // Design size 394 x 179; it grows when a language needs more room.
    setMinimumSize(394, 179);

    QFrame* panel = buildPanel();

    OKButton = new QPushButton(QStringLiteral("OK"), this);
    OKButton->setObjectName(QStringLiteral("OKButton"));
    OKButton->setDefault(true);
    connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(OKButton);
    buttons->addStretch(1);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(panel, 1);
    layout->addLayout(buttons);
}

// The framed panel: the icon column beside the text column.
QFrame* TAboutBox::buildPanel() {
    auto* panel = new QFrame(this);
    panel->setObjectName(QStringLiteral("Panel1"));
    panel->setFrameShape(QFrame::StyledPanel);
    QVBoxLayout* iconColumn = buildIconColumn(panel);
    QVBoxLayout* textColumn = buildTextColumn(panel);

    auto* panelLayout = new QHBoxLayout(panel);
    panelLayout->addLayout(iconColumn);
    panelLayout->addSpacing(8);
    panelLayout->addLayout(textColumn, 1);
    return panel;
}

// The program icon above the bold "VARNEL".
QVBoxLayout* TAboutBox::buildIconColumn(QWidget* panel) {
    ProgramIcon = new QLabel(panel);
    ProgramIcon->setObjectName(QStringLiteral("ProgramIcon"));
    ProgramIcon->setPixmap(QIcon(QStringLiteral(":/icons/varnel.png")).pixmap(48, 48));
    ProgramIcon->setAlignment(Qt::AlignTop | Qt::AlignHCenter);

    VarnelLabel = new QLabel(QStringLiteral("VARNEL"), panel);
    VarnelLabel->setObjectName(QStringLiteral("VarnelLabel"));
    QFont strong;
    strong.setBold(true);
    VarnelLabel->setFont(strong);
    VarnelLabel->setAlignment(Qt::AlignHCenter);

    auto* iconColumn = new QVBoxLayout;
    iconColumn->addWidget(ProgramIcon);
    iconColumn->addWidget(VarnelLabel);
    iconColumn->addStretch(1);
    return iconColumn;
}

// Product name (bold), notice and comments.
QVBoxLayout* TAboutBox::buildTextColumn(QWidget* panel) {
    ProductName = MakeLabel(panel, "ProductName");
    QFont bold;  // only the weight is set; face and size follow the box
    bold.setBold(true);
    ProductName->setFont(bold);
    Version = MakeLabel(panel, "Version");
    Copyright = MakeLabel(panel, "Copyright");
    Comments = MakeLabel(panel, "Comments");

    auto* textColumn = new QVBoxLayout;
    textColumn->addWidget(ProductName);
    textColumn->addWidget(Version);
    textColumn->addWidget(Copyright);
    textColumn->addWidget(Comments);
    textColumn->addStretch(1);
    return textColumn;
}

void TAboutBox::FormShow() {
    setFont(varnel::ui::ProgramFont(varnel::FontPointsForDialogs()));
    setWindowTitle(Tr("About", "A000"));
    ProductName->setText(Tr("About", "A001"));
    Version->setText(Tr("Tuner", "A0001").replace(QStringLiteral("%1"), ProgramVersion()));
    Copyright->setText(Tr("About", "A002"));
    Comments->setText(Tr("About", "A003"));
}

void TAboutBox::showEvent(QShowEvent* event) {
    FormShow();
    QDialog::showEvent(event);
}
