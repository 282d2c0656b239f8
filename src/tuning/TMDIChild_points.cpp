// Point, keying and save buttons of the item pages.
//
// Every point button's double-click arrives here with its page and point
// (PageTables.h gives the button of each row); the tree selection calls the
// same handler for the first point of the page it brings to the front. The
// keying and save buttons arrive with their page. What differs from page to
// page is data: the tables below.
//
// Which items a page's handlers accept, and whether an item keys the
// transmitter or the receiver, are facts of the item table.
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <initializer_list>

#include "data/Global.h"
#include "ui/Selection.h"
#include "protocol/Sendcmd.h"
#include "tuning/TMDIChild.h"
#include "tuning/TuningPages.h"

using namespace varnel;
using namespace varnel::tuning;

namespace {

// The stored value of point p of an array item (codes 51 and 52 use the
// arrays of 20 and 21), or the byte of a single item; -1 when none.
int StoredValue(int code, int point) {
    const TuningItem* item = FindItem(code);
    if (item == nullptr || item->layout == ItemLayout::FskBlock) return -1;
    const int at = PointByteOfCode(code, point);
    return at < 0 ? -1 : tunerImage[static_cast<std::size_t>(at)];
}

void StoreValue(int code, int point, int value) {
    const TuningItem* item = FindItem(code);
    if (item == nullptr || (item->layout != ItemLayout::Single && item->layout != ItemLayout::Array)) return;
    const int at = PointByteOfCode(code, point);
    if (at >= 0) tunerImage[static_cast<std::size_t>(at)] = static_cast<std::uint8_t>(value);
}

int TransmitRule() { return txKeyed ? action::kTransmitOn : action::kTransmitOff; }
int ReceiveRule() { return rxKeyed ? action::kReceiveOn : action::kReceiveOff; }

// ---- point double-click ----------------------------------------------------------

enum class LockTime { None, BeforeTest, AfterTest };
enum class Frequency { Transmit, Receive, ByItem };  // ByItem: as the item keys
enum class ActionRule { Transmit, Receive, ByItem };

struct PointRule {
    Page page;
    LockTime lockTime;
    void (TuningPages::*lock)();
    std::initializer_list<const char*> buttons;  // enabled with the point
    ActionRule action;
    Frequency frequency;
    bool fskRecord;  // sent with SendSetItemBlock
};

const PointRule kPointRules[] = {
    {Page::Power, LockTime::AfterTest, &TuningPages::lockPowerPage, {"Button1", "Button2"}, ActionRule::Transmit,
     Frequency::Transmit, false},
    {Page::PowerMobile, LockTime::AfterTest, &TuningPages::lockPowerPage, {"Button11", "Button12"},
     ActionRule::Transmit, Frequency::Transmit, false},
    {Page::Ctcss, LockTime::BeforeTest, &TuningPages::lockCtcssPage, {"Button9", "Button10"}, ActionRule::ByItem,
     Frequency::Transmit, false},
    {Page::Sql, LockTime::AfterTest, &TuningPages::lockMeasureButtons, {"Button7", "Button8"}, ActionRule::Receive,
     Frequency::Receive, false},
    {Page::Vox, LockTime::AfterTest, &TuningPages::lockMeasureButtons, {"Button3", "Button4"}, ActionRule::ByItem,
     Frequency::Receive, false},
    {Page::FreqStability, LockTime::BeforeTest, &TuningPages::lockStabilityPage, {"Button5", "Button6"},
     ActionRule::Transmit, Frequency::Transmit, false},
    {Page::Temp, LockTime::None, nullptr, {"Button17"}, ActionRule::ByItem, Frequency::Receive, false},
    {Page::Fsk, LockTime::None, nullptr, {"Button19", "Button20"}, ActionRule::Transmit, Frequency::Transmit, true},
};

const PointRule* FindPointRule(Page page) {
    for (const PointRule& rule : kPointRules) {
        if (rule.page == page) return &rule;
    }
    return nullptr;
}

// Whether a double-click on point p of the page loads the item's stored
// value into currentValue: the page's own items (on the power page points 6
// to 8 only for the eight-point pairs; item 26 of the mobile triple at point 5).
bool LoadsValue(Page page, const TuningItem* item, int point) {
    if (item == nullptr) return false;
    switch (page) {
        case Page::Power:
            if (point >= 6) return item->eightPointsWithNewFirmware;
            return InFamily(item, Page::Power) || (point == 5 && item->family == Page::PowerMobile);
        case Page::PowerMobile:
        case Page::Ctcss:
        case Page::Sql:
        case Page::Vox:
        case Page::FreqStability: return InFamily(item, page);
        default: return false;
    }
}

// ---- keying buttons -----------------------------------------------------------------

enum class Flag { Transmit, Receive, ByItem };

struct KeyingRule {
    Page page;
    const char* button;
    Flag flag;  // ByItem: the item's own keying direction, for the page's items only
    Frequency frequency;
    bool fskRecord;
    bool readBack;  // on: CheckTimer starts; off: CheckTimer and ReadTimer stop
};

const KeyingRule kKeyingRules[] = {
    {Page::Power, "Button1", Flag::Transmit, Frequency::Transmit, false, false},
    {Page::FreqStability, "Button5", Flag::Transmit, Frequency::Transmit, false, false},
    {Page::PowerMobile, "Button11", Flag::Transmit, Frequency::Transmit, false, false},
    {Page::Fsk, "Button19", Flag::Transmit, Frequency::Transmit, true, false},
    {Page::Ctcss, "Button9", Flag::ByItem, Frequency::ByItem, false, false},
    // The VOX page keys on the transmit frequency, its receive items too.
    {Page::Vox, "Button3", Flag::ByItem, Frequency::Transmit, false, true},
    {Page::Sql, "Button7", Flag::Receive, Frequency::Transmit, false, true},
    {Page::Temp, "Button17", Flag::ByItem, Frequency::Transmit, false, true},
};

// The rule of the page's keying button, and whether it keys the transmitter,
// for the current item; nothing for an item the button does not key.
struct Keyed {
    const KeyingRule* rule;
    bool transmit;
};
std::optional<Keyed> FindKeyingRule(Page page, const TuningItem* item) {
    for (const KeyingRule& rule : kKeyingRules) {
        if (rule.page != page) continue;
        if (rule.flag != Flag::ByItem) return Keyed{&rule, rule.flag == Flag::Transmit};
        if (!InFamily(item, page)) return std::nullopt;
        if (item->keying == ItemKeying::Transmit) return Keyed{&rule, true};
        if (item->keying == ItemKeying::Receive) return Keyed{&rule, false};
        return std::nullopt;
    }
    return std::nullopt;
}

std::uint32_t FrequencyOf(Frequency table, bool transmit, int point) {
    const bool receive = table == Frequency::Receive || (table == Frequency::ByItem && !transmit);
    return receive ? rxFrequency(point - 1) : txFrequency(point - 1);
}

}  // namespace

namespace {

// The live-set action of a point double-click: the page's rule, or for pages
// whose items key either way, the item's own direction; -1 leaves it as it is.
int PointAction(ActionRule rule, Page page, const TuningItem* item) {
    switch (rule) {
        case ActionRule::Transmit: return TransmitRule();
        case ActionRule::Receive: return ReceiveRule();
        case ActionRule::ByItem:
            if (!InFamily(item, page)) return -1;
            if (item->keying == ItemKeying::Transmit) return TransmitRule();
            if (item->keying != ItemKeying::Receive) return -1;
            // The VOX page's receive thresholds follow the transmit flag.
            if (page == Page::Vox) return txKeyed ? action::kReceiveOn : action::kReceiveOff;
            return ReceiveRule();
    }
    return -1;
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

    if (rule->lockTime == LockTime::BeforeTest) (pages_->*rule->lock)();
    if (!inTunerMode) return;
    if (rule->lockTime == LockTime::AfterTest) (pages_->*rule->lock)();

    currentPoint = point;
    selectedPoints_[static_cast<int>(page)] = point;
    if (auto* button = control<TPointButton>(QString::fromLatin1(row->button))) button->setChecked(true);
    EnableChosenRow(page, point, rule->buttons);

    const TuningItem* item = FindItem(currentItem);
    const bool raw = item != nullptr && item->layout == ItemLayout::Shared;
    if (raw) {
        // The raw codes keep nothing in the image and cannot be saved: the
        // page goes back to the values the point sends, and Save stays off.
        LoadPowerPage();
        if (QWidget* save = control(QStringLiteral("Button2"))) save->setEnabled(false);
    }
    if (LoadsValue(page, item, point)) {
        const int value = StoredValue(currentItem, point);
        if (value >= 0) currentValue = value;
    }
    if (const int code = PointAction(rule->action, page, item); code >= 0) {
        actionCode = code;
        // The CTCSS page's button shows the item's own direction.
        if (rule->action == ActionRule::ByItem && page == Page::Ctcss) {
            SetKeyingCaption(PageSpecOf(page).keyingButton, KeyingKey(item->keying));
        }
    }
    SendPointFrame(rule->fskRecord, point, FrequencyOf(rule->frequency, false, point));
}

void TMDIChild::ReloadCurrentValue() {
    const TuningItem* item = FindItem(currentItem);
    if (item == nullptr || !inTunerMode) return;
    const Page page = item->page;
    if (selectedPoints_.value(static_cast<int>(page), 0) != currentPoint) return;
    if (!LoadsValue(page, item, currentPoint)) return;
    const int value = StoredValue(currentItem, currentPoint);
    if (value >= 0) currentValue = value;
}

void TMDIChild::EnableChosenRow(Page page, int point, std::initializer_list<const char*> buttons) {
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
    for (const char* name : buttons) {
        QWidget* b = control(QString::fromLatin1(name));
        if (b == nullptr) continue;
        b->setEnabled(true);
        if (focus == nullptr) focus = b;
    }
    if (focus != nullptr) focus->setFocus(Qt::OtherFocusReason);
}

void TMDIChild::SendPointFrame(bool fskRecord, int point, std::uint32_t frequency) {
    if (fskRecord) {
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

bool TMDIChild::MovePointFocus(QObject* receiver, QKeyEvent* key) {
    auto* button = qobject_cast<TPointButton*>(receiver);
    if (button == nullptr || control(button->objectName()) != button) return false;
    const auto place = FindPointButton(button->objectName().toStdString());
    if (!place) return false;
    if (key->type() != QEvent::KeyPress) return true;
    const bool back = key->key() == Qt::Key_Up || key->key() == Qt::Key_Left;
    const std::vector<RowSpec>& rows = PageSpecOf(place->page).rows;
    TPointButton* next = nullptr;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const RowSpec& row = back ? rows[rows.size() - 1 - i] : rows[i];
        if (row.button == nullptr || (back ? row.point >= place->point : row.point <= place->point)) continue;
        auto* candidate = control<TPointButton>(QString::fromLatin1(row.button));
        if (candidate == nullptr || !candidate->isVisibleTo(this) || !candidate->isEnabled()) continue;
        next = candidate;
        break;
    }
    if (next == nullptr) return true;  // the first or last point: the focus stays
    next->setFocus(back ? Qt::BacktabFocusReason : Qt::TabFocusReason);
    PointButtonClick(next);
    return true;
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
    const std::optional<Keyed> keyed = FindKeyingRule(page, FindItem(currentItem));
    if (!keyed) return;  // an item the button does not key
    const KeyingRule* rule = keyed->rule;

    const bool transmit = keyed->transmit;
    bool& flag = transmit ? txKeyed : rxKeyed;
    const bool on = !flag;
    SetKeyingCaption(rule->button, transmit ? (on ? "C0014" : "C0007") : (on ? "C0015" : "C0008"));
    flag = on;
    actionCode = transmit ? (on ? action::kTransmitOn : action::kTransmitOff)
                          : (on ? action::kReceiveOn : action::kReceiveOff);
    if (rule->readBack && !on) {
        checkTimer_->stop();
        readTimer_->stop();
    }
    SendPointFrame(rule->fskRecord, currentPoint, FrequencyOf(rule->frequency, transmit, currentPoint));
    if (rule->readBack && on) checkTimer_->start();
}

namespace {

// The save record of the power pages' buttons; `wide` for the mobile triple.
std::vector<std::uint8_t> PowerSaveRecord(Page page, const TuningItem* item, int code, bool& wide) {
    if (page == Page::PowerMobile) {
        if (!InFamily(item, Page::PowerMobile)) return {};
        wide = true;
        return WideSaveRecord(tunerImage, code);
    }
    if (item != nullptr && item->family == Page::PowerMobile) {
        // Item 26 is the middle column of the mobile triple; its only
        // meaningful save is the triple, as the mobile page sends it (a
        // 16-byte pair record would put item 10's first byte into item 26).
        wide = true;
        return WideSaveRecord(tunerImage, code);
    }
    if (InFamily(item, Page::Power) && item->layout == ItemLayout::Array) return SaveRecord(tunerImage, code);
    return {};
}

}  // namespace

std::vector<std::uint8_t> TMDIChild::SquelchSaveRecord(const TuningItem* item) {
    if (!InFamily(item, Page::Sql)) return {};
    checkTimer_->stop();
    readTimer_->stop();
    SetKeyingCaption("Button7", "C0008");
    rxKeyed = false;
    // The last reading (or the loaded value) becomes the point's value.
    StoreValue(currentItem, currentPoint, currentValue);
    return SaveRecord(tunerImage, currentItem);
}

std::vector<std::uint8_t> TMDIChild::VoxSaveRecord(const TuningItem* item) {
    checkTimer_->stop();
    readTimer_->stop();
    if (InFamily(item, Page::Vox)) StoreValue(currentItem, 1, currentValue);
    // One byte, the value in force; an item whose save carries more than one
    // byte has nothing to send here.
    if (SaveItemSize(currentItem) == 1) return {static_cast<std::uint8_t>(currentValue)};
    return {};
}

void TMDIChild::SaveButtonClick(Page page) {
    const TuningItem* item = FindItem(currentItem);
    std::vector<std::uint8_t> record;
    bool wide = false;
    switch (page) {
        case Page::Power:        // Button2
        case Page::PowerMobile:  // Button12
            record = PowerSaveRecord(page, item, currentItem, wide);
            break;
        case Page::Sql:        // Button8
        case Page::ErrorRate:  // Button14 shares Button8's handler
            record = SquelchSaveRecord(item);
            break;
        case Page::Vox:   // Button4
        case Page::Temp:  // Button18 shares Button4's handler (never visible)
            record = VoxSaveRecord(item);
            break;
        case Page::Ctcss:          // Button10
        case Page::FreqStability:  // Button6
        case Page::Fsk:            // Button20
            if (InFamily(item, page)) record = SaveRecord(tunerImage, currentItem);
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
