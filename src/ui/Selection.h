// What the operator has selected in the tuning window and what the radio is
// doing for it. Only the windows keep it; the core takes items and points as
// arguments. Touched by the UI thread only.
#pragma once

namespace varnel {

extern int currentItem;
extern int currentPoint;  // 1-based
extern int currentValue;
extern int actionCode;  // second payload byte of the live-set
extern bool txKeyed;
extern bool rxKeyed;

// Back to the state at program start (tests use it between cases).
void ResetSelection();

}  // namespace varnel
