// The parameter editor's rules live in the core library (data/ParamGrid.h),
// where the command-line tool and the core tests reach them too.
#pragma once

#include "data/ParamGrid.h"
