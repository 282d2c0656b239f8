#include "lang/ItemNames.h"

#include <map>
#include <mutex>

#include "data/ItemTable.h"
#include "lang/Loadlanguage.h"

namespace varnel {

namespace {

std::string lookUp(int code) {
    const TuningItem* item = FindItem(code);
    std::string caption;
    if (item != nullptr) {
        if (item->column != PowerColumn::None && item->gridSection != nullptr && item->gridKey != nullptr)
            caption = Text(item->gridSection, item->gridKey);
        if (caption.empty() && item->treeKey != nullptr)
            caption = item->treeFixed ? std::string(item->treeKey) : Text("TreeView", item->treeKey);
        if (caption.empty() && item->gridKey != nullptr)
            caption = item->gridSection != nullptr ? Text(item->gridSection, item->gridKey) : std::string(item->gridKey);
    }
    if (caption.empty()) {
        std::string word = Text("Status", "F0013");
        if (word.empty()) word = "item";
        caption = word + " " + std::to_string(code);
    }
    return caption;
}

}  // namespace

std::string ItemCaption(int code) {
    if (code < 0) return {};
    // Text() reads the file on every call; an export of many records asks
    // for the same few captions over and over.
    static std::mutex mutex;
    static std::string file;
    static std::map<int, std::string> cache;
    std::lock_guard lock(mutex);
    const std::string current = languageFile.string();
    if (current != file) {
        cache.clear();
        file = current;
    }
    auto found = cache.find(code);
    if (found == cache.end()) found = cache.emplace(code, lookUp(code)).first;
    return found->second;
}

std::string BandCaption(int band) {
    if (band == 0) return "400-470 MHz";
    if (band == 1) return "136-174 MHz";
    return {};
}

}  // namespace varnel
