#include "lang/ErrorText.h"

#include "lang/Loadlanguage.h"

namespace varnel {

std::string TranslatedErrorText(const Error& error) {
    return error.text([](std::string_view key) -> std::string {
        const std::size_t colon = key.find(':');
        if (colon == std::string_view::npos) return Text("Errors", key);
        return Text(key.substr(0, colon), key.substr(colon + 1));
    });
}

}  // namespace varnel
