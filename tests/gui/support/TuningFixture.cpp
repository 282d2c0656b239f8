#include "support/TuningFixture.h"

#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

namespace varnel::test {

void FillImage(int multiplier, int addend) {
    for (std::size_t i = 0; i < TunerImage::kSize; ++i) {
        tunerImage[i] = static_cast<std::uint8_t>((i * static_cast<std::size_t>(multiplier) + static_cast<std::size_t>(addend)) & 0xFF);
    }
    FillFrequencies();
}

void FillFrequencies() {
    for (int b = 0; b < 2; ++b) {
        for (int i = 0; i < 8; ++i) {
            tunerImage.setTxFrequencyIn(b, i, (b == 0 ? 435050000u : 150025000u) + 1000000u * static_cast<unsigned>(i));
            tunerImage.setRxFrequencyIn(b, i, (b == 0 ? 445125000u : 160500000u) + 1000000u * static_cast<unsigned>(i));
        }
    }
}

void PrepareWindowStart(TestEnvironment& env, const WindowStart& start) {
    if (start.linked && start.preset != VirtualPreset::Variant0) env.replaceRadio(start.preset);
    radioInfo = VirtualPresetInfo(start.preset);
    switch (start.image) {
        case WindowImage::Radio: tunerImage = VirtualPresetImage(start.preset); break;
        case WindowImage::Pattern: FillImage(); break;
        case WindowImage::Kept: break;
    }
}

void LinkTunerMode(TestEnvironment& env, bool tunerMode) {
    if (ScanRadioDrives() != 1) qFatal("no virtual radio");
    linkHandle = OpenRadio();
    env.radio().setTunerMode(true);
    inTunerMode = tunerMode;
    env.radio().clearReceivedFrames();
}

void SettleVerifyingPolls(TMDIChild& w, int limit) {
    for (int i = 0; i < limit && (TimerOf(w, "TimeOutTimer")->isActive() || TimerOf(w, "SaveTimer")->isActive() ||
                                  TimerOf(w, "SaveItemTimer2")->isActive());
         ++i) {
        if (TimerOf(w, "TimeOutTimer")->isActive()) w.TimeOutTimerTimer();
        if (TimerOf(w, "SaveTimer")->isActive()) w.SaveItemTimer();
        if (TimerOf(w, "SaveItemTimer2")->isActive()) w.SaveItemTimer2Timer();
    }
}

QTreeWidgetItem* NodeWithKey(QTreeWidget* tree, int key) {
    for (QTreeWidgetItem* item : tree->findItems(QString(), Qt::MatchContains | Qt::MatchRecursive)) {
        if (item->data(0, tuning::ItemTree::kStateIndexRole).toInt() == key) return item;
    }
    return nullptr;
}

bool SelectNode(TMDIChild& w, int key) {
    QTreeWidgetItem* node = NodeWithKey(w.TreeView1(), key);
    if (node == nullptr) return false;
    w.TreeView1()->setCurrentItem(node);
    w.TreeView1DblClick();
    return true;
}

void EnableAdjustControls(TMDIChild& w) {
    for (const char* name : kAdjustControls) w.control<QWidget>(QString::fromLatin1(name))->setEnabled(true);
}

bool KeyPowerPageAtPointFour(TMDIChild& w) {
    w.resize(1184, 642);
    w.show();
    const bool exposed = QTest::qWaitForWindowExposed(&w);
    currentItem = 18;
    w.LoadPowerPage();
    w.ShowPage(static_cast<int>(Page::Power));
    w.PointDoubleClicked(Page::Power, 4);
    SettleVerifyingPolls(w);
    w.KeyingButtonClick(Page::Power);
    SettleVerifyingPolls(w);
    return exposed;
}

void EnterText(QLineEdit* edit, const QString& text) {
    edit->setText(text);
    QTest::keyClick(edit, Qt::Key_Return);
}

void ShowActive(QWidget* w) {
    w->show();
    QApplication::setActiveWindow(w);
    QVERIFY(QTest::qWaitForWindowActive(w));
}

void TuningWindowCase::init() {
    env_ = std::make_unique<TestEnvironment>();
    OpenLanguage(kLanguageEnglish);
    host_ = FakeHost();
}

void TuningWindowCase::cleanup() {
    w_.reset();
    env_.reset();
}

}  // namespace varnel::test
