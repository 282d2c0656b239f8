#include "tuning/TMDIChild.h"

#include <QCloseEvent>
#include <QTimer>

#include "app/TuningHost.h"

TMDIChild::TMDIChild(TuningHost* host, QWidget* parent) : QWidget(parent), host_(host) {
    setAttribute(Qt::WA_DeleteOnClose);
    CheckTimer = new QTimer(this);
    CheckTimer->setObjectName("CheckTimer");
    CheckTimer->setInterval(2000);
    MandownTimer = new QTimer(this);
    MandownTimer->setObjectName("MandownTimer");
    MandownTimer->setInterval(1000);
    ErrorRateTimer = new QTimer(this);
    ErrorRateTimer->setObjectName("ErrorRateTimer");
    ErrorRateTimer->setInterval(1000);
}

TMDIChild::~TMDIChild() {
    if (host_ != nullptr) host_->tuningWindowDestroyed(this);
}

void TMDIChild::FormShow() {
    if (host_ != nullptr) host_->setDocumentCommandsEnabled(true);
}

void TMDIChild::lockPowerPage() {}
void TMDIChild::lockCtcssPage() {}
void TMDIChild::lockStabilityPage() {}
void TMDIChild::lockMeasureButtons() {}
void TMDIChild::lockAdjustControls() {
    lockPowerPage();
    lockCtcssPage();
    lockStabilityPage();
}

void TMDIChild::closeEvent(QCloseEvent* event) {
    if (host_ != nullptr) host_->setDocumentCommandsEnabled(false);
    event->accept();
}
