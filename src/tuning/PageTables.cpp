#include "tuning/PageTables.h"

#include <string>

namespace varnel::tuning {

namespace {

using K = CellKind;
using PC = PowerColumn;

constexpr std::array<const char*, 3> kNoScale = {nullptr, nullptr, nullptr};

ColumnSpec Column(const char* header, const char* key, const char* design, CellKind kind,
                  PowerColumn power = PC::None) {
    return ColumnSpec{header, key, design, kind, power, -1, nullptr, nullptr};
}

// The bar column that shares the header of the value column before it.
ColumnSpec BarColumn() { return Column(nullptr, nullptr, nullptr, K::ScrollBar); }

ColumnSpec FskColumn(const char* header, const char* design, int cell, const char* group,
                     const char* loaderKey) {
    const ItemCell c = CellsOf(ItemLayout::FskBlock).at(static_cast<std::size_t>(cell));
    return ColumnSpec{header, nullptr, design, c.width == 2 ? K::WordEdit : K::ByteEdit, PC::None, cell, group,
                      loaderKey};
}

CellSpec L(const char* name) { return CellSpec{name, nullptr}; }
CellSpec E(const char* edit, const char* upDown) { return CellSpec{edit, upDown}; }

// Names of the five-point pages use the keys "C0002" to "C0006" for their
// point buttons.
constexpr const char* kPointKeys[] = {"C0002", "C0003", "C0004", "C0005", "C0006"};

// Page 0: single-byte thresholds at point 3.
PageSpec VoxPage() {
    return PageSpec{
        Page::Vox, "sbox_vox", "GroupBox3", "Label15", "Label13", "Label14",
        {Column("Label16", "C0018", "调测值", K::ValueLabel)},
        kNoScale,
        {RowSpec{3, "RadioButton6", "C0004", "Label18", "Label19", {L("Label36")}, false}},
        "Button3", "C0008", "接收", "Button4", "C0009", true, nullptr, Page::Vox};
}

// Page 1: power pairs, low and high column, up to eight points.
PageSpec PowerPage() {
    PageSpec p{Page::Power, "sbox_power", "GroupBox1", "Label21", "Label1", "Label2",
               {Column("Label20", "C0012", "低功率", K::ByteEdit, PC::Low),
                Column("Label23", "C0013", "高功率", K::ByteEdit, PC::High)},
               kNoScale, {}, "Button1", "C0007", "发射", "Button2", "C0009", true, nullptr,
               Page::Power};
    struct R {
        const char* button;
        const char* key;
        const char* rx;
        const char* tx;
        const char* lowEdit;
        const char* lowUpDown;
        const char* highEdit;
        const char* highUpDown;
    };
    static constexpr R kRows[] = {
        {"RadioButton1", "C0002", "Label3", "Label4", "Edit7", "UpDown7", "Edit1", "UpDown1"},
        {"RadioButton2", "C0003", "Label5", "Label6", "Edit8", "UpDown8", "Edit2", "UpDown2"},
        {"RadioButton3", "C0004", "Label7", "Label8", "Edit9", "UpDown9", "Edit3", "UpDown3"},
        {"RadioButton4", "C0005", "Label9", "Label10", "Edit10", "UpDown10", "Edit4", "UpDown4"},
        {"RadioButton5", "C0006", "Label11", "Label12", "Edit11", "UpDown11", "Edit5", "UpDown5"},
        {"RadioButton06", "C00061", "Label013", "Label014", "Edit012", "UpDown012", "Edit06", "UpDown06"},
        {"RadioButton07", "C00062", "Label015", "Label016", "Edit013", "UpDown013", "Edit07", "UpDown07"},
        {"RadioButton08", "C00063", "Label017", "Label018", "Edit014", "UpDown014", "Edit08", "UpDown08"},
    };
    int point = 1;
    for (const R& r : kRows) {
        p.rows.push_back(RowSpec{point, r.button, r.key, r.rx, r.tx,
                                 {E(r.lowEdit, r.lowUpDown), E(r.highEdit, r.highUpDown)}, point > 5});
        ++point;
    }
    return p;
}

// Page 2: per-point CTCSS-type items with bar and fine value.
PageSpec CtcssPage() {
    PageSpec p{Page::Ctcss, "sbox_ctcss", nullptr, "Label49", "Label47", "Label48",
               {Column("Label50", "C0018", "调测值", K::ValueLabel), BarColumn(),
                Column("Label51", "C0019", "细调", K::ByteEdit)},
               {"Label43", "Label80", "Label79"}, {}, "Button9", "C0008", "接收", "Button10",
               "C0009", true, nullptr, Page::Ctcss};
    struct R {
        const char* button;
        const char* rx;
        const char* tx;
        const char* value;
        const char* bar;
        const char* edit;
        const char* upDown;
    };
    static constexpr R kRows[] = {
        {"RadioButton13", "Label52", "Label53", "Label54", "ScrollBar2", "Edit23", "UpDown23"},
        {"RadioButton14", "Label55", "Label56", "Label57", "ScrollBar3", "Edit24", "UpDown24"},
        {"RadioButton15", "Label58", "Label59", "Label60", "ScrollBar4", "Edit25", "UpDown25"},
        {"RadioButton16", "Label61", "Label62", "Label63", "ScrollBar5", "Edit26", "UpDown26"},
        {"RadioButton17", "Label64", "Label65", "Label66", "ScrollBar7", "Edit27", "UpDown27"},
    };
    int point = 1;
    for (const R& r : kRows) {
        p.rows.push_back(RowSpec{point, r.button, kPointKeys[point - 1], r.rx, r.tx,
                                 {L(r.value), L(r.bar), E(r.edit, r.upDown)}, false});
        ++point;
    }
    return p;
}

// Page 3: squelch levels measured by the radio.
PageSpec SqlPage() {
    PageSpec p{Page::Sql, "sbox_sql", "GroupBox13", "Label41", "Label39", "Label40",
               {Column("Label42", "C0018", "调测值", K::ValueLabel)},
               kNoScale, {}, "Button7", "C0008", "接收", "Button8", "C0009", true, nullptr,
               Page::Vox};
    static constexpr const char* kButtons[] = {"RadioButton12", "RadioButton18", "RadioButton19",
                                               "RadioButton20", "RadioButton21"};
    static constexpr const char* kRx[] = {"Label44", "Label67", "Label70", "Label73", "Label76"};
    static constexpr const char* kTx[] = {"Label45", "Label68", "Label71", "Label74", "Label77"};
    static constexpr const char* kValue[] = {"Label46", "Label69", "Label72", "Label75", "Label78"};
    for (int i = 0; i < 5; ++i) {
        p.rows.push_back(
            RowSpec{i + 1, kButtons[i], kPointKeys[i], kRx[i], kTx[i], {L(kValue[i])}, false});
    }
    return p;
}

// Page 4: frequency stability at point 3.
PageSpec FreqStabilityPage() {
    return PageSpec{
        Page::FreqStability, "sbox_ferq_stability", "GroupBox11", "Label24", "Label17", "Label22",
        {Column("Label25", "C0018", "调测值", K::ValueLabel), BarColumn(),
         Column("Label32", "C0019", "细调", K::ByteEdit)},
        {"Label29", "Label30", "Label31"},
        {RowSpec{3, "RadioButton7", "C0004", "Label26", "Label27",
                 {L("Label28"), L("ScrollBar1"), E("Edit6", "UpDown6")}, false}},
        "Button5", "C0007", "发射", "Button6", "C0009", true, nullptr, Page::Vox};
}

// Page 5: the mobile radio's power triple.
PageSpec PowerMobilePage() {
    PageSpec p{Page::PowerMobile, "sbox_power_mobile", "GroupBox9", "Label35", "Label33", "Label34",
               {Column("Label38", "C0012", "低功率", K::ByteEdit, PC::Low),
                Column("Label91", "C0024", "中功率", K::ByteEdit, PC::Middle),
                Column("Label37", "C0013", "高功率", K::ByteEdit, PC::High)},
               kNoScale, {}, "Button11", "C0007", "发射", "Button12", "C0009", true, nullptr,
               Page::Power};
    static constexpr const char* kButtons[] = {"RadioButton8", "RadioButton9", "RadioButton10",
                                               "RadioButton11", "RadioButton22"};
    static constexpr const char* kRx[] = {"Label81", "Label83", "Label85", "Label87", "Label89"};
    static constexpr const char* kTx[] = {"Label82", "Label84", "Label86", "Label88", "Label90"};
    static constexpr int kMiddle[] = {22, 28, 29, 30, 31};
    static const std::vector<std::string> names = [] {
        std::vector<std::string> v;
        for (int i = 0; i < 5; ++i) {
            for (int n : {17 + i, kMiddle[i], 12 + i}) {
                v.push_back("Edit" + std::to_string(n));
                v.push_back("UpDown" + std::to_string(n));
            }
        }
        return v;
    }();
    for (int i = 0; i < 5; ++i) {
        const std::string* n = &names[static_cast<std::size_t>(i) * 6];
        p.rows.push_back(RowSpec{i + 1, kButtons[i], kPointKeys[i], kRx[i], kTx[i],
                                 {E(n[0].c_str(), n[1].c_str()), E(n[2].c_str(), n[3].c_str()),
                                  E(n[4].c_str(), n[5].c_str())},
                                 false});
    }
    return p;
}

// Page 6: bit-error-rate test.
PageSpec ErrorRatePage() {
    PageSpec p{Page::ErrorRate, "sbox_error_rate", "GroupBox7", "Label94", "Label92", "Label93",
               {Column("Label95", "C0025", "总帧数", K::ValueLabel),
                Column("Label111", "C0026", "误码数", K::ValueLabel),
                Column("Label112", "C0027", "平均误码率", K::ValueLabel)},
               kNoScale, {}, "Button13", "C0008", "接收", "Button14", "C0009", true, nullptr,
               Page::Vox};
    static constexpr const char* kButtons[] = {"RadioButton23", "RadioButton24", "RadioButton25",
                                               "RadioButton26", "RadioButton27"};
    static constexpr const char* kRx[] = {"Label96", "Label99", "Label102", "Label105", "Label108"};
    static constexpr const char* kTx[] = {"Label97", "Label100", "Label103", "Label106", "Label109"};
    static constexpr const char* kFrames[] = {"Label98", "Label101", "Label104", "Label107", "Label110"};
    static constexpr const char* kErrors[] = {"Label123", "Label124", "Label125", "Label126", "Label127"};
    static constexpr const char* kRate[] = {"Label133", "Label134", "Label135", "Label136", "Label137"};
    for (int i = 0; i < 5; ++i) {
        p.rows.push_back(RowSpec{i + 1, kButtons[i], kPointKeys[i], kRx[i], kTx[i],
                                 {L(kFrames[i]), L(kErrors[i]), L(kRate[i])}, false});
    }
    return p;
}

// Page 7: man-down sensor.
PageSpec MandownPage() {
    return PageSpec{Page::Mandown, "sbox_mandown", "GroupBox18", nullptr, nullptr, nullptr,
                    {Column("Label115", "C0028", "AD 值", K::ValueLabel)},
                    kNoScale,
                    {RowSpec{1, nullptr, nullptr, nullptr, nullptr, {L("Label113")}, false}},
                    "Button15", "C0029", "开始读取", "Button16", "C0009", true, "Image1",
                    Page::Vox};
}

// Page 8: temperature readings at point 3.
PageSpec TempPage() {
    return PageSpec{Page::Temp, "sbox_temp", "GroupBox21", "Label120", "Label118", "Label119",
                    {Column("Label121", nullptr, "Temp1", K::ValueLabel),
                     Column("Label122", nullptr, "Temp2", K::ValueLabel)},
                    kNoScale,
                    {RowSpec{3, "RadioButton28", "C0004", "Label128", "Label129",
                             {L("Label130"), L("Label132")}, false}},
                    "Button17", nullptr, "发射", "Button18", nullptr, false, nullptr,
                    Page::Vox};
}

// Page 9: FSK blocks, columns A to E.
PageSpec FskPage() {
    PageSpec p{Page::Fsk, "sbox_fsk", "GroupBox25", "Label142", "Label140", "Label141",
               {FskColumn("Label144", "A", 0, "GroupBox27", "C0033"),
                FskColumn("Label143", "B", 1, "GroupBox26", "C0034"),
                FskColumn("Label155", "C", 2, "GroupBox29", "C0035"),
                FskColumn("Label156", "D", 3, "GroupBox30", "C0036"),
                FskColumn("Label157", "E", 4, "GroupBox31", "C0037")},
               kNoScale, {}, "Button19", "C0007", "发射", "Button20", "C0009", true, nullptr,
               Page::Power};
    static constexpr const char* kButtons[] = {"RadioButton33", "RadioButton34", "RadioButton35",
                                               "RadioButton36", "RadioButton37"};
    static constexpr const char* kRx[] = {"Label145", "Label147", "Label149", "Label151", "Label153"};
    static constexpr const char* kTx[] = {"Label146", "Label148", "Label150", "Label152", "Label154"};
    static constexpr int kFirst[] = {47, 42, 52, 57, 62};  // columns A to E, point 1
    static const std::vector<std::string> names = [] {
        std::vector<std::string> v;
        for (int i = 0; i < 5; ++i) {
            for (int first : kFirst) {
                v.push_back("Edit" + std::to_string(first + i));
                v.push_back("UpDown" + std::to_string(first + i));
            }
        }
        return v;
    }();
    for (int i = 0; i < 5; ++i) {
        RowSpec row{i + 1, kButtons[i], kPointKeys[i], kRx[i], kTx[i], {}, false};
        for (int c = 0; c < 5; ++c) {
            const std::size_t at = static_cast<std::size_t>(i * 10 + c * 2);
            row.cells.push_back(E(names[at].c_str(), names[at + 1].c_str()));
        }
        p.rows.push_back(std::move(row));
    }
    return p;
}

// The pages in the order of their numbers.
std::vector<PageSpec> BuildPages() {
    std::vector<PageSpec> pages;
    pages.reserve(kPageCount);
    for (PageSpec (*make)() : {VoxPage, PowerPage, CtcssPage, SqlPage, FreqStabilityPage, PowerMobilePage,
                               ErrorRatePage, MandownPage, TempPage, FskPage}) {
        pages.push_back(make());
    }
    return pages;
}

bool Same(const char* a, std::string_view b) { return a != nullptr && std::string_view(a) == b; }

}  // namespace

const std::vector<PageSpec>& PageSpecs() {
    static const std::vector<PageSpec> pages = BuildPages();
    return pages;
}

const PageSpec& PageSpecOf(Page page) {
    const int n = static_cast<int>(page);
    return PageSpecs().at(static_cast<std::size_t>(n >= 0 && n < kPageCount ? n : 0));
}

Page PageFromNumber(int number) {
    return number >= 0 && number < kPageCount ? static_cast<Page>(number) : Page::None;
}

std::optional<PointButtonPlace> FindPointButton(std::string_view name) {
    for (const PageSpec& page : PageSpecs()) {
        for (std::size_t r = 0; r < page.rows.size(); ++r) {
            if (Same(page.rows[r].button, name)) {
                return PointButtonPlace{page.page, page.rows[r].point, static_cast<int>(r)};
            }
        }
    }
    return std::nullopt;
}

std::optional<CellPlace> FindCell(std::string_view name) {
    for (const PageSpec& page : PageSpecs()) {
        for (std::size_t r = 0; r < page.rows.size(); ++r) {
            const RowSpec& row = page.rows[r];
            for (std::size_t c = 0; c < row.cells.size(); ++c) {
                if (Same(row.cells[c].name, name) || Same(row.cells[c].upDown, name)) {
                    return CellPlace{page.page, row.point, static_cast<int>(r), static_cast<int>(c)};
                }
            }
        }
    }
    return std::nullopt;
}

const RowSpec* FindRow(Page page, int point) {
    if (PageFromNumber(static_cast<int>(page)) == Page::None) return nullptr;
    for (const RowSpec& row : PageSpecOf(page).rows) {
        if (row.point == point) return &row;
    }
    return nullptr;
}

const std::vector<Page>& PagesOfScope(RefreshScope scope) {
    static const std::vector<Page> build = {Page::Vox, Page::Power, Page::Sql,
                                            Page::Ctcss, Page::FreqStability, Page::Temp};
    static const std::vector<Page> selection = {Page::Vox, Page::Power, Page::Sql, Page::Ctcss,
                                                Page::FreqStability, Page::PowerMobile,
                                                Page::ErrorRate, Page::Fsk};
    return scope == RefreshScope::Build ? build : selection;
}

std::vector<KeyedControl> PageLanguageKeys() {
    std::vector<KeyedControl> keys;
    for (const PageSpec& page : PageSpecs()) {
        if (page.pointsHeader != nullptr) keys.push_back({page.pointsHeader, "ChildForm", "C0001"});
        if (page.rxHeader != nullptr) keys.push_back({page.rxHeader, "ChildForm", "C0010"});
        if (page.txHeader != nullptr) keys.push_back({page.txHeader, "ChildForm", "C0011"});
        for (const ColumnSpec& column : page.columns) {
            if (column.header != nullptr && column.key != nullptr) {
                keys.push_back({column.header, "ChildForm", column.key});
            }
        }
        for (const RowSpec& row : page.rows) {
            if (row.button != nullptr && row.key != nullptr) keys.push_back({row.button, "ChildForm", row.key});
        }
        if (page.keyingKey != nullptr) keys.push_back({page.keyingButton, "ChildForm", page.keyingKey});
        if (page.saveKey != nullptr) keys.push_back({page.saveButton, "ChildForm", page.saveKey});
    }
    return keys;
}

}  // namespace varnel::tuning
