// The bit-error-rate and man-down pages: point selection, receiver buttons,
// their reading pollers and the man-down save.
#include "tuning/TMDIChild.h"

void TMDIChild::ErrorRatePointSelected(int point) { (void)point; }
void TMDIChild::Button13Click() {}
void TMDIChild::ErrorRateTimerTimer() {}
void TMDIChild::Button15Click() {}
void TMDIChild::MandownTimerTimer() {}
void TMDIChild::Button16Click() {}
