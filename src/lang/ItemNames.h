// Items and bands by name, as the calibration records window names them:
// a column of a power pair or triple by the grid's caption ("TX Power
// (High)"), any other item by its tree caption, in the interface language.
// For every front end that writes names instead of codes (line events, OCP
// output, CSV exports).
#pragma once

#include <string>

namespace varnel {

// The caption of an item code; "item N" (its word from the language file)
// for a code without one, "" for a negative code. The captions of the
// current language file are read once and kept until it changes.
std::string ItemCaption(int code);

// "400-470 MHz" for 0, "136-174 MHz" for 1, "" for any other band.
std::string BandCaption(int band);

}  // namespace varnel
