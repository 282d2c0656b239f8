// Value edits, up-downs and scroll bars of the item pages.
//
// The controls are built from PageTables.h and found by name with
// control<T>(); TUpDown::clicked, TValueEdit's signals and
// TScrollBar::endScroll are the events to connect here.
#include "tuning/TMDIChild.h"

void TMDIChild::ConnectValueControls() {}
