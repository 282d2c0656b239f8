// What the radio holds (protocol/RadioValues.h): the live changes not saved in the
// radio, asked about before it leaves tuner mode and saved on request; the
// value shown again when a live-set was never acknowledged.
#include <QGuiApplication>
#include <QMdiSubWindow>
#include <QTimer>

#include "data/Global.h"
#include "lang/Loadlanguage.h"
#include "protocol/Sendcmd.h"
#include "tuning/TMDIChild.h"
#include "ui/DialogSeam.h"
#include "ui/FeedbackTexts.h"
#include "ui/Selection.h"

using namespace varnel;
using namespace varnel::tuning;

namespace {

QString T(const char* section, const char* key) { return QString::fromStdString(Text(section, key)); }

QString Fill(QString text, std::initializer_list<QString> args) {
    int n = 0;
    for (const QString& arg : args) text.replace(QStringLiteral("%") + QString::number(++n), arg);
    return text;
}

// The item's caption as the operator reads it: the grid's row caption, which
// names the column of a power pair ("TX Power (High)"), else the tree's.
QString ItemName(int code, int cell) {
    const TuningItem* item = FindItem(code);
    if (item == nullptr) return T("Status", "F0013") + QLatin1Char(' ') + QString::number(code);
    if (item->layout == ItemLayout::FskBlock) {
        static constexpr const char* kCellKeys[] = {"C0033", "C0034", "C0035", "C0036", "C0037"};
        const QString column = cell >= 0 && cell < 5 ? T("ChildForm", kCellKeys[cell]) : QString();
        return T("TreeView", item->treeKey) + QStringLiteral(" \u2013 ") + column;
    }
    if (item->gridKey != nullptr) {
        return item->gridSection != nullptr ? T(item->gridSection, item->gridKey) : QString::fromLatin1(item->gridKey);
    }
    if (item->treeKey != nullptr) return item->treeFixed ? QString::fromLatin1(item->treeKey) : T("TreeView", item->treeKey);
    return T("Status", "F0013") + QLatin1Char(' ') + QString::number(code);
}

}  // namespace

QString TMDIChild::ValueName(int code, int point, int cell) {
    QString name = ItemName(code, cell);
    const QString comma = languageIndex == kLanguageChinese ? QStringLiteral("\uFF0C") : QStringLiteral(", ");
    if (point > 0) name += comma + T("Status", "F0002") + QLatin1Char(' ') + QString::number(point);
    return name;
}

// The entry itself has set what the radio holds (EnterOperation).
void TMDIChild::radioEntered() {}

QStringList TMDIChild::unsavedLiveChanges() const {
    QStringList lines;
    for (const RadioValues::Change& change : HeldValues().unsaved()) {
        lines << Fill(T("Tuner", "U0003"), {ValueName(change.item, change.point, change.cell),
                                            QString::number(change.live), QString::number(change.stored)});
    }
    return lines;
}

std::vector<TMDIChild::LiveSave> TMDIChild::liveSaves() const {
    // One save per record: a pair's two arrays, the mobile triple's three,
    // an array, an FSK block or a single byte; built from the values the
    // radio runs with, so that it stores exactly those.
    std::vector<LiveSave> saves;
    const TunerImage& live = HeldValues().live();
    const auto add = [&saves](LiveSave save) {
        for (const LiveSave& earlier : saves) {
            if (earlier.wide == save.wide && earlier.record == save.record && earlier.group == save.group) return;
        }
        saves.push_back(std::move(save));
    };
    for (const RadioValues::Change& change : HeldValues().unsaved()) {
        const int code = change.item;
        if (WideSaveSizeOf(code) == 24 && radioInfo.modelVariant() == 1) {
            const std::optional<PowerTriple> triple = TripleOf(code);
            add({code, true, WideSaveRecord(live, code), triple ? triple->low : code});
        } else if (SaveSizeOf(code) == 16) {
            const std::optional<PowerPair> pair = PairOf(code);
            add({code, false, SaveRecord(live, code), pair ? pair->low : code});
        } else if (SaveSizeOf(code) > 0) {
            std::vector<std::uint8_t> record = SaveRecord(live, code);
            if (record.size() >= static_cast<std::size_t>(SaveSizeOf(code))) add({code, false, std::move(record), code});
        }
    }
    return saves;
}

bool TMDIChild::confirmLeavingTunerMode(std::function<void()> afterSaving) {
    if (!inTunerMode || savingLive_) return !savingLive_;
    const QStringList lines = unsavedLiveChanges();
    if (lines.isEmpty()) return true;
    const QString text = T("Tuner", "U0001") + QStringLiteral("\n\n") + lines.join(QLatin1Char('\n')) +
                         QStringLiteral("\n\n") + T("Tuner", "U0002");
    switch (ui::Dialogs().message(this, ui::MessageKind::Question, QStringLiteral("Varnel"), text,
                                  ui::MessageButtons::SaveDiscardCancel)) {
        case ui::MessageResult::Discard:
            LogNote(T("Tuner", "U0005") + QLatin1Char(' ') + lines.join(QStringLiteral("; ")));
            return true;
        case ui::MessageResult::Cancel: return false;
        case ui::MessageResult::Ok: break;
    }
    // Save them: the saves go out one after the other, each verified; the
    // radio leaves tuner mode only once every one is acknowledged.
    stopMeasuring();
    saveQueue_ = liveSaves();
    afterSaving_ = std::move(afterSaving);
    savingLive_ = true;
    sendNextLiveSave();
    return false;
}

void TMDIChild::sendNextLiveSave() {
    if (!savingLive_) return;
    if (saveQueue_.empty()) {
        savingLive_ = false;
        LogNote(T("Tuner", "U0004"));
        std::function<void()> then = std::move(afterSaving_);
        afterSaving_ = {};
        // After the last save's tick has finished.
        if (then) QTimer::singleShot(0, this, std::move(then));
        return;
    }
    const LiveSave save = saveQueue_.front();
    saveQueue_.erase(saveQueue_.begin());
    if (save.wide) {
        SendSaveWideItem(save.item, save.record.data());
    } else {
        SendSaveItem(save.item, save.record.data());
    }
}

void TMDIChild::liveSavesStopped() {
    savingLive_ = false;
    saveQueue_.clear();
    afterSaving_ = {};
}

void TMDIChild::closeTuningWindowAgain() {
    if (auto* sub = qobject_cast<QMdiSubWindow*>(parentWidget())) {
        sub->close();
    } else {
        close();
    }
}

void TMDIChild::liveSetUnconfirmed(bool lost) {
    // The image and the controls go back to what the radio last confirmed.
    const std::vector<std::size_t> offsets = HeldValues().takeAbandoned();
    if (!HeldValues().known() || offsets.empty()) return;
    bool changed = false;
    for (std::size_t offset : offsets) {
        const std::optional<std::uint8_t> held = HeldValues().liveAt(offset);
        if (!held || tunerImage[offset] == *held) continue;
        tunerImage[offset] = *held;
        changed = true;
    }
    if (const int at = PointByteOfCode(currentItem, currentPoint); at >= 0) {
        if (const std::optional<std::uint8_t> held = HeldValues().liveAt(static_cast<std::size_t>(at))) currentValue = *held;
    }
    if (!changed) return;
    ReloadPageValues();
    refreshModifiedMarker();
    // Which value the radio holds, for the log and the status bar.
    QStringList held;
    for (std::size_t offset : offsets) {
        const std::optional<RadioValues::Change> value = HeldValues().valueAt(offset);
        if (!value) continue;
        const QString line = Fill(T("Tuner", lost ? "U0007" : "U0006"),
                                  {ValueName(value->item, value->point, value->cell), QString::number(value->live)});
        if (!held.contains(line)) held << line;
    }
    const QString note = held.join(QStringLiteral("; "));
    LogNote(note);
    emit linkNote(note);
}
