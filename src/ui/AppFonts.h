// The font of the program's windows. The windows were designed for "Arial
// Unicode MS", which carries Latin and Chinese glyphs in one face. Where it
// is missing (Linux, most Windows installations today) the first installed
// face of a list of fonts with Chinese glyphs takes its place, so that both
// languages are drawn in one face of similar metrics.
#pragma once

#include <QFont>
#include <QString>

namespace varnel::ui {

// The family in use (found once, then cached); empty when none of the list
// is installed, in which case the application's default family is used.
QString ProgramFontFamily();

// The program's font at `points` points.
QFont ProgramFont(int points);

}  // namespace varnel::ui
