// Point, keying and save buttons of the item pages.
//
// Every point button's double-click arrives here with its page and point
// (PageTables.h gives the button of each row); the tree selection calls the
// same handler for the first point of the page it brings to the front. The
// keying and save buttons arrive with their page.
#include "tuning/TMDIChild.h"

using namespace varnel;

void TMDIChild::PointDoubleClicked(Page page, int point) {
    (void)page;
    (void)point;
}

void TMDIChild::PointButtonClick(tuning::TPointButton* button) { (void)button; }

void TMDIChild::KeyingButtonClick(Page page) { (void)page; }

void TMDIChild::SaveButtonClick(Page page) { (void)page; }
