#include "ui/Selection.h"

namespace varnel {

int currentItem = 0;
int currentPoint = 1;
int currentValue = 0;
int actionCode = 0;
bool txKeyed = false;
bool rxKeyed = false;

void ResetSelection() {
    currentItem = 0;
    currentPoint = 1;
    currentValue = 0;
    actionCode = 0;
    txKeyed = false;
    rxKeyed = false;
}

}  // namespace varnel
