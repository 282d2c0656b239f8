#include "protocol/TunerMode.h"

#include "data/Global.h"

namespace varnel {

void EnteredTunerMode() { inTunerMode = true; }

void LeftTunerMode() { inTunerMode = false; }

}  // namespace varnel
