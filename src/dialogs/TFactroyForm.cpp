#include "ui/Records.h"
#include "dialogs/TFactroyForm.h"

#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "ui/AppFonts.h"
#include "ui/DialogSeam.h"
#include "ui/Polling.h"
#include "ui/FeedbackTexts.h"
#include "data/Global.h"
#include "data/Safety.h"
#include "device/Mass_storage.h"
#include "lang/Loadlanguage.h"
#include "protocol/Exchange.h"
#include "protocol/Sendcmd.h"

using namespace varnel;

namespace {

QString Tr(const char* section, const char* key) { return QString::fromStdString(Text(section, key)); }

}  // namespace

TFactroyForm::TFactroyForm(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("TFactroyForm"));
    // The caption follows the language (FormShow).
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setModal(true);
    setFixedSize(336, 331);

    Button1 = new QPushButton(this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setAutoDefault(false);
    Button2 = new QPushButton(this);
    Button2->setObjectName(QStringLiteral("Button2"));
    Button2->setAutoDefault(false);
    Button2->setVisible(false);  // writing the factory copy is not offered
    ListBox1 = new QListWidget(this);
    ListBox1->setObjectName(QStringLiteral("ListBox1"));
    ListBox1->setWordWrap(true);
    connect(Button1, &QPushButton::clicked, this, &TFactroyForm::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TFactroyForm::Button2Click);

    ReadFactroyInfoTimer = ui::NamedTimer(this, "ReadFactroyInfoTimer", 10, &TFactroyForm::ReadFactroyInfoTimerTimer);
    WriteFactroyInfoTimer = ui::NamedTimer(this, "WriteFactroyInfoTimer", 10, &TFactroyForm::WriteFactroyInfoTimerTimer);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(Button1);
    buttons->addWidget(Button2);
    buttons->addStretch(1);
    auto* column = new QVBoxLayout(this);
    column->addLayout(buttons);
    column->addWidget(ListBox1, 1);
}

void TFactroyForm::setFactoryReadHandler(std::function<void()> handler) {
    factoryReadHandler_ = std::move(handler);
}

void TFactroyForm::showEvent(QShowEvent* event) {
    FormShow();
    QDialog::showEvent(event);
}

void TFactroyForm::FormShow() {
    setFont(ui::ProgramFont(FontPointsForDialogs()));
    setWindowTitle(Tr("Tuner", "F0001"));
    Button1->setText(Tr("Factroy", "F0001"));
    Button2->setText(Tr("Factroy", "F0002"));
    ListBox1->clear();
}

bool TFactroyForm::ensureLink() {
    // An expired poll closed the link that tuner mode opened; without this
    // a second press could never reach the radio.
    OpenError error;
    if (EnsureRadioLink(&error)) return true;
    ui::Dialogs().message(this, ui::MessageKind::Error, QStringLiteral("Varnel"), ui::OpenRadioFailedText(error),
                          ui::MessageButtons::Ok);
    return false;
}

void TFactroyForm::Button1Click() {
    // The factory copy replaces the working image: the operator agrees
    // first, knowing whether unsaved changes go with it.
    QStringList lines{Tr("Safety", "F0001")};
    if (ImageModified(tunerImage)) lines << Tr("Safety", "F0002");
    lines << QString() << Tr("Safety", "F0003");
    if (ui::Dialogs().message(this, ui::MessageKind::Question, QStringLiteral("Varnel"), lines.join(QLatin1Char('\n')),
                              ui::MessageButtons::OkCancel) != ui::MessageResult::Ok) {
        return;
    }
    if (!ensureLink()) return;
    read_.start();  // 0x0065, reply of 521 bytes
    ReadFactroyInfoTimer->start();
}

void TFactroyForm::Button2Click() {
    if (!ensureLink()) return;
    write_.start();  // 0x0064 with the whole image, reply of 9 bytes
    WriteFactroyInfoTimer->start();
}

// An expiry is silent, as the main window's polls: the empty list is the
// only sign. The operation has set both counters to 0 and closed the link.

void TFactroyForm::ReadFactroyInfoTimerTimer() {
    const OpStatus status = read_.tick();
    if (status == OpStatus::Running) return;
    ReadFactroyInfoTimer->stop();
    if (status != OpStatus::Done) return;
    // The operation has put the two band halves into the image.
    ListBox1->addItem(Tr("Factroy", "F0003"));
    ui::RecordFactoryRead();
    if (factoryReadHandler_) factoryReadHandler_();
    // The dialog stays open so that the result can be read; the operator
    // closes it.
}

void TFactroyForm::WriteFactroyInfoTimerTimer() {
    const OpStatus status = write_.tick();
    if (status == OpStatus::Running) return;
    WriteFactroyInfoTimer->stop();
    if (status == OpStatus::Done) ListBox1->addItem(Tr("Factroy", "F0004"));
}
