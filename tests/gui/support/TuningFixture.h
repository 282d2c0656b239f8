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

#include <QTreeWidget>
#include <memory>

#include "data/Global.h"
#include "device/Mass_storage.h"
#include "protocol/Sendcmd.h"
#include "sim/VirtualBackend.h"
#include "support/FakeHost.h"
#include "support/TestEnvironment.h"
#include "tuning/TMDIChild.h"

namespace varnel::test {

// The pattern image: byte i holds (i x multiplier + addend) mod 256, then the
// transmit and receive frequency tables of both bands are written (band 0 from
// 435.050 / 445.125 MHz, band 1 from 150.025 / 160.500 MHz, 1 MHz apart).
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

// The tree node with the state index `key`, or nullptr.
QTreeWidgetItem* NodeWithKey(QTreeWidget* tree, int key);
// Double-clicks the tree node with the state index `key` (as TreeView1DblClick
// sees it); false when there is no such node.
bool SelectNode(TMDIChild& w, int key);

}  // namespace varnel::test
