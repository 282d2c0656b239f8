// Point, keying and save buttons of the item pages.
//
// Every point button's double-click arrives here with its page and point
// (PageTables.h gives the button of each row); the tree selection calls the
// same handler for the first point of the page it brings to the front. The
// keying and save buttons arrive with their page. What differs from page to
// page is data: the tables below.
//
// Items are named by their band 0 code in the tables; the code of either
// band matches (FindItem gives the band 0 code of both).
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <initializer_list>

#include "data/Global.h"
#include "protocol/Sendcmd.h"
#include "tuning/TMDIChild.h"

using namespace varnel;
using namespace varnel::tuning;

namespace {

int BaseCode(int code) {
    const TuningItem* item = FindItem(code);
    return item != nullptr ? item->code[0] : kNoCode;
}

bool OneOf(int base, std::initializer_list<int> codes) {
    for (const int c : codes) {
        if (c == base) return true;
    }
    return false;
}

bool InRange(int base, int first, int last) { return base != kNoCode && base >= first && base <= last; }

// The stored value of point p of an array item (codes 51 and 52 use the
// arrays of 20 and 21), or the byte of a single item; -1 when none.
int StoredValue(int code, int point) {
    const std::optional<ItemBytesInfo> bytes = ItemBytes(code);
    if (!bytes) return -1;
    int offset = -1;
    switch (bytes->layout) {
        case ItemLayout::Single: offset = bytes->offset; break;
        case ItemLayout::Array:
        case ItemLayout::Shared:
            if (point >= 1 && point <= 8) offset = bytes->offset + point - 1;
            break;
        case ItemLayout::FskBlock:
        case ItemLayout::DisplayOnly: break;
    }
    if (offset < 0 || offset >= static_cast<int>(TunerImage::kSize)) return -1;
    return tunerImage[static_cast<std::size_t>(offset)];
}

void StoreValue(int code, int point, int value) {
    const std::optional<ItemBytesInfo> bytes = ItemBytes(code);
    if (!bytes) return;
    int offset = -1;
    if (bytes->layout == ItemLayout::Single) offset = bytes->offset;
    if (bytes->layout == ItemLayout::Array && point >= 1 && point <= 8) offset = bytes->offset + point - 1;
    if (offset < 0 || offset >= static_cast<int>(TunerImage::kSize)) return;
    tunerImage[static_cast<std::size_t>(offset)] = static_cast<std::uint8_t>(value);
}

int TransmitRule() { return txKeyed ? action::kTransmitOn : action::kTransmitOff; }
int ReceiveRule() { return rxKeyed ? action::kReceiveOn : action::kReceiveOff; }

// ---- point double-click ----------------------------------------------------------

enum class LockTime { None, BeforeTest, AfterTest };
enum class Frequency { Transmit, Receive };
enum class ActionRule { Transmit, Receive, Ctcss, Vox, Temp };

struct PointRule {
    Page page;
    LockTime lockTime;
    void (TMDIChild::*lock)();
    std::initializer_list<const char*> buttons;  // enabled with the point
    ActionRule action;
    Frequency frequency;
    bool fskRecord;  // sent with SendSetItemBlock
};

const PointRule kPointRules[] = {
    {Page::Power, LockTime::AfterTest, &TMDIChild::lockPowerPage, {"Button1", "Button2"}, ActionRule::Transmit,
     Frequency::Transmit, false},
    {Page::PowerMobile, LockTime::AfterTest, &TMDIChild::lockPowerPage, {"Button11", "Button12"},
     ActionRule::Transmit, Frequency::Transmit, false},
    {Page::Ctcss, LockTime::BeforeTest, &TMDIChild::lockCtcssPage, {"Button9", "Button10"}, ActionRule::Ctcss,
     Frequency::Transmit, false},
    {Page::Sql, LockTime::AfterTest, &TMDIChild::lockMeasureButtons, {"Button7", "Button8"}, ActionRule::Receive,
     Frequency::Receive, false},
    {Page::Vox, LockTime::AfterTest, &TMDIChild::lockMeasureButtons, {"Button3", "Button4"}, ActionRule::Vox,
     Frequency::Receive, false},
    {Page::FerqStability, LockTime::BeforeTest, &TMDIChild::lockStabilityPage, {"Button5", "Button6"},
     ActionRule::Transmit, Frequency::Transmit, false},
    {Page::Temp, LockTime::None, nullptr, {"Button17"}, ActionRule::Temp, Frequency::Receive, false},
    {Page::Fsk, LockTime::None, nullptr, {"Button19", "Button20"}, ActionRule::Transmit, Frequency::Transmit, true},
};

const PointRule* FindPointRule(Page page) {
    for (const PointRule& rule : kPointRules) {
        if (rule.page == page) return &rule;
    }
    return nullptr;
}

// Whether a double-click on point p of the page loads the item's stored
// value into currentValue.
bool LoadsValue(Page page, int base, int point) {
    switch (page) {
        case Page::Power:
            if (point >= 6) return InRange(base, 18, 21);
            return OneOf(base, {9, 10, 18, 19, 20, 21, 51, 52}) || (point == 5 && base == 26);
        case Page::PowerMobile: return OneOf(base, {9, 10, 26});
        case Page::Ctcss: return base == 4 || InRange(base, 11, 17);
        case Page::Sql: return InRange(base, 5, 8);
        case Page::Vox: return OneOf(base, {0, 1, 2, 3, 24, 25});
        case Page::FerqStability: return base == 23;
        default: return false;
    }
}

// ---- keying buttons -----------------------------------------------------------------

enum class Flag { Transmit, Receive };
constexpr int kAnyItem = -2;

struct KeyingRule {
    Page page;
    const char* button;
    std::initializer_list<int> items;  // band 0 codes; {kAnyItem}: every item
    Flag flag;
    Frequency frequency;
    bool fskRecord;
    bool readBack;  // on: CheckTimer starts; off: CheckTimer and ReadTimer stop
};

const KeyingRule kKeyingRules[] = {
    {Page::Power, "Button1", {kAnyItem}, Flag::Transmit, Frequency::Transmit, false, false},
    {Page::FerqStability, "Button5", {kAnyItem}, Flag::Transmit, Frequency::Transmit, false, false},
    {Page::PowerMobile, "Button11", {kAnyItem}, Flag::Transmit, Frequency::Transmit, false, false},
    {Page::Fsk, "Button19", {kAnyItem}, Flag::Transmit, Frequency::Transmit, true, false},
    {Page::Ctcss, "Button9", {4}, Flag::Receive, Frequency::Receive, false, false},
    {Page::Ctcss, "Button9", {12, 13, 14, 15, 16, 17}, Flag::Transmit, Frequency::Transmit, false, false},
    // The VOX page keys on the transmit frequency, its receive items too.
    {Page::Vox, "Button3", {0, 1, 24, 25}, Flag::Receive, Frequency::Transmit, false, true},
    {Page::Vox, "Button3", {2, 3}, Flag::Transmit, Frequency::Transmit, false, true},
    {Page::Sql, "Button7", {kAnyItem}, Flag::Receive, Frequency::Transmit, false, true},
    {Page::Temp, "Button17", {30}, Flag::Transmit, Frequency::Transmit, false, true},
};

const KeyingRule* FindKeyingRule(Page page, int base) {
    for (const KeyingRule& rule : kKeyingRules) {
        if (rule.page != page) continue;
        for (const int item : rule.items) {
            if (item == kAnyItem || (base != kNoCode && item == base)) return &rule;
        }
    }
    return nullptr;
}

std::uint32_t FrequencyOf(Frequency table, int point) {
    return table == Frequency::Receive ? rxFrequency(point - 1) : txFrequency(point - 1);
}

}  // namespace

void TMDIChild::PointDoubleClicked(Page page, int point) {
    if (page == Page::ErrorRate) {
        ErrorRatePointSelected(point);
        return;
    }
    const PointRule* rule = FindPointRule(page);
    const RowSpec* row = FindRow(page, point);
    if (rule == nullptr || row == nullptr) return;

    if (rule->lockTime == LockTime::BeforeTest) (this->*rule->lock)();
    if (!inTunerMode) return;
    if (rule->lockTime == LockTime::AfterTest) (this->*rule->lock)();

    currentPoint = point;
    selectedPoints_[static_cast<int>(page)] = point;
    if (auto* button = control<TPointButton>(QString::fromLatin1(row->button))) button->setChecked(true);

    // Only the chosen row's value controls stay enabled: a stale row left
    // enabled would adjust a point that is not selected (the power page's
    // lock leaves rows 6 to 8 alone, and locks the mobile page instead on
    // mobile radios).
    QWidget* focus = nullptr;
    for (const RowSpec& other : PageSpecOf(page).rows) {
        const bool chosen = other.point == point;
        for (const CellSpec& cell : other.cells) {
            QWidget* w = control(QString::fromLatin1(cell.name));
            if (w == nullptr || qobject_cast<QLabel*>(w) != nullptr) continue;
            w->setEnabled(chosen);
            if (cell.upDown != nullptr) {
                if (QWidget* u = control(QString::fromLatin1(cell.upDown))) u->setEnabled(chosen);
                if (chosen && focus == nullptr) focus = w;  // the first edit of the row
            }
        }
    }
    for (const char* name : rule->buttons) {
        QWidget* b = control(QString::fromLatin1(name));
        if (b == nullptr) continue;
        b->setEnabled(true);
        if (focus == nullptr) focus = b;
    }
    if (focus != nullptr) focus->setFocus(Qt::OtherFocusReason);

    const int base = BaseCode(currentItem);
    if (LoadsValue(page, base, point)) {
        const int value = StoredValue(currentItem, point);
        if (value >= 0) currentValue = value;
    }

    switch (rule->action) {
        case ActionRule::Transmit: actionCode = TransmitRule(); break;
        case ActionRule::Receive: actionCode = ReceiveRule(); break;
        case ActionRule::Ctcss:
            if (base == 4) {
                actionCode = ReceiveRule();
                SetKeyingCaption("Button9", "C0008");
            } else if (InRange(base, 12, 17)) {
                actionCode = TransmitRule();
                SetKeyingCaption("Button9", "C0007");
            }
            break;
        case ActionRule::Vox:
            if (OneOf(base, {2, 3})) {
                actionCode = TransmitRule();
            } else if (OneOf(base, {0, 1, 24, 25})) {
                // These receive thresholds follow the transmit flag.
                actionCode = txKeyed ? action::kReceiveOn : action::kReceiveOff;
            }
            break;
        case ActionRule::Temp:
            if (base == 30) actionCode = TransmitRule();
            break;
    }

    const std::uint32_t frequency = FrequencyOf(rule->frequency, point);
    if (rule->fskRecord) {
        const std::array<std::uint8_t, 8> record = FskRecord(tunerImage, currentItem, point);
        SendSetItemBlock(currentItem, actionCode, point, record.data(), frequency);
    } else {
        SendSetItem(currentItem, actionCode, point, currentValue, frequency);
    }
}

void TMDIChild::PointButtonClick(TPointButton* button) {
    // Outside tuner mode no point is selected, so none may look selected;
    // in tuner mode the double-click selects.
    if (button == nullptr) return;
    if (!inTunerMode) {
        button->forceChecked(false);
        return;
    }
    // A click must not show a point checked whose controls are not live: the
    // check goes back to the point selected last on that page.
    const auto place = FindPointButton(button->objectName().toStdString());
    if (!place) return;
    const int selected = selectedPoints_.value(static_cast<int>(place->page), 0);
    if (selected == place->point) return;
    button->forceChecked(false);
    if (const RowSpec* row = FindRow(place->page, selected)) {
        if (auto* chosen = control<TPointButton>(QString::fromLatin1(row->button))) chosen->forceChecked(true);
    }
}

void TMDIChild::KeyingButtonClick(Page page) {
    if (page == Page::ErrorRate) {
        Button13Click();
        return;
    }
    if (page == Page::Mandown) {
        Button15Click();
        return;
    }
    const KeyingRule* rule = FindKeyingRule(page, BaseCode(currentItem));
    if (rule == nullptr) return;  // an item the button does not key

    const bool transmit = rule->flag == Flag::Transmit;
    bool& flag = transmit ? txKeyed : rxKeyed;
    const bool on = !flag;
    SetKeyingCaption(rule->button, transmit ? (on ? "C0014" : "C0007") : (on ? "C0015" : "C0008"));
    flag = on;
    actionCode = transmit ? (on ? action::kTransmitOn : action::kTransmitOff)
                          : (on ? action::kReceiveOn : action::kReceiveOff);
    if (rule->readBack && !on) {
        CheckTimer->stop();
        ReadTimer->stop();
    }
    const std::uint32_t frequency = FrequencyOf(rule->frequency, currentPoint);
    if (rule->fskRecord) {
        const std::array<std::uint8_t, 8> record = FskRecord(tunerImage, currentItem, currentPoint);
        SendSetItemBlock(currentItem, actionCode, currentPoint, record.data(), frequency);
    } else {
        SendSetItem(currentItem, actionCode, currentPoint, currentValue, frequency);
    }
    if (rule->readBack && on) CheckTimer->start();
}

void TMDIChild::SaveButtonClick(Page page) {
    const int base = BaseCode(currentItem);
    std::vector<std::uint8_t> record;
    bool wide = false;
    switch (page) {
        case Page::Power:  // Button2
            if (base == 26) {
                // Item 26 is the middle column of the mobile triple; its only
                // meaningful save is the triple, as the mobile page sends it
                // (a 16-byte pair record would put item 10's first byte into
                // item 26).
                record = WideSaveRecord(tunerImage, currentItem);
                wide = true;
            } else if (OneOf(base, {9, 10, 18, 19, 20, 21})) {
                record = SaveRecord(tunerImage, currentItem);
            }
            break;
        case Page::PowerMobile:  // Button12
            if (OneOf(base, {9, 10, 26})) {
                record = WideSaveRecord(tunerImage, currentItem);
                wide = true;
            }
            break;
        case Page::Ctcss:  // Button10
            if (base == 4 || InRange(base, 11, 17)) record = SaveRecord(tunerImage, currentItem);
            break;
        case Page::Sql:        // Button8
        case Page::ErrorRate:  // Button14 shares Button8's handler
            if (InRange(base, 5, 8)) {
                CheckTimer->stop();
                ReadTimer->stop();
                SetKeyingCaption("Button7", "C0008");
                rxKeyed = false;
                // The last reading (or the loaded value) becomes the point's value.
                StoreValue(currentItem, currentPoint, currentValue);
                record = SaveRecord(tunerImage, currentItem);
            }
            break;
        case Page::Vox:   // Button4
        case Page::Temp:  // Button18 shares Button4's handler (never visible)
            CheckTimer->stop();
            ReadTimer->stop();
            if (OneOf(base, {0, 1, 2, 3, 24, 25})) StoreValue(currentItem, 1, currentValue);
            // One byte, the value in force; an item whose save carries more
            // than one byte has nothing to send here.
            if (SaveItemSize(currentItem) == 1) record = {static_cast<std::uint8_t>(currentValue)};
            break;
        case Page::FerqStability:  // Button6
            if (base == 23) record = SaveRecord(tunerImage, currentItem);
            break;
        case Page::Fsk:  // Button20
            if (InRange(base, 31, 33)) record = SaveRecord(tunerImage, currentItem);
            break;
        case Page::Mandown: Button16Click(); return;
        case Page::None: return;
    }
    // Never a save of zero bytes: an item outside the button's rows is not saved.
    if (record.empty()) return;
    if (wide) {
        if (record.size() < SaveWideItemSize(currentItem)) return;
        SendSaveWideItem(currentItem, record.data());
    } else {
        if (record.size() < SaveItemSize(currentItem)) return;
        SendSaveItem(currentItem, record.data());
    }
}
