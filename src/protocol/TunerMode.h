// Tuner mode has one owner: these two calls alone write inTunerMode. The
// main window's tuner-mode control, RadioSession (the command-line tool and
// automatic alignment), the tuning window's close query and its connection
// watch call them; everyone else reads inTunerMode.
#pragma once

namespace varnel {

// The radio acknowledged entering tuner mode (the drivers call it once their
// own steps are done: the main window after its new tuning window is up).
void EnteredTunerMode();
// The radio left tuner mode (acknowledged, or the close query's unawaited
// leave) or went away: cleared. What it holds is forgotten by the leave's
// outcome (LeaveOperation) or by the caller, once it has used it.
void LeftTunerMode();

}  // namespace varnel
