// The tuning window as most window tests need it: created on a radio of a
// preset, shown, and (unless asked otherwise) linked to the virtual radio with
// both the radio and the program in tuner mode, the radio's received frames
// cleared. Plus the pattern image, the verifying-poll settle and tree lookup
// that the tests share.
//
//     auto w = OpenTuningWindow(*env_, host_);                        // variant0, radio image, linked
//     auto w = OpenTuningWindow(*env_, host_, {.preset = VirtualPreset::LargeNewFirmware});
//     auto w = OpenTuningWindow<RecordingWindow>(*env_, host_, {.image = WindowImage::Pattern, .linked = false});
#pragma once

#include <QObject>
#include <QTimer>
#include <QTreeWidget>
#include <memory>
#include <vector>

#include "data/Global.h"
#include "device/Mass_storage.h"
#include "lang/Loadlanguage.h"
#include "protocol/Sendcmd.h"
#include "sim/VirtualBackend.h"
#include "support/FakeHost.h"
#include "support/RadioFrames.h"
#include "support/TestEnvironment.h"
#include "tuning/TMDIChild.h"
#include "ui/Selection.h"

class QLineEdit;

namespace varnel::test {

// The transmit and receive frequency tables of both bands: band 0 from
// 435.050 / 445.125 MHz, band 1 from 150.025 / 160.500 MHz, 1 MHz apart.
void FillFrequencies();
// The pattern image: byte i holds (i x multiplier + addend) mod 256, then the
// frequency tables are written (FillFrequencies).
void FillImage(int multiplier = 7, int addend = 3);

enum class WindowImage { Radio, Pattern, Kept };  // Kept: tunerImage as the test left it

struct WindowStart {
    VirtualPreset preset = VirtualPreset::Variant0;
    WindowImage image = WindowImage::Radio;  // the preset's own image, FillImage(), or as it is
    bool linked = true;                      // link open, radio in tuner mode, its frames cleared
    bool tunerMode = true;                   // inTunerMode (when linked)
};

// Sets radioInfo and tunerImage for the start, replacing the environment's
// radio when the preset is not variant0 and the window is linked.
void PrepareWindowStart(TestEnvironment& env, const WindowStart& start);
// Opens the link to the environment's radio and puts both sides in tuner mode.
void LinkTunerMode(TestEnvironment& env, bool tunerMode);

template <class Window = TMDIChild>
std::unique_ptr<Window> OpenTuningWindow(TestEnvironment& env, FakeHost& host, WindowStart start = {}) {
    PrepareWindowStart(env, start);
    auto w = std::make_unique<Window>();
    host.attach(w.get());
    w->setAttribute(Qt::WA_DeleteOnClose, false);
    w->FormShow();
    if (start.linked) LinkTunerMode(env, start.tunerMode);
    return w;
}

// Answers the outstanding live-set or save by calling the verifying pollers'
// handlers, as the event loop would, until none runs (at most `limit` rounds).
void SettleVerifyingPolls(TMDIChild& w, int limit = 400);

// The window's timer named `name`: each timer is named after its handler's
// timer (CheckTimer, TimeOutTimer, SaveTimer, ...), the pollers' ones included.
inline QTimer* TimerOf(const QObject& window, const char* name) {
    return window.findChild<QTimer*>(QLatin1String(name));
}

// The tree node with the state index `key`, or nullptr.
QTreeWidgetItem* NodeWithKey(QTreeWidget* tree, int key);
// Double-clicks the tree node with the state index `key` (as TreeView1DblClick
// sees it); false when there is no such node.
bool SelectNode(TMDIChild& w, int key);

// The controls the radio watch locks and unlocks on the power page of a
// variant0 radio; EnableAdjustControls enables them all, as a selected point
// with a keyed transmitter leaves them.
inline constexpr const char* kAdjustControls[] = {"Edit7",   "UpDown7",  "Edit1",      "Button1", "Button2",
                                                  "ScrollBar2", "Edit23", "Button9",   "Button10", "ScrollBar1",
                                                  "Edit6",   "Button5",  "Button6"};
void EnableAdjustControls(TMDIChild& w);

// The power page on screen at 1184 x 642 with item 18 selected at point 4
// and the transmitter keyed, the verifying polls settled. False when the
// window was never exposed.
bool KeyPowerPageAtPointFour(TMDIChild& w);

// Types `text` into `edit` and presses Return.
void EnterText(QLineEdit* edit, const QString& text);
// Shows `w` and waits until it is the active window (fails the case if not).
void ShowActive(QWidget* w);

// The test object of the tuning-window tests: every case starts with a fresh
// environment in English and an empty host; the window a case keeps in w_ is
// closed before the environment goes.
class TuningWindowCase : public QObject {
    Q_OBJECT

protected:
    std::unique_ptr<TestEnvironment> env_;
    FakeHost host_;
    std::unique_ptr<TMDIChild> w_;

    VirtualRadio& radio() { return env_->radio(); }
    const std::vector<Frame>& frames() { return env_->radio().receivedFrames(); }

protected slots:
    void init();
    void cleanup();
};

}  // namespace varnel::test
