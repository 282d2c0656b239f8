// The tuning window: layout, pages, tree, show routine, close query, mouse
// rules and the up-down control.
#include <QAction>
#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSplitter>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>

#include "support/TuningFixture.h"
#include "tuning/PageTables.h"

using namespace varnel;
using namespace varnel::tuning;
using varnel::test::TestEnvironment;
using varnel::test::FillImage;

namespace {
// A known image: every byte a function of its offset, frequencies set.
QString ChildText(const char* key) { return TestEnvironment::text("ChildForm", key); }
QString TreeText(const char* key) { return TestEnvironment::text("TreeView", key); }

// The tree as text: one entry per node, "depth:caption:state:image".
QStringList TreeShape(QTreeWidget* tree) {
    QStringList out;
    std::function<void(QTreeWidgetItem*, int)> walk = [&](QTreeWidgetItem* node, int depth) {
        out << QStringLiteral("%1:%2:%3:%4")
                   .arg(depth)
                   .arg(node->text(0))
                   .arg(node->data(0, tuning::ItemTree::kStateIndexRole).toInt())
                   .arg(node->data(0, tuning::ItemTree::kImageIndexRole).toInt());
        for (int i = 0; i < node->childCount(); ++i) walk(node->child(i), depth + 1);
    };
    for (int i = 0; i < tree->topLevelItemCount(); ++i) walk(tree->topLevelItem(i), 0);
    return out;
}

QList<int> StateIndices(QTreeWidget* tree) {
    QList<int> out;
    for (const QString& entry : TreeShape(tree)) out << entry.section(QLatin1Char(':'), 2, 2).toInt();
    return out;
}

}  // namespace

class TuningWindowTest : public test::TuningWindowCase {
    Q_OBJECT

private:
    std::unique_ptr<TMDIChild> makeWindow(VirtualPreset preset = VirtualPreset::Variant0, bool radioImage = false) {
        return test::OpenTuningWindow(
            *env_, host_,
            {.preset = preset, .image = radioImage ? test::WindowImage::Radio : test::WindowImage::Pattern, .linked = false});
    }

private slots:
    // ---- layout ---------------------------------------------------------

    void everyPageControlExistsWithItsKind() {
        auto w = makeWindow();
        QCOMPARE(w->pageList().size(), kPageCount);
        for (int n = 0; n < kPageCount; ++n) {
            const PageSpec& spec = PageSpecOf(static_cast<Page>(n));
            QCOMPARE(w->pageList().at(n)->objectName(), QString::fromLatin1(spec.name));
            QVERIFY(w->control<QScrollArea>(QString::fromLatin1(spec.name)) == w->pageList().at(n));
            for (const char* header : {spec.pointsHeader, spec.rxHeader, spec.txHeader}) {
                if (header != nullptr) QVERIFY2(w->control<QLabel>(QString::fromLatin1(header)), header);
            }
            for (const ColumnSpec& column : spec.columns) {
                if (column.header != nullptr) QVERIFY2(w->control<QLabel>(QString::fromLatin1(column.header)), column.header);
            }
            for (const RowSpec& row : spec.rows) {
                if (row.button != nullptr) QVERIFY2(w->control<TPointButton>(QString::fromLatin1(row.button)), row.button);
                if (row.rx != nullptr) QVERIFY2(w->control<QLabel>(QString::fromLatin1(row.rx)), row.rx);
                if (row.tx != nullptr) QVERIFY2(w->control<QLabel>(QString::fromLatin1(row.tx)), row.tx);
                for (std::size_t c = 0; c < row.cells.size(); ++c) {
                    const QString name = QString::fromLatin1(row.cells[c].name);
                    switch (spec.columns[c].kind) {
                        case CellKind::ValueLabel: QVERIFY2(w->control<QLabel>(name), qPrintable(name)); break;
                        case CellKind::ScrollBar: QVERIFY2(w->control<TScrollBar>(name), qPrintable(name)); break;
                        case CellKind::ByteEdit:
                        case CellKind::WordEdit: {
                            auto* edit = w->control<TValueEdit>(name);
                            auto* upDown = w->control<TUpDown>(QString::fromLatin1(row.cells[c].upDown));
                            QVERIFY2(edit && upDown, qPrintable(name));
                            QCOMPARE(upDown->associate(), edit);
                            break;
                        }
                    }
                }
            }
            QVERIFY(w->control<QPushButton>(QString::fromLatin1(spec.keyingButton)));
            QVERIFY(w->control<QPushButton>(QString::fromLatin1(spec.saveButton)));
        }
        for (const char* name : {"Label43", "Label80", "Label79", "Label29", "Label30", "Label31"}) {
            QVERIFY2(w->control<QLabel>(QString::fromLatin1(name)), name);
        }
        QCOMPARE(w->control<QLabel>("Label43")->text(), QString("0"));
        QCOMPARE(w->control<QLabel>("Label80")->text(), QString("(+5)"));
        QCOMPARE(w->control<QLabel>("Label79")->text(), QString("255"));
        QCOMPARE(w->control<QLabel>("Label31")->text(), QString("255"));
        QVERIFY(w->control<QLabel>("Image1") && !w->control<QLabel>("Image1")->pixmap().isNull());
        for (const char* name : {"GroupBox1", "GroupBox3", "GroupBox7", "GroupBox9", "GroupBox11", "GroupBox13",
                                 "GroupBox18", "GroupBox21", "GroupBox25", "GroupBox26", "GroupBox27", "GroupBox29",
                                 "GroupBox30", "GroupBox31"}) {
            QVERIFY2(w->control(QString::fromLatin1(name)), name);
        }
        // Names are unique across the window.
        QStringList names;
        for (QWidget* child : w->findChildren<QWidget*>()) {
            if (child->objectName().isEmpty() || child->objectName().startsWith("qt_")) continue;
            QVERIFY2(!names.contains(child->objectName()), qPrintable(child->objectName()));
            names << child->objectName();
        }
    }

    void controlsStartAsDesigned() {
        TMDIChild w;
        host_.attach(&w);
        w.setAttribute(Qt::WA_DeleteOnClose, false);
        // Edits: "0", three characters (five for the 16-bit FSK columns), disabled.
        for (const PageSpec& spec : PageSpecs()) {
            for (const RowSpec& row : spec.rows) {
                for (std::size_t c = 0; c < row.cells.size(); ++c) {
                    const ColumnSpec& column = spec.columns[c];
                    const QString name = QString::fromLatin1(row.cells[c].name);
                    if (column.kind == CellKind::ByteEdit || column.kind == CellKind::WordEdit) {
                        auto* edit = w.control<TValueEdit>(name);
                        auto* upDown = w.control<TUpDown>(QString::fromLatin1(row.cells[c].upDown));
                        QCOMPARE(edit->text(), QString("0"));
                        QCOMPARE(edit->maxLength(), column.kind == CellKind::WordEdit ? 5 : 3);
                        QVERIFY(!edit->isEnabled());
                        QVERIFY(!upDown->isEnabled());
                        QCOMPARE(upDown->minimum(), 0);
                        QCOMPARE(upDown->maximum(), column.kind == CellKind::WordEdit ? 4096 : 255);
                        QCOMPARE(upDown->increment(), 1);
                        QVERIFY(!upDown->wrap());
                    } else if (column.kind == CellKind::ScrollBar) {
                        auto* bar = w.control<TScrollBar>(name);
                        QCOMPARE(bar->minimum(), 0);
                        QCOMPARE(bar->maximum(), 255);
                        QCOMPARE(bar->singleStep(), 5);
                        QCOMPARE(bar->pageStep(), 5);
                        QCOMPARE(bar->orientation(), Qt::Horizontal);
                        const bool startsEnabled = name == "ScrollBar1" || name == "ScrollBar2";
                        QCOMPARE(bar->isEnabled(), startsEnabled);
                    }
                }
            }
            const QString keying = QString::fromLatin1(spec.keyingButton);
            const QString save = QString::fromLatin1(spec.saveButton);
            QCOMPARE(w.control<QPushButton>(keying)->isEnabled(), keying == "Button9");
            QCOMPARE(w.control<QPushButton>(save)->isEnabled(), save == "Button10");
        }
        QVERIFY(w.control<QPushButton>("Button18")->isHidden());
        // Timers: names, intervals, all stopped.
        const QList<QPair<QTimer*, int>> timers = {
            {test::TimerOf(w, "CheckTimer"), 2000}, {test::TimerOf(w, "TimeOutTimer"), 10},  {test::TimerOf(w, "ReadTimer"), 1000},     {test::TimerOf(w, "ConnetTimer"), 10},
            {test::TimerOf(w, "SaveTimer"), 10},    {test::TimerOf(w, "SaveItemTimer2"), 10}, {test::TimerOf(w, "ErrorRateTimer"), 1000}, {test::TimerOf(w, "MandownTimer"), 1000}};
        const QStringList timerNames = {"CheckTimer", "TimeOutTimer", "ReadTimer", "ConnetTimer",
                                        "SaveTimer", "SaveItemTimer2", "ErrorRateTimer", "MandownTimer"};
        for (int i = 0; i < timers.size(); ++i) {
            QCOMPARE(timers[i].first->objectName(), timerNames[i]);
            QCOMPARE(timers[i].first->interval(), timers[i].second);
            QVERIFY(!timers[i].first->isActive());
        }
        // Frame parts.
        QCOMPARE(w.Panel1()->height(), 28);
        QCOMPARE(w.Panel1()->palette().color(QPalette::Window), QColor(0, 170, 240));
        QCOMPARE(w.Panel1()->palette().color(QPalette::WindowText), QColor(Qt::white));
        QCOMPARE(w.Panel1()->font().pixelSize(), 16);
        QCOMPARE(w.Splitter1()->widget(0), static_cast<QWidget*>(w.TreeView1()));
        QCOMPARE(w.Splitter1()->widget(1), w.ScrollBox1());
        QCOMPARE(w.Splitter2()->widget(1), static_cast<QWidget*>(w.ListBox1()));
        QCOMPARE(w.size(), QSize(1184, 642));
        w.show();
        QCOMPARE(w.Splitter1()->sizes().first(), 233);
        QCOMPARE(w.Splitter2()->sizes().last(), 144);
        // Maximised, the tree and the log keep their size; the pages grow.
        w.resize(1600, 900);
        QApplication::processEvents();
        QCOMPARE(w.Splitter1()->sizes().first(), 233);
        QCOMPARE(w.Splitter2()->sizes().last(), 144);
        QCOMPARE(w.Panel1()->height(), 28);
        QCOMPARE(w.TreeView1()->indentation(), 19);
        QCOMPARE(w.PopupMenu1()->actions().size(), 3);
        QCOMPARE(w.PopupMenu1()->actions().at(0), w.C1());
        QVERIFY(w.PopupMenu1()->actions().at(1) == w.N1() && w.N1()->isSeparator());
        QCOMPARE(w.PopupMenu1()->actions().at(2), w.S1());
        QCOMPARE(w.C1()->objectName(), QString("C1"));
        QCOMPARE(w.S1()->objectName(), QString("S1"));
    }

    void pageTablesNameEachControlOnce() {
        // A point button belongs to one page and point; a cell name to one place.
        QStringList seen;
        for (const PageSpec& spec : PageSpecs()) {
            for (const RowSpec& row : spec.rows) {
                if (row.button != nullptr) {
                    const auto place = FindPointButton(row.button);
                    QVERIFY(place.has_value());
                    QCOMPARE(place->page, spec.page);
                    QCOMPARE(place->point, row.point);
                    QVERIFY(!seen.contains(row.button));
                    seen << row.button;
                }
                QCOMPARE(row.cells.size(), spec.columns.size());
            }
        }
        QCOMPARE(FindPointButton("RadioButton22")->point, 5);
        QCOMPARE(FindPointButton("RadioButton22")->page, Page::PowerMobile);
        QCOMPARE(FindPointButton("RadioButton08")->point, 8);
        QVERIFY(!FindPointButton("RadioButton99").has_value());
        // Cells named in the value-control tables.
        const struct {
            const char* name;
            Page page;
            int point;
            int column;
        } kCells[] = {{"Edit7", Page::Power, 1, 0},       {"UpDown1", Page::Power, 1, 1},
                      {"Edit014", Page::Power, 8, 0},     {"UpDown08", Page::Power, 8, 1},
                      {"Edit28", Page::PowerMobile, 2, 1}, {"Edit16", Page::PowerMobile, 5, 2},
                      {"ScrollBar7", Page::Ctcss, 5, 1},  {"Label66", Page::Ctcss, 5, 0},
                      {"UpDown6", Page::FreqStability, 3, 2}, {"Edit47", Page::Fsk, 1, 0},
                      {"Edit42", Page::Fsk, 1, 1},        {"UpDown61", Page::Fsk, 5, 3},
                      {"Edit66", Page::Fsk, 5, 4},        {"Label137", Page::ErrorRate, 5, 2}};
        for (const auto& c : kCells) {
            const auto place = FindCell(c.name);
            QVERIFY2(place.has_value(), c.name);
            QCOMPARE(place->page, c.page);
            QCOMPARE(place->point, c.point);
            QCOMPARE(place->column, c.column);
        }
    }

    // ---- tree -------------------------------------------------------------

    void treeStructure_data() {
        QTest::addColumn<int>("preset");
        QTest::addColumn<bool>("emptyLanguage");
        QTest::newRow("variant 0") << int(VirtualPreset::Variant0) << false;
        QTest::newRow("variant 1") << int(VirtualPreset::Variant1) << false;
        QTest::newRow("variant 2") << int(VirtualPreset::Variant2) << false;
        QTest::newRow("large") << int(VirtualPreset::LargeNewFirmware) << false;
        QTest::newRow("variant 0, empty language file") << int(VirtualPreset::Variant0) << true;
        QTest::newRow("large, empty language file") << int(VirtualPreset::LargeNewFirmware) << true;
    }
    void treeStructure() {
        QFETCH(int, preset);
        QFETCH(bool, emptyLanguage);
        if (emptyLanguage) {
            env_->writeFile("english.lang", "[ChildForm]\r\nC0001=Point\r\n");
            OpenLanguage(kLanguageEnglish);
        }
        const auto p = static_cast<VirtualPreset>(preset);
        auto w = makeWindow(p);
        const RadioInfo info = VirtualPresetInfo(p);
        const int variant = info.modelVariant();
        auto caption = [&](const char* key) { return emptyLanguage ? QString() : TreeText(key); };
        auto node = [&](int depth, const QString& text, int state, int image) {
            return QStringLiteral("%1:%2:%3:%4").arg(depth).arg(text).arg(state).arg(image);
        };
        const int rootIcon = variant == 0 ? 18 : variant == 1 ? 28 : 29;
        QStringList expected;
        expected << node(0, QString::fromStdString(info.modelName()), 0, rootIcon);
        expected << node(1, caption("T0001"), 1, 16);
        const QList<QPair<const char*, int>> receiver = {{"T0006", 4}, {"T0004", 2}, {"T0005", 3}, {"T0007", 5},
                                                         {"T0008", 6}, {"T0009", 7}, {"T0010", 8}};
        for (const auto& n : receiver) expected << node(2, caption(n.first), n.second, 0);
        expected << node(1, caption("T0002"), 20, 16);
        const QList<QPair<const char*, int>> transmitter = {
            {"T0013", 23}, {"T0014", 24}, {"T0011", 21}, {"T0012", 22}, {"T0016", 26}, {"T0017", 27}, {"T0018", 28},
            {"T0023", 33}, {"T0019", 29}, {"T0020", 30}, {"T0021", 31}, {"T0022", 32}};
        for (const auto& n : transmitter) expected << node(2, caption(n.first), n.second, 0);
        if (expertMode) expected << node(2, "1233", 35, 0);  // the raw node: expert mode only
        if (variant == 1) expected << node(2, caption("T0044"), 34, 0);
        if (info.largeModel()) {
            expected << node(2, caption("T0056"), 36, 0) << node(2, caption("T0045"), 37, 0)
                     << node(2, caption("T0057"), 38, 0);
        }
        expected << node(1, caption("T0003"), 50, 16);
        for (const auto& n : QList<QPair<const char*, int>>{{"T0024", 51}, {"T0025", 52}, {"T0026", 53}}) {
            expected << node(2, caption(n.first), n.second, 0);
        }
        if (variant == 0) {
            expected << node(1, caption("T0040"), 60, 16);
            for (const auto& n : QList<QPair<const char*, int>>{{"T0041", 61}, {"T0042", 62}, {"T0043", 63}}) {
                expected << node(2, caption(n.first), n.second, 0);
            }
        }
        QCOMPARE(TreeShape(w->TreeView1()), expected);
        if (!emptyLanguage) QVERIFY(!TreeText("T0006").isEmpty());
        for (QTreeWidgetItem* item : w->TreeView1()->findItems(QString(), Qt::MatchContains | Qt::MatchRecursive)) {
            QVERIFY(!item->icon(0).isNull());
        }
    }

    void treeIconsDifferByIndex() {
        QList<QImage> images;
        for (const int index : {0, 16, 18, 28, 29}) {
            const QImage image = tuning::ItemTree::icon(index).pixmap(16, 16).toImage();
            QCOMPARE(image.size(), QSize(16, 16));
            QVERIFY(!images.contains(image));
            images << image;
        }
    }

    void treeVariantsDifferOnlyWhereTheyShould() {
        auto w0 = makeWindow(VirtualPreset::Variant0);
        const QList<int> v0 = StateIndices(w0->TreeView1());
        w0.reset();
        auto w1 = makeWindow(VirtualPreset::Variant1);
        const QList<int> v1 = StateIndices(w1->TreeView1());
        w1.reset();
        auto w2 = makeWindow(VirtualPreset::Variant2);
        const QList<int> v2 = StateIndices(w2->TreeView1());
        QVERIFY(v0.contains(60) && v0.contains(61) && !v0.contains(34));
        QVERIFY(v1.contains(34) && !v1.contains(60) && !v1.contains(63));
        QVERIFY(!v2.contains(34) && !v2.contains(60));
        for (const QList<int>& v : {v0, v1, v2}) QVERIFY(!v.contains(36) && !v.contains(37) && !v.contains(38));
    }

    void treeSelectionColours() {
        auto w = makeWindow();
        auto* delegate = qobject_cast<TreeSelectionDelegate*>(w->TreeView1()->itemDelegate());
        QVERIFY(delegate);
        QStyleOptionViewItem option;
        option.state = QStyle::State_Selected | QStyle::State_Enabled;
        w->show();
        QVERIFY(QTest::qWaitForWindowActive(w.get()));
        w->TreeView1()->setFocus();
        QVERIFY(w->TreeView1()->hasFocus());
        QStyleOptionViewItem focused = delegate->selectionOption(option);
        QCOMPARE(focused.palette.color(QPalette::Active, QPalette::Highlight), QColor(54, 153, 254));
        QCOMPARE(focused.palette.color(QPalette::Inactive, QPalette::Highlight), QColor(54, 153, 254));
        w->ListBox1()->setFocus();
        QVERIFY(!w->TreeView1()->hasFocus());
        QStyleOptionViewItem unfocused = delegate->selectionOption(option);
        QCOMPARE(unfocused.palette.color(QPalette::Active, QPalette::Highlight), QColor(192, 192, 192));
        QCOMPARE(unfocused.palette.color(QPalette::Active, QPalette::HighlightedText), QColor(Qt::black));
        // Unselected nodes are drawn as the style draws them.
        QStyleOptionViewItem plain;
        plain.state = QStyle::State_Enabled;
        plain.palette.setColor(QPalette::Highlight, Qt::red);
        QCOMPARE(delegate->selectionOption(plain).palette.color(QPalette::Highlight), QColor(Qt::red));
    }

    // ---- show routine ------------------------------------------------------

    void showRoutineEndState() {
        band = 1;
        currentItem = 70;
        auto w = makeWindow();
        QCOMPARE(band, 0);
        QCOMPARE(currentItem, 4);
        QCOMPARE(w->frontPage(), w->control<QScrollArea>("sbox_ctcss"));
        QCOMPARE(w->Panel1()->text(), TreeText("T0006"));
        QVERIFY(!w->Panel1()->text().isEmpty());
        // The selected node is "T0006"; every node is expanded.
        QCOMPARE(w->TreeView1()->selectedItems().size(), 1);
        QCOMPARE(w->TreeView1()->selectedItems().first()->data(0, tuning::ItemTree::kStateIndexRole).toInt(), 4);
        for (QTreeWidgetItem* item : w->TreeView1()->findItems(QString(), Qt::MatchContains | Qt::MatchRecursive)) {
            if (item->childCount() > 0) QVERIFY(item->isExpanded());
        }
        // sbox_ctcss holds item 4 of band 0 (bytes 68 to 72), locked.
        const char* bars[] = {"ScrollBar2", "ScrollBar3", "ScrollBar4", "ScrollBar5", "ScrollBar7"};
        const char* labels[] = {"Label54", "Label57", "Label60", "Label63", "Label66"};
        for (int p = 0; p < 5; ++p) {
            const int value = tunerImage[static_cast<std::size_t>(68 + p)];
            QCOMPARE(w->control<QScrollBar>(bars[p])->value(), value);
            QCOMPARE(w->control<QLabel>(labels[p])->text(), QString::number(value));
            QCOMPARE(w->control<TUpDown>(QString("UpDown%1").arg(23 + p))->position(), value);
            QCOMPARE(w->control<TValueEdit>(QString("Edit%1").arg(23 + p))->text(), QString::number(value));
            QVERIFY(!w->control<QScrollBar>(bars[p])->isEnabled());
            QVERIFY(!w->control<TValueEdit>(QString("Edit%1").arg(23 + p))->isEnabled());
            QVERIFY(!w->control<TUpDown>(QString("UpDown%1").arg(23 + p))->isEnabled());
        }
        QVERIFY(!w->control<QPushButton>("Button9")->isEnabled());
        QVERIFY(!w->control<QPushButton>("Button10")->isEnabled());
        // Label36 shows image byte 64; the log is empty; the host's commands are on.
        QCOMPARE(w->control<QLabel>("Label36")->text(), QString::number(tunerImage[64]));
        QCOMPARE(w->ListBox1()->count(), 0);
        QCOMPARE(host_.documentCommands, QList<bool>{true});
        QVERIFY(!test::TimerOf(*w, "CheckTimer")->isActive());
        QCOMPARE(w->statusTip(), TestEnvironment::text("MainForm", "S008"));
    }

    void showRoutineAppliesLanguageKeys() {
        auto w = makeWindow();
        for (const KeyedControl& keyed : PageLanguageKeys()) {
            QWidget* control = w->control(QString::fromLatin1(keyed.name));
            QVERIFY2(control, keyed.name);
            QString text;
            if (auto* label = qobject_cast<QLabel*>(control)) text = label->text();
            if (auto* button = qobject_cast<QAbstractButton*>(control)) text = button->text();
            // The frequency headers break before their unit.
            QCOMPARE(text.replace(QStringLiteral("\n("), QStringLiteral(" (")), TestEnvironment::text(keyed.section, keyed.key));
        }
        // Spot checks of the table against the language file.
        QCOMPARE(w->control<QRadioButton>("RadioButton13")->text(), ChildText("C0002"));
        QCOMPARE(w->control<QRadioButton>("RadioButton37")->text(), ChildText("C0006"));
        QCOMPARE(w->control<QRadioButton>("RadioButton07")->text(), ChildText("C00062"));
        QCOMPARE(w->control<QRadioButton>("RadioButton28")->text(), ChildText("C0004"));
        QCOMPARE(w->control<QLabel>("Label142")->text(), ChildText("C0001"));
        QCOMPARE(w->control<QLabel>("Label118")->text(), ChildText("C0010").replace(" (", "\n("));
        QCOMPARE(w->control<QLabel>("Label141")->text(), ChildText("C0011").replace(" (", "\n("));
        QCOMPARE(w->control<QLabel>("Label51")->text(), ChildText("C0019"));
        QCOMPARE(w->control<QLabel>("Label91")->text(), ChildText("C0024"));
        QCOMPARE(w->control<QLabel>("Label112")->text(), ChildText("C0027"));
        QCOMPARE(w->control<QLabel>("Label115")->text(), ChildText("C0028"));
        QCOMPARE(w->control<QPushButton>("Button19")->text(), ChildText("C0007"));
        QCOMPARE(w->control<QPushButton>("Button13")->text(), ChildText("C0008"));
        QCOMPARE(w->control<QPushButton>("Button15")->text(), ChildText("C0029"));
        QCOMPARE(w->control<QPushButton>("Button16")->text(), ChildText("C0009"));
        QCOMPARE(w->C1()->text(), ChildText("C0022"));
        QCOMPARE(w->S1()->text(), ChildText("C0023"));
        // Fixed and design texts stay.
        QCOMPARE(w->control<QLabel>("Label121")->text(), QString("Temp1"));
        QCOMPARE(w->control<QLabel>("Label122")->text(), QString("Temp2"));
        QCOMPARE(w->control<QPushButton>("Button17")->text(), QString::fromUtf8("发射"));
        for (const char* name : {"Label013", "Label014", "Label015", "Label016", "Label017", "Label018"}) {
            QCOMPARE(w->control<QLabel>(name)->text(), QString::fromLatin1(kFrequencyDesignText));
        }
        QCOMPARE(w->font().pointSize(), 8);
    }

    void languageSwitchRunsTheShowRoutineAgain() {
        auto w = makeWindow();
        w->LogFrame(reinterpret_cast<const std::uint8_t*>("\xA1"), 1, 0);
        OpenLanguage(kLanguageChinese);
        languageIndex = kLanguageChinese;
        w->FormShow();
        QCOMPARE(w->font().pointSize(), 10);
        QCOMPARE(w->Panel1()->font().pixelSize(), 16);
        QCOMPARE(w->control<QPushButton>("Button1")->text(), ChildText("C0007"));
        QCOMPARE(w->Panel1()->text(), TreeText("T0006"));
        QVERIFY(TreeText("T0006") != QString("RX Sensitivity"));
        QCOMPARE(w->TreeView1()->topLevelItem(0)->child(0)->text(0), TreeText("T0001"));
        QCOMPARE(w->ListBox1()->count(), 1);  // the log is kept
        QCOMPARE(host_.documentCommands, (QList<bool>{true, true}));
    }

    void frequencyLabelsFollowTheScope() {
        radioInfo = VirtualPresetInfo(VirtualPreset::LargeNewFirmware);
        FillImage();
        TMDIChild w;
        host_.attach(&w);
        w.setAttribute(Qt::WA_DeleteOnClose, false);
        w.RefreshFrequencyLabels(RefreshScope::Build);
        QCOMPARE(w.control<QLabel>("Label3")->text(), QString("445.125000"));  // RX point 1
        QCOMPARE(w.control<QLabel>("Label4")->text(), QString("435.050000"));  // TX point 1
        QCOMPARE(w.control<QLabel>("Label12")->text(), QString("439.050000"));  // TX point 5
        QCOMPARE(w.control<QLabel>("Label18")->text(), QString("447.125000"));  // single row: point 3
        QCOMPARE(w.control<QLabel>("Label129")->text(), QString("437.050000"));  // sbox_temp in the build scope
        QCOMPARE(w.control<QLabel>("Label81")->text(), QString::fromLatin1(kFrequencyDesignText));  // not in it
        QCOMPARE(w.control<QLabel>("Label146")->text(), QString::fromLatin1(kFrequencyDesignText));
        QCOMPARE(w.control<QLabel>("Label96")->text(), QString::fromLatin1(kFrequencyDesignText));
        band = 1;
        w.RefreshFrequencyLabels(RefreshScope::Selection);
        QCOMPARE(w.control<QLabel>("Label81")->text(), QString("160.500000"));
        QCOMPARE(w.control<QLabel>("Label154")->text(), QString("154.025000"));
        QCOMPARE(w.control<QLabel>("Label108")->text(), QString("164.500000"));
        QCOMPARE(w.control<QLabel>("Label129")->text(), QString("437.050000"));  // sbox_temp not in this scope
        // Rows 6 to 8 only with band 1 and new firmware.
        QCOMPARE(w.control<QLabel>("Label017")->text(), QString("167.500000"));
        QCOMPARE(w.control<QLabel>("Label018")->text(), QString("157.025000"));
        radioInfo = VirtualPresetInfo(VirtualPreset::Variant0);  // firmware 2.1
        tunerImage.setTxFrequencyIn(1, 7, 140000000u);
        w.RefreshFrequencyLabels(RefreshScope::Selection);
        QCOMPARE(w.control<QLabel>("Label018")->text(), QString("157.025000"));
    }

    void showPageBringsOnePageToTheFront() {
        auto w = makeWindow();
        w->resize(600, 300);
        w->show();
        for (int n = kPageCount - 1; n >= 0; --n) {
            w->pageList().at(n)->verticalScrollBar()->setValue(w->pageList().at(n)->verticalScrollBar()->maximum());
            w->ShowPage(n);
            QCOMPARE(w->frontPage(), w->pageList().at(n));
            QCOMPARE(w->pageList().at(n)->verticalScrollBar()->value(), 0);
            // Pages are never hidden: the others stay visible underneath.
            for (QScrollArea* page : w->pageList()) QVERIFY(page->isVisible());
            // The page in front is the topmost child of the stack.
            QCOMPARE(w->pageList().at(n)->parentWidget()->children().last(), static_cast<QObject*>(w->pageList().at(n)));
        }
        w->ShowPage(10);
        w->ShowPage(-1);
        QCOMPARE(w->frontPage(), w->pageList().at(0));
    }

    // ---- mouse rules -------------------------------------------------------

    void mousePressFocusesAFixedPage_data() {
        QTest::addColumn<QString>("pressed");
        QTest::addColumn<QString>("focused");
        QTest::newRow("sbox_sql") << "sbox_sql" << "sbox_vox";
        QTest::newRow("sbox_temp") << "sbox_temp" << "sbox_vox";
        QTest::newRow("sbox_mandown") << "sbox_mandown" << "sbox_vox";
        QTest::newRow("GroupBox13") << "GroupBox13" << "sbox_vox";
        QTest::newRow("sbox_power_mobile") << "sbox_power_mobile" << "sbox_power";
        QTest::newRow("sbox_fsk") << "sbox_fsk" << "sbox_power";
        QTest::newRow("GroupBox25") << "GroupBox25" << "sbox_power";
        QTest::newRow("sbox_ctcss") << "sbox_ctcss" << "sbox_ctcss";
    }
    void mousePressFocusesAFixedPage() {
        QFETCH(QString, pressed);
        QFETCH(QString, focused);
        auto w = makeWindow();
        w->show();
        QVERIFY(QTest::qWaitForWindowActive(w.get()));
        QWidget* target = w->control(pressed);
        QVERIFY(target);
        if (auto* area = qobject_cast<QScrollArea*>(target)) {
            w->ShowPage(w->pageList().indexOf(area));
            target = area->widget();
        } else {
            QWidget* page = target;
            while (page != nullptr && qobject_cast<QScrollArea*>(page) == nullptr) page = page->parentWidget();
            w->ShowPage(w->pageList().indexOf(qobject_cast<QScrollArea*>(page)));
        }
        QTest::mousePress(target, Qt::LeftButton, {}, QPoint(2, 2));
        QCOMPARE(QApplication::focusWidget(), w->control(focused));
    }

    void wheelScrollsOnlyAFocusedPage() {
        auto w = makeWindow();
        w->resize(500, 320);
        w->show();
        QVERIFY(QTest::qWaitForWindowActive(w.get()));
        auto wheel = [](QWidget* target, int delta) {
            QWheelEvent event(QPointF(5, 5), target->mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, delta), Qt::NoButton,
                              Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(target, &event);
        };
        // sbox_sql never holds the focus: a wheel turn does not scroll it.
        QScrollArea* sql = w->control<QScrollArea>("sbox_sql");
        w->ShowPage(3);
        QVERIFY(sql->verticalScrollBar()->maximum() > 0);
        QTest::mousePress(sql->widget(), Qt::LeftButton, {}, QPoint(2, 2));
        wheel(sql->widget(), -120);
        QCOMPARE(sql->verticalScrollBar()->value(), 0);
        // sbox_power after a press on it scrolls one line down, then back up.
        QScrollArea* power = w->control<QScrollArea>("sbox_power");
        w->ShowPage(1);
        QVERIFY(power->verticalScrollBar()->maximum() > 0);
        wheel(power->widget(), -120);
        QCOMPARE(power->verticalScrollBar()->value(), 0);  // not focused yet
        QTest::mousePress(power->widget(), Qt::LeftButton, {}, QPoint(2, 2));
        QVERIFY(power->hasFocus());
        wheel(power->widget(), -120);
        QCOMPARE(power->verticalScrollBar()->value(), power->verticalScrollBar()->singleStep());
        wheel(power->widget(), 120);
        QCOMPARE(power->verticalScrollBar()->value(), 0);
    }

    // ---- close query -------------------------------------------------------

    void closeOutsideTunerModeAsksNothing() {
        auto w = makeWindow();
        w->show();
        QVERIFY(w->close());
        QVERIFY(env_->dialogs().messages.isEmpty());
        QCOMPARE(host_.documentCommands, (QList<bool>{true, false}));
        QCOMPARE(host_.leftCaptions, 0);
    }

    void closeInTunerMode_data() {
        QTest::addColumn<bool>("ok");
        QTest::addColumn<bool>("radioImage");
        QTest::newRow("OK") << true << false;
        QTest::newRow("Cancel") << false << false;
        QTest::newRow("OK, the radio's image") << true << true;
        QTest::newRow("Cancel, the radio's image") << false << true;
    }
    void closeInTunerMode() {
        QFETCH(bool, ok);
        QFETCH(bool, radioImage);
        auto w = makeWindow(VirtualPreset::Variant0, radioImage);
        w->show();
        QCOMPARE(ScanRadioDrives(), std::uint16_t{1});
        test::LinkTunerMode(*env_, true);
        QVERIFY(linkHandle);
        env_->dialogs().answers << (ok ? ui::MessageResult::Ok : ui::MessageResult::Cancel);
        QCOMPARE(w->close(), ok);
        QCOMPARE(env_->dialogs().messages.size(), 1);
        const auto& box = env_->dialogs().messages.first();
        QCOMPARE(box.kind, ui::MessageKind::Question);
        QCOMPARE(box.caption, QString("Varnel"));
        QCOMPARE(box.text, TestEnvironment::text("MessageBox", "M011"));
        QCOMPARE(box.buttons, ui::MessageButtons::OkCancel);
        if (ok) {
            QCOMPARE(env_->radio().receivedFrames().size(), std::size_t{1});
            const std::vector<std::uint8_t> exitFrame = {0xA1, 0x00, 0x61, 0x00, 0x00, 0x00, 0x00, 0xA4};
            QCOMPARE(env_->radio().receivedFrames().front(), exitFrame);
            QVERIFY(!env_->radio().inTunerMode());
            QCOMPARE(env_->dialogs().pauses, QList<int>{500});
            QVERIFY(!inTunerMode);
            QCOMPARE(host_.leftCaptions, 1);
            QCOMPARE(host_.documentCommands, (QList<bool>{true, false}));
            QVERIFY(!w->isVisible());
        } else {
            QVERIFY(env_->radio().receivedFrames().empty());
            QVERIFY(env_->dialogs().pauses.isEmpty());
            QVERIFY(inTunerMode);
            QCOMPARE(host_.leftCaptions, 0);
            QCOMPARE(host_.documentCommands, QList<bool>{true});
            QVERIFY(w->isVisible());
        }
    }

    void closeFreesTheWindow() {
        radioInfo = VirtualPresetInfo(VirtualPreset::Variant0);
        QPointer<TMDIChild> w = new TMDIChild;
        host_.attach(w);
        w->FormShow();
        w->show();
        QVERIFY(w->close());
        QTRY_VERIFY(w.isNull());
        QCOMPARE(host_.documentCommands, (QList<bool>{true, false}));
    }

    // ---- sender hooks --------------------------------------------------------

    void senderHooksBelongToTheLatestWindow() {
        auto first = makeWindow();
        QVERIFY(CurrentSenderHooks().logFrame && CurrentSenderHooks().enableTimer);
        CurrentSenderHooks().enableTimer(TuningTimer::TimeOut);
        QVERIFY(test::TimerOf(*first, "TimeOutTimer")->isActive());
        CurrentSenderHooks().enableTimer(TuningTimer::Save);
        CurrentSenderHooks().enableTimer(TuningTimer::SaveItem2);
        QVERIFY(test::TimerOf(*first, "SaveTimer")->isActive() && test::TimerOf(*first, "SaveItemTimer2")->isActive());
        // A replacement installs its own hooks; the old window's end leaves them.
        auto second = makeWindow();
        first.reset();
        QVERIFY(CurrentSenderHooks().logFrame);
        const std::uint8_t frame[] = {0xA1, 0x80, 0x62};
        CurrentSenderHooks().logFrame(frame, 3, 1);
        QCOMPARE(second->ListBox1()->count(), 1);
        second.reset();
        QVERIFY(!CurrentSenderHooks().logFrame);
        QVERIFY(!CurrentSenderHooks().enableTimer);
    }

    // ---- up-down -------------------------------------------------------------

    void upDownStepsWithoutWrapping() {
        QWidget parent;
        auto* edit = new TValueEdit(&parent);
        auto* upDown = new TUpDown(&parent);
        upDown->setRange(0, 255);
        upDown->setAssociate(edit);
        QSignalSpy clicks(upDown, &TUpDown::clicked);
        upDown->setPosition(254);
        QCOMPARE(clicks.count(), 0);  // set from code: no click
        QCOMPARE(edit->text(), QString("254"));
        upDown->step(+1);
        upDown->step(+1);
        QCOMPARE(upDown->position(), 255);
        QCOMPARE(edit->text(), QString("255"));
        QCOMPARE(clicks.count(), 2);  // the click comes also at the limit
        upDown->setPosition(1);
        upDown->step(-1);
        upDown->step(-1);
        QCOMPARE(upDown->position(), 0);
        upDown->setPosition(999);
        QCOMPARE(upDown->position(), 255);
        // Arrow keys in the edit step it.
        upDown->setPosition(10);
        QTest::keyClick(edit, Qt::Key_Up);
        QTest::keyClick(edit, Qt::Key_Up);
        QTest::keyClick(edit, Qt::Key_Down);
        QCOMPARE(upDown->position(), 11);
        QCOMPARE(clicks.last().first().toInt(), -1);
        // A valid number typed into the edit is where the next step starts.
        edit->setText("100");
        upDown->step(+1);
        QCOMPARE(upDown->position(), 101);
        // Text that is no number in range leaves the last position.
        edit->setText("300");
        QCOMPARE(upDown->position(), 101);
        edit->setText("");
        upDown->step(+1);
        QCOMPARE(edit->text(), QString("102"));
        // A disabled up-down does not step.
        upDown->setEnabled(false);
        QTest::keyClick(edit, Qt::Key_Up);
        QCOMPARE(upDown->storedPosition(), 102);
    }

    void wordUpDownGroupsDigits() {
        auto w = makeWindow(VirtualPreset::LargeNewFirmware);
        auto* upDown = w->control<TUpDown>("UpDown57");
        auto* edit = w->control<TValueEdit>("Edit57");
        const QString separator = QLocale::system().groupSeparator().isEmpty() ? QString(",")
                                                                                : QLocale::system().groupSeparator();
        upDown->setPosition(4096);
        QCOMPARE(edit->text(), QString("4") + separator + "096");
        upDown->setPosition(999);
        QCOMPARE(edit->text(), QString("999"));
        upDown->setPosition(1000);
        QCOMPARE(edit->text(), QString("1") + separator + "000");
        QCOMPARE(upDown->position(), 1000);  // grouped text reads back
        upDown->setPosition(5000);
        QCOMPARE(upDown->position(), 4096);
        // Byte columns never group (they never reach 1000).
        w->control<TUpDown>("UpDown47")->setPosition(255);
        QCOMPARE(w->control<TValueEdit>("Edit47")->text(), QString("255"));
    }

    void valueEditTakesDigitsOnly() {
        TValueEdit edit;
        edit.setText("");
        QTest::keyClicks(&edit, "1a2-3");
        QCOMPARE(edit.text(), QString("123"));
        QTest::keyClicks(&edit, "4");
        QCOMPARE(edit.text(), QString("123"));  // three characters at most
        QTest::keyClick(&edit, Qt::Key_Backspace);
        QCOMPARE(edit.text(), QString("12"));
    }

    void pointButtonReportsDoubleClick() {
        auto w = makeWindow();
        auto* button = w->control<TPointButton>("RadioButton3");
        QSignalSpy spy(button, &TPointButton::doubleClicked);
        w->ShowPage(1);
        w->show();
        QTest::mouseDClick(button, Qt::LeftButton);
        QCOMPARE(spy.count(), 1);
        // The check mark can be cleared from code on an exclusive button.
        button->forceChecked(true);
        QVERIFY(button->isChecked());
        button->forceChecked(false);
        QVERIFY(!button->isChecked());
        QVERIFY(button->autoExclusive());
    }
};

QTEST_MAIN(TuningWindowTest)
#include "tuning_window_test.moc"
