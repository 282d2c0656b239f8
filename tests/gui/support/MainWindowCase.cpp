// The moc of MainWindowCase is built with the test support.
#include "support/MainWindowCase.h"
