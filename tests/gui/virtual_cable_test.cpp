// The virtual radio's cable menu: present only on the virtual radio, texts
// from the language file, and pulling the cable announced like a real USB
// removal.
#include <QAction>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>

#include "app/TMainForm.h"
#include "support/TestEnvironment.h"
#include "tuning/HotplugWatch.h"

using namespace varnel;
using varnel::test::TestEnvironment;

class VirtualCableTest : public QObject {
    Q_OBJECT
private slots:
    void absentWithoutTheVirtualRadio() {
        TestEnvironment env;
        TMainForm form;
        QVERIFY(form.findChild<QMenu*>("VirtualRadioMenu") == nullptr);
        QVERIFY(form.VirtualCable == nullptr);
    }

    void textsFollowTheLanguage() {
        TestEnvironment env;
        TMainForm form;
        form.attachVirtualRadio(&env.backend());
        auto* menu = form.findChild<QMenu*>("VirtualRadioMenu");
        QVERIFY(menu != nullptr);
        QCOMPARE(menu->title(), TestEnvironment::text("VirtualRadio", "V0001"));
        QVERIFY(!menu->title().isEmpty());
        form.N8Click();
        QCOMPARE(form.VirtualCable->text(), TestEnvironment::text("VirtualRadio", "V0002"));
        QVERIFY(form.VirtualCable->text().contains(QStringLiteral("电缆")));
    }

    void pullingTheCableIsAnnouncedAndTheScanLosesTheRadio() {
        TestEnvironment env;
        env.backend().setPlugListener([](bool) { HotplugWatch::notifyAll(); });
        TMainForm form;
        form.attachVirtualRadio(&env.backend());
        HotplugWatch watch;
        QSignalSpy changes(&watch, &HotplugWatch::deviceChanged);

        QVERIFY(form.VirtualCable->isChecked());
        QCOMPARE(ScanRadioDrives(), 1);
        form.VirtualCable->setChecked(false);
        QVERIFY(!env.backend().plugged());
        QCOMPARE(changes.count(), 1);
        QCOMPARE(ScanRadioDrives(), 0);

        form.VirtualCable->setChecked(true);
        QVERIFY(env.backend().plugged());
        QCOMPARE(changes.count(), 2);
        QCOMPARE(ScanRadioDrives(), 1);
    }
};

QTEST_MAIN(VirtualCableTest)
#include "virtual_cable_test.moc"
