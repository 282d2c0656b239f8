// An Error's chain in the interface language: each link's key ("Section:Key",
// or a bare key of section "Errors") is looked up in the open language file;
// a missing text keeps the link's English.
#pragma once

#include <string>

#include "util/Error.h"

namespace varnel {

std::string TranslatedErrorText(const Error& error);

}  // namespace varnel
