// The udev rule shipped in dist/, run by a small evaluator of the rule keys
// it uses against the device chains the kernel builds: the radio on a USB
// mass-storage interface gets access, a disk that only reports the same SCSI
// strings does not, and neither does the radio's block node.
#include <gtest/gtest.h>

#include <cstddef>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "device/Mass_storage.h"

namespace varnel {
namespace {

namespace fs = std::filesystem;

struct Key {
    std::string name;  // ACTION, SUBSYSTEM, SUBSYSTEMS, ATTRS{x}, ENV{x}, GOTO, LABEL, TAG, GROUP, MODE
    std::string op;    // ==, !=, =, +=
    std::string value;
};
using Rule = std::vector<Key>;

// One device on the way from the node to the root: its subsystem and attributes.
struct SysDevice {
    std::string subsystem;
    std::map<std::string, std::string> attrs;
};

struct Event {
    std::string action = "add";
    std::vector<SysDevice> chain;  // chain[0] is the device of the node itself
};

struct Outcome {
    std::set<std::string> tags;
    std::string group, mode;
};

// Parses `KEY OP "VALUE"` tokens separated by commas; an empty rule for a
// comment or blank line.
Rule ParseRule(const std::string& line) {
    Rule rule;
    std::size_t at = 0;
    while (at < line.size()) {
        while (at < line.size() && (line[at] == ' ' || line[at] == ',')) ++at;
        if (at >= line.size() || line[at] == '#') break;
        const std::size_t opAt = line.find_first_of("=!+", at);
        const std::size_t quote = line.find('"', opAt);
        const std::size_t close = line.find('"', quote + 1);
        if (opAt == std::string::npos || quote == std::string::npos || close == std::string::npos) {
            ADD_FAILURE() << "cannot read: " << line;
            return {};
        }
        Key key{line.substr(at, opAt - at), line.substr(opAt, quote - opAt), line.substr(quote + 1, close - quote - 1)};
        while (!key.name.empty() && key.name.back() == ' ') key.name.pop_back();
        while (!key.op.empty() && key.op.back() == ' ') key.op.pop_back();
        rule.push_back(key);
        at = close + 1;
    }
    return rule;
}

std::vector<Rule> LoadRules() {
    std::ifstream in(fs::path(VARNEL_SOURCE_DIR) / "dist" / "60-varnel-radio.rules");
    EXPECT_TRUE(in) << "dist/60-varnel-radio.rules is missing";
    std::vector<Rule> rules;
    for (std::string line; std::getline(in, line);) {
        Rule rule = ParseRule(line);
        if (!rule.empty()) rules.push_back(rule);
    }
    return rules;
}

std::string Inside(const std::string& name) {
    return name.substr(name.find('{') + 1, name.size() - name.find('{') - 2);
}

bool IsParentKey(const Key& k) { return k.name == "SUBSYSTEMS" || k.name.rfind("ATTRS{", 0) == 0; }

// udev: every parent key of one rule must match on one and the same device
// of the chain (the node's own device included).
bool ParentKeysMatch(const Rule& rule, const Event& event) {
    bool any = false;
    for (const Key& k : rule) any = any || IsParentKey(k);
    if (!any) return true;
    for (const SysDevice& d : event.chain) {
        bool all = true;
        for (const Key& k : rule) {
            if (!IsParentKey(k)) continue;
            EXPECT_EQ(k.op, "==") << k.name;
            std::string actual;
            bool present = true;
            if (k.name == "SUBSYSTEMS") {
                actual = d.subsystem;
            } else {
                const auto it = d.attrs.find(Inside(k.name));
                present = it != d.attrs.end();
                if (present) actual = it->second;
            }
            all = all && present && actual == k.value;
        }
        if (all) return true;
    }
    return false;
}

bool Compare(const std::string& actual, const Key& k) { return k.op == "==" ? actual == k.value : actual != k.value; }

Outcome Apply(const std::vector<Rule>& rules, const Event& event) {
    Outcome out;
    std::map<std::string, std::string> env;
    for (std::size_t i = 0; i < rules.size(); ++i) {
        const Rule& rule = rules[i];
        if (rule[0].name == "LABEL") continue;
        bool match = ParentKeysMatch(rule, event);
        for (const Key& k : rule) {
            if (k.op != "==" && k.op != "!=") continue;
            if (k.name == "ACTION") match = match && Compare(event.action, k);
            else if (k.name == "SUBSYSTEM") match = match && Compare(event.chain[0].subsystem, k);
            else if (k.name.rfind("ENV{", 0) == 0) match = match && Compare(env[Inside(k.name)], k);
            else if (!IsParentKey(k)) ADD_FAILURE() << "the evaluator does not know " << k.name;
        }
        if (!match) continue;
        std::string jump;
        for (const Key& k : rule) {
            if (k.op == "==" || k.op == "!=") continue;
            if (k.name.rfind("ENV{", 0) == 0) env[Inside(k.name)] = k.value;
            else if (k.name == "TAG") out.tags.insert(k.value);
            else if (k.name == "GROUP") out.group = k.value;
            else if (k.name == "MODE") out.mode = k.value;
            else if (k.name == "GOTO") jump = k.value;
            else ADD_FAILURE() << "the evaluator does not know " << k.name;
        }
        if (jump.empty()) continue;
        std::size_t label = rules.size();
        for (std::size_t j = i + 1; j < rules.size(); ++j) {
            if (rules[j][0].name == "LABEL" && rules[j][0].value == jump) label = j;
        }
        EXPECT_LT(label, rules.size()) << "GOTO to a missing LABEL " << jump;
        i = label;
    }
    return out;
}

// The chain of a disk's node: the node, the SCSI device with its inquiry
// strings, the SCSI host, then what the host hangs off.
Event Disk(const std::string& nodeSubsystem, const char* vendor, const char* model,
           const std::vector<SysDevice>& below) {
    Event e;
    e.chain.push_back({nodeSubsystem, {}});
    e.chain.push_back({"scsi", {{"vendor", vendor}, {"model", model}, {"type", "0"}}});
    e.chain.push_back({"scsi", {}});  // the host
    for (const SysDevice& d : below) e.chain.push_back(d);
    return e;
}

const std::vector<SysDevice> kUsbStorage = {
    {"usb", {{"bInterfaceClass", "08"}, {"bInterfaceSubClass", "06"}, {"bInterfaceProtocol", "50"}}},
    {"usb", {{"idVendor", "0483"}, {"idProduct", "5720"}, {"bDeviceClass", "00"}}},
    {"pci", {{"vendor", "0x8086"}}},
};
const std::vector<SysDevice> kUas = {
    {"usb", {{"bInterfaceClass", "08"}, {"bInterfaceSubClass", "06"}, {"bInterfaceProtocol", "62"}}},
    {"usb", {{"idVendor", "0483"}, {"bDeviceClass", "00"}}},
};
const std::vector<SysDevice> kSata = {{"pci", {{"vendor", "0x8086"}, {"class", "0x010601"}}}};
const std::vector<SysDevice> kUsbVendorSpecific = {
    {"usb", {{"bInterfaceClass", "ff"}}},
    {"usb", {{"idVendor", "0483"}, {"bDeviceClass", "00"}}},
};

bool Granted(const Outcome& o) { return o.tags.count("uaccess") == 1 && !o.mode.empty(); }

TEST(UdevRule, MatchesTheGenericNodeByTheExactPaddedStrings) {
    std::ifstream in(fs::path(VARNEL_SOURCE_DIR) / "dist" / "60-varnel-radio.rules");
    ASSERT_TRUE(in) << "dist/60-varnel-radio.rules is missing";
    const std::string text((std::istreambuf_iterator<char>(in)), {});
    EXPECT_NE(text.find(std::string("ATTRS{vendor}==\"") + kRadioVendor + "\""), std::string::npos);
    EXPECT_NE(text.find(std::string("ATTRS{model}==\"") + kRadioProduct + "\""), std::string::npos);
    // The block node cannot carry the vendor commands for a normal user: no
    // rule gives access to it.
    EXPECT_EQ(text.find("SUBSYSTEM==\"block\""), std::string::npos);
}

TEST(UdevRule, TheRadioOnUsbMassStorageGetsItsGenericNode) {
    const std::vector<Rule> rules = LoadRules();
    for (const auto* below : {&kUsbStorage, &kUas}) {
        const Outcome o = Apply(rules, Disk("scsi_generic", kRadioVendor, kRadioProduct, *below));
        EXPECT_TRUE(o.tags.count("uaccess")) << "the user of the local session";
        EXPECT_EQ(o.group, "plugdev");
        EXPECT_EQ(o.mode, "0660");
    }
}

TEST(UdevRule, NothingElseGetsAccess) {
    const std::vector<Rule> rules = LoadRules();
    struct Case {
        const char* what;
        Event event;
    };
    Event removed = Disk("scsi_generic", kRadioVendor, kRadioProduct, kUsbStorage);
    removed.action = "remove";
    const Case cases[] = {
        {"the radio's block node", Disk("block", kRadioVendor, kRadioProduct, kUsbStorage)},
        {"a SATA disk reporting the radio's strings", Disk("scsi_generic", kRadioVendor, kRadioProduct, kSata)},
        {"a vendor-specific USB interface reporting them",
         Disk("scsi_generic", kRadioVendor, kRadioProduct, kUsbVendorSpecific)},
        {"another USB stick", Disk("scsi_generic", "SanDisk ", "Cruzer Blade    ", kUsbStorage)},
        {"the strings without their padding", Disk("scsi_generic", "STM", "microSD Flash", kUsbStorage)},
        {"the radio's node going away", removed},
    };
    for (const Case& c : cases) EXPECT_FALSE(Granted(Apply(rules, c.event))) << c.what;
}

}  // namespace
}  // namespace varnel
