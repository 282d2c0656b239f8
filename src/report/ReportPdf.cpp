#include "report/ReportPdf.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <utility>
#include <vector>

#include "lang/Loadlanguage.h"
#include "util/FileAccess.h"
#include "util/Utf8.h"

#ifdef VARNEL_HAVE_CAIRO
#include <cairo-pdf.h>
#include <cairo.h>
#endif

namespace varnel {

std::string DefaultReportFileName(const RadioReport& report) {
    std::string serial = report.serial.empty() ? std::string("radio") : report.serial;
    for (char& c : serial) {
        const bool fine = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-' ||
                          c == '_' || c == '.';
        if (!fine) c = '_';
    }
    std::string stamp;
    for (char c : report.finishedAt.substr(0, 19))
        if (c != '-' && c != ':') stamp += c;
    return "report-" + serial + (stamp.empty() ? std::string() : "-" + stamp) + ".pdf";
}

Error WriteReportPdf(const RadioReport& report, const std::filesystem::path& file) {
    Result<std::string> pdf = RenderReportPdf(report);
    if (!pdf) return pdf.error().wrapped("the report of radio %1 was not written", report.serial);
    Error e = WriteFileSafely(file, pdf.value());
    if (!e.ok()) e.wrap("the report of radio %1 was not written", report.serial);
    return e;
}

#ifndef VARNEL_HAVE_CAIRO

bool PdfReportsAvailable() { return false; }

Result<std::string> RenderReportPdf(const RadioReport&) {
    return Error::make(ErrorCode::Other, "PDF reports are not available in this build (it was made without cairo)", {},
                       "Report:P0033");
}

#else

bool PdfReportsAvailable() { return true; }

namespace {

constexpr double kPageWidth = 595.28;  // A4 in points
constexpr double kPageHeight = 841.89;
constexpr double kMargin = 36;

struct Rgb {
    double r, g, b;
};
constexpr Rgb kInk{0.10, 0.10, 0.12};
constexpr Rgb kMuted{0.42, 0.44, 0.48};
constexpr Rgb kRule{0.75, 0.77, 0.80};
constexpr Rgb kHeaderFill{0.91, 0.92, 0.94};
constexpr Rgb kPassInk{0.08, 0.46, 0.20};
constexpr Rgb kMarginalInk{0.70, 0.42, 0.00};
constexpr Rgb kMarginalFill{1.00, 0.93, 0.74};
constexpr Rgb kFailInk{0.78, 0.08, 0.08};
constexpr Rgb kFailFill{1.00, 0.86, 0.86};
constexpr Rgb kStoppedInk{0.38, 0.38, 0.42};
constexpr Rgb kBand{0.78, 0.85, 0.93};
constexpr Rgb kMedian{0.12, 0.30, 0.62};

std::string T(const char* key) { return Text("Report", key); }

// "%1", "%2", ... of `text` replaced by `args` in order.
std::string Fill(std::string text, std::initializer_list<std::string> args) {
    int n = 1;
    for (const std::string& a : args) {
        const std::string mark = "%" + std::to_string(n++);
        if (const auto at = text.find(mark); at != std::string::npos) text.replace(at, mark.size(), a);
    }
    return text;
}

// Valid UTF-8 stays; a byte that is not part of it and every control
// character (C0, DEL, C1) show as \xNN, as on the terminal. What cairo is
// given is always valid UTF-8 without controls, whatever a record holds.
std::string PageText(const std::string& text) { return EscapedText(text); }

std::string OrDash(const std::string& text) { return text.empty() ? std::string("\u2014") : text; }
std::string Number(double v, int decimals = 2) {
    char text[48];
    std::snprintf(text, sizeof text, "%.*f", decimals, v);
    return text;
}
// "2026-12-09T12:45:20.123Z" as "2026-12-09 12:45:20 UTC".
std::string WhenText(const std::string& utc) {
    if (utc.size() < 19) return OrDash(utc);
    return utc.substr(0, 10) + " " + utc.substr(11, 8) + " UTC";
}

std::string VerdictText(const std::string& verdict) {
    if (verdict == record_verdict::kPass) return T("P0021");
    if (verdict == record_verdict::kMarginal) return T("P0022");
    if (verdict == record_verdict::kFail) return T("P0023");
    if (verdict == record_verdict::kStopped) return T("P0024");
    if (verdict == record_verdict::kError) return T("P0025");
    if (verdict == record_verdict::kNotReached) return T("P0061");
    return verdict;
}
Rgb VerdictInk(const std::string& verdict) {
    if (verdict == record_verdict::kPass) return kPassInk;
    if (verdict == record_verdict::kMarginal) return kMarginalInk;
    if (verdict == record_verdict::kStopped || verdict == record_verdict::kNotReached) return kStoppedInk;
    return kFailInk;
}

class Page {
public:
    explicit Page(cairo_t* cr) : cr_(cr) {
        family_ = languageIndex == kLanguageChinese ? "WenQuanYi Micro Hei" : "DejaVu Sans";
    }
    void Font(double size, bool bold = false) {
        cairo_select_font_face(cr_, family_, CAIRO_FONT_SLANT_NORMAL,
                               bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
        cairo_set_font_size(cr_, size);
        size_ = size;
        bold_ = bold;
    }
    // The largest size from `size` down to `smallest` at which `s` fits
    // `width`, measured in the face of the current font; `smallest` when
    // none does.
    double SizeToFit(const std::string& s, double width, double size, double smallest) {
        const double was = size_;
        Font(size, bold_);
        const double natural = Width(s);
        Font(was, bold_);
        if (natural <= width || natural <= 0) return size;
        // Text does not shrink quite in proportion (hinting, rounding): the
        // size found is measured again, a quarter point smaller each time,
        // with a little room so that a later measure agrees.
        const double room = width - 0.05;
        double fitted = std::max(smallest, size * room / natural);
        for (Font(fitted, bold_); fitted > smallest && Width(s) > room; Font(fitted, bold_))
            fitted = std::max(smallest, fitted - 0.25);
        Font(was, bold_);
        return fitted;
    }
    // `s` in the current face at the size at which it fits `width` (not
    // below `smallest`, and then cut with an ellipsis).
    std::string FitFont(const std::string& s, double width, double size, double smallest) {
        Font(SizeToFit(s, width, size, smallest), bold_);
        return Fit(s, width);
    }
    void Color(const Rgb& c) { cairo_set_source_rgb(cr_, c.r, c.g, c.b); }
    double Width(const std::string& text) {
        const std::string s = PageText(text);
        cairo_text_extents_t e;
        cairo_text_extents(cr_, s.c_str(), &e);
        return e.x_advance;
    }
    // `s` cut at a character boundary with an ellipsis to fit `width`.
    std::string Fit(const std::string& text, double width) {
        const std::string s = PageText(text);
        if (Width(s) <= width) return s;
        std::string cut = s;
        while (!cut.empty()) {
            do cut.pop_back();
            while (!cut.empty() && (static_cast<unsigned char>(cut.back()) & 0xC0) == 0x80);
            if (!cut.empty()) cut.pop_back();  // the lead byte (or a whole ASCII character)
            if (Width(cut + "\u2026") <= width) return cut + "\u2026";
        }
        return "\u2026";
    }
    void left(double x, double y, const std::string& s, double width = 0) { Put(x, y, width > 0 ? Fit(s, width) : s); }
    void Right(double x, double y, const std::string& s) { Put(x - Width(s), y, s); }
    void Center(double x, double y, const std::string& s) { Put(x - Width(s) / 2, y, s); }
    void Line(double x0, double y0, double x1, double y1, const Rgb& c, double width) {
        Color(c);
        cairo_set_line_width(cr_, width);
        cairo_move_to(cr_, x0, y0);
        cairo_line_to(cr_, x1, y1);
        cairo_stroke(cr_);
    }
    void Fill(double x, double y, double w, double h, const Rgb& c) {
        Color(c);
        cairo_rectangle(cr_, x, y, w, h);
        cairo_fill(cr_);
    }
    cairo_t* cr() { return cr_; }

private:
    void Put(double x, double y, const std::string& s) {
        cairo_move_to(cr_, x, y);
        cairo_show_text(cr_, PageText(s).c_str());
    }
    cairo_t* cr_;
    const char* family_;
    double size_ = 10;
    bool bold_ = false;
};

// Title and the overall verdict; gives the y below.
double DrawTitle(Page& page, const RadioReport& report) {
    double y = kMargin;
    page.Font(18, true);
    page.Color(kInk);
    page.left(kMargin, y + 17, T("P0001"));
    const std::string verdict = VerdictText(report.verdict);
    page.Font(13, true);
    const double w = page.Width(verdict) + 24;
    const double x = kPageWidth - kMargin - w;
    page.Fill(x, y, w, 24, VerdictInk(report.verdict));
    page.Color({1, 1, 1});
    page.left(x + 12, y + 17, verdict);
    page.Font(8.5);
    page.Color(kMuted);
    page.Right(x - 10, y + 15, Fill(T("P0060"), {std::to_string(report.passed - report.marginal),
                                                 std::to_string(report.marginal), std::to_string(report.failed),
                                                 std::to_string(report.stopped), std::to_string(report.notReached),
                                                 std::to_string(report.points)}));
    y += 32;
    page.Line(kMargin, y, kPageWidth - kMargin, y, kInk, 1);
    return y + 6;
}

double DrawHeader(Page& page, const RadioReport& report, double y) {
    std::string fixture = report.fixtureId;
    if (!report.pathLoss.empty()) fixture = OrDash(fixture) + "  (" + T("P0039") + " " + report.pathLoss + ")";
    std::string procedure = report.procedureName;
    if (!report.procedureSha256.empty())
        procedure = OrDash(procedure) + "  SHA-256 " + report.procedureSha256.substr(0, 16) + "\u2026";
    const std::string retests = report.retestCount < 0 ? std::string() : std::to_string(report.retestCount);
    // An overdue instrument is said beside its date, on red.
    const std::string due =
        report.calibrationOverdue ? OrDash(report.calibrationDue) + "  " + T("P0050") : report.calibrationDue;
    using Row = std::pair<const char*, std::string>;
    const std::vector<Row> left = {
        {"P0002", report.modelName},  {"P0003", report.serial},       {"P0004", report.firmware},
        {"P0005", report.stationId},  {"P0006", report.operatorName}, {"P0013", retests},
    };
    const std::vector<Row> right = {
        {"P0008", WhenText(report.finishedAt)}, {"P0009", report.instrumentIdn}, {"P0010", due},
        {"P0007", fixture},                     {"P0012", procedure},            {"P0011", report.softwareVersion},
    };
    constexpr double kRow = 14;
    const auto column = [&](double x, double labelWidth, double valueWidth, const std::vector<Row>& rows) {
        double yy = y;
        for (const auto& [key, value] : rows) {
            yy += kRow;
            page.Font(7.5);
            page.Color(kMuted);
            page.left(x, yy, page.FitFont(T(key), labelWidth - 4, 7.5, 5.5));
            const bool overdue = std::string(key) == "P0010" && report.calibrationOverdue;
            const bool strong = std::string(key) == "P0003" || std::string(key) == "P0002" || overdue;
            page.Font(strong ? 10 : 8.5, strong);
            page.Color(overdue ? kFailInk : kInk);
            page.left(x + labelWidth, yy, page.FitFont(OrDash(value), valueWidth, strong ? 10 : 8.5, 6));
        }
        return yy;
    };
    const double middle = kMargin + 220;
    const double bottom = std::max(column(kMargin, 70, 140, left), column(middle, 80, kPageWidth - kMargin - middle - 80, right));
    page.Line(kMargin, bottom + 7, kPageWidth - kMargin, bottom + 7, kRule, 0.6);
    return bottom + 14;
}

// One line of the points table: a step's heading or one of its points.
struct TableLine {
    const ReportStep* step = nullptr;
    int stepNumber = 0;
    const ReportPoint* point = nullptr;  // null: the heading
    bool continued = false;              // a heading repeated where its step goes on
};
using TableColumns = std::vector<std::vector<TableLine>>;

std::string LimitsText(const ReportPoint& p) {
    if (p.limitLow && p.limitHigh) return Number(*p.limitLow) + " \u2013 " + Number(*p.limitHigh);
    if (p.limitLow) return "\u2265 " + Number(*p.limitLow);
    if (p.limitHigh) return "\u2264 " + Number(*p.limitHigh);
    return "\u2014";
}

constexpr double kRow = 12.5;       // one line of the table
constexpr double kTableText = 8.0;  // its text size
constexpr double kColumnGap = 14;

std::vector<TableLine> TableLines(const RadioReport& report) {
    std::vector<TableLine> lines;
    int number = 0;
    for (const ReportStep& step : report.steps) {
        lines.push_back({&step, ++number, nullptr, false});
        for (const ReportPoint& p : step.points) lines.push_back({&step, number, &p, false});
    }
    return lines;
}

// Lines from `from` on into `columns` columns of at most `perColumn` lines:
// a heading never ends a column, and a column that starts within a step
// repeats the step's heading. `from` moves past the lines placed.
TableColumns FillColumns(const std::vector<TableLine>& lines, std::size_t& from, int columns, std::size_t perColumn) {
    TableColumns out;
    for (int c = 0; c < columns && from < lines.size(); ++c) {
        std::vector<TableLine> column;
        while (from < lines.size() && column.size() < perColumn) {
            const TableLine& line = lines[from];
            if (line.point == nullptr && column.size() + 1 == perColumn && !column.empty()) break;
            if (column.empty() && line.point != nullptr) column.push_back({line.step, line.stepNumber, nullptr, true});
            column.push_back(line);
            ++from;
        }
        out.push_back(std::move(column));
    }
    return out;
}

struct TablePage {
    TableColumns columns;
    int columnCount = 2;
};

// The table's pages: the first under the header, in one column when the
// whole table fits there, else two; then as many pages of two columns as the
// rest needs. The columns of the last page share its lines evenly.
std::vector<TablePage> PaginateTable(const std::vector<TableLine>& lines, double firstHeight, double nextHeight) {
    const auto capacity = [](double height) {
        const double rows = std::floor(height / kRow) - 1;  // the column heads take one
        return rows < 2 ? std::size_t{0} : static_cast<std::size_t>(rows);
    };
    std::vector<TablePage> pages;
    std::size_t from = 0;
    const std::size_t first = capacity(firstHeight);
    const std::size_t next = std::max<std::size_t>(capacity(nextHeight), 2);
    if (lines.size() <= first) {
        pages.push_back({FillColumns(lines, from, 1, first), 1});
        return pages;
    }
    for (bool firstPage = true; from < lines.size() || pages.empty(); firstPage = false) {
        const std::size_t perColumn = firstPage ? first : next;
        if (perColumn == 0) {
            pages.emplace_back();  // no room under the header: the table starts on the next page
            continue;
        }
        // The smallest even share that takes every line left, when one does.
        std::size_t share = perColumn;
        const std::size_t left = lines.size() - from;
        for (std::size_t tryShare = (left + 1) / 2; left <= 2 * perColumn && tryShare < perColumn; ++tryShare) {
            std::size_t probe = from;
            FillColumns(lines, probe, 2, std::max<std::size_t>(tryShare, 2));
            if (probe == lines.size()) {
                share = std::max<std::size_t>(tryShare, 2);
                break;
            }
        }
        pages.push_back({FillColumns(lines, from, 2, share), 2});
    }
    return pages;
}

// The columns of one page from `top` on; gives the y below the longest.
double DrawTable(Page& page, const TableColumns& columns, int columnCount, double top) {
    const double row = kRow, size = kTableText;
    const double width = (kPageWidth - 2 * kMargin - kColumnGap * (columnCount - 1)) / columnCount;
    std::size_t longest = 0;
    for (const auto& column : columns) longest = std::max(longest, column.size());
    // Column edges as fractions of the width: point, limits, reading, value, tries, verdict.
    const double edges[] = {0, 0.10, 0.40, 0.56, 0.69, 0.78, 1.0};
    const char* heads[] = {"P0015", "P0016", "P0017", "P0018", "P0019", "P0020"};
    for (std::size_t c = 0; c < columns.size(); ++c) {
        const double x = kMargin + static_cast<double>(c) * (width + kColumnGap);
        const auto at = [&](int i) { return x + edges[i] * width; };
        double y = top;
        page.Fill(x, y, width, row, kHeaderFill);
        page.Color(kInk);
        // One size for all heads: the largest at which each fits its column.
        double headSize = size;
        for (int i = 0; i < 6; ++i)
            headSize = std::min(headSize, page.SizeToFit(T(heads[i]), (edges[i + 1] - edges[i]) * width - 6, size, 4.5));
        page.Font(headSize, true);
        for (int i = 0; i < 6; ++i) {
            // A head wider than its column is set smaller first, cut only below 5 pt.
            const double room = (edges[i + 1] - edges[i]) * width - 6;
            page.Font(size, true);
            const double wide = page.Width(T(heads[i]));
            if (wide > room) page.Font(std::max(5.0, size * room / wide), true);
            const std::string head = page.Fit(T(heads[i]), room);
            if (i == 0 || i == 5) page.left(at(i) + 3, y + row * 0.72, head);
            else page.Right(at(i + 1) - 4, y + row * 0.72, head);
        }
        y += row;
        for (const TableLine& line : columns[c]) {
            const double base = y + row * 0.72;
            if (line.point == nullptr) {
                page.Font(size, true);
                page.Color(line.continued ? kMuted : kInk);
                std::string head = std::to_string(line.stepNumber) + "  " + line.step->name;
                const std::string unit = line.step->points.empty() ? std::string() : line.step->points.front().unit;
                if (!unit.empty()) head += "  (" + unit + ")";
                if (line.continued) head += "  " + T("P0042");
                page.left(x + 3, base, page.FitFont(head, width - 6, size, 4.5));
                page.Line(x, y + row, x + width, y + row, kRule, 0.4);
            } else {
                const ReportPoint& p = *line.point;
                const bool failed = p.verdict == record_verdict::kFail || p.verdict == record_verdict::kError;
                if (failed) page.Fill(x, y, width, row, kFailFill);
                else if (p.verdict == record_verdict::kMarginal) page.Fill(x, y, width, row, kMarginalFill);
                page.Font(size);
                page.Color(kInk);
                page.left(at(0) + 3, base, std::to_string(p.point));
                page.Right(at(2) - 4, base, LimitsText(p));
                page.Right(at(3) - 4, base, p.reading ? Number(*p.reading) : std::string("\u2014"));
                page.Right(at(4) - 4, base, (p.standsOut ? "* " : "") + (p.finalValue < 0 ? std::string("\u2014") : std::to_string(p.finalValue)));
                page.Right(at(5) - 4, base, p.tries < 0 ? std::string("\u2014") : std::to_string(p.tries));
                page.Font(size, p.verdict != record_verdict::kPass);
                page.Color(VerdictInk(p.verdict));
                page.left(at(5) + 3, base, page.FitFont(VerdictText(p.verdict), (edges[6] - edges[5]) * width - 6, size, 4.5));
            }
            y += row;
        }
    }
    return top + row * static_cast<double>(longest + 1);
}

// The note under the first page's table for the values marked "*".
double DrawStandsOutNote(Page& page, const RadioReport& report, double end) {
    if (report.standingOut == 0) return end;
    page.Font(7);
    page.Color(kFailInk);
    page.left(kMargin, end + 10, "* " + T("P0037"));
    return end + 12;
}

// A tick spacing of 1, 2 or 5 times a power of ten, about `span` / 5.
double NiceStep(double span) {
    const double raw = std::max(span / 5, 1e-9);
    const double power = std::pow(10, std::floor(std::log10(raw)));
    for (double f : {1.0, 2.0, 5.0, 10.0})
        if (raw <= f * power) return f * power;
    return 10 * power;
}

void DrawChart(Page& page, const RadioReport& report, double top, double bottom) {
    std::vector<const ReportPoint*> points;
    std::vector<int> stepOf;
    int history = 0;
    for (std::size_t s = 0; s < report.steps.size(); ++s) {
        for (const ReportPoint& p : report.steps[s].points) {
            points.push_back(&p);
            stepOf.push_back(static_cast<int>(s));
            history = std::max(history, p.history.radios);
        }
    }
    page.Font(9, true);
    page.Color(kInk);
    const std::string title =
        Fill(T(history == 1 ? "P0043" : "P0026"), {OrDash(report.modelName), std::to_string(history)});
    // The legend on the title's line, right-aligned: band, median, this radio.
    // It keeps at least the title's first half of the line; where it would
    // need more, its text gets smaller.
    const std::string labels[] = {T("P0027"), T("P0028"), T("P0029")};
    constexpr double kMark = 12, kSpace = 4, kBetween = 12;
    const double lineWidth = kPageWidth - 2 * kMargin;
    double legendSize = 7.5;
    double width = 0;
    for (;;) {
        page.Font(legendSize);
        width = 0;
        for (const std::string& l : labels) width += kMark + kSpace + page.Width(l) + kBetween;
        width -= kBetween;
        if (width <= lineWidth / 2 || legendSize <= 5) break;
        legendSize -= 0.5;
    }
    const double legendStart = kPageWidth - kMargin - width;
    double x = legendStart;
    const double mid = top + 7;
    for (int i = 0; i < 3; ++i) {
        if (i == 0) page.Fill(x + 2, mid - 4.5, kMark - 4, 9, kBand);
        if (i == 1) page.Line(x, mid, x + kMark, mid, kMedian, 1.6);
        if (i == 2) {
            page.Color(kInk);
            cairo_new_path(page.cr());
            cairo_arc(page.cr(), x + kMark / 2, mid, 2.6, 0, 2 * std::numbers::pi);
            cairo_fill(page.cr());
        }
        page.Color(kMuted);
        page.left(x + kMark + kSpace, top + 10, labels[i]);
        x += kMark + kSpace + page.Width(labels[i]) + kBetween;
    }

    page.Font(9, true);
    page.Color(kInk);
    page.left(kMargin, top + 10, page.FitFont(title, legendStart - kMargin - 12, 9, 6));

    const double left = kMargin + 30, right = kPageWidth - kMargin;
    const double plotTop = top + 20, plotBottom = bottom - 24;
    if (points.empty()) return;
    double low = 1e300, high = -1e300;
    for (const ReportPoint* p : points) {
        if (p->finalValue >= 0) low = std::min(low, double(p->finalValue)), high = std::max(high, double(p->finalValue));
        if (p->history.radios > 0) low = std::min(low, double(p->history.min)), high = std::max(high, double(p->history.max));
    }
    if (low > high) low = 0, high = 255;
    const double pad = std::max(2.0, (high - low) * 0.08);
    const double step = NiceStep(high - low + 2 * pad);
    low = std::floor((low - pad) / step) * step;
    high = std::ceil((high + pad) / step) * step;
    const auto Y = [&](double v) { return plotBottom - (v - low) / (high - low) * (plotBottom - plotTop); };
    const double slot = (right - left) / points.size();
    const auto X = [&](std::size_t i) { return left + (i + 0.5) * slot; };

    // Grid and value axis.
    page.Font(6.5);
    for (double v = low; v <= high + step / 2; v += step) {
        page.Line(left, Y(v), right, Y(v), v == low ? kMuted : kHeaderFill, v == low ? 0.6 : 0.5);
        page.Color(kMuted);
        page.Right(left - 4, Y(v) + 2.3, Number(v, step < 1 ? 1 : 0));
    }
    page.Line(left, plotTop, left, plotBottom, kMuted, 0.6);
    // Step boundaries and numbers, point numbers under the slots.
    std::size_t first = 0;
    for (std::size_t i = 0; i <= points.size(); ++i) {
        if (i < points.size() && stepOf[i] == stepOf[first]) continue;
        if (i < points.size()) {
            const double bx = left + i * slot;
            cairo_set_dash(page.cr(), std::initializer_list<double>{2, 2}.begin(), 2, 0);
            page.Line(bx, plotTop, bx, plotBottom + 16, kRule, 0.5);
            cairo_set_dash(page.cr(), nullptr, 0, 0);
        }
        // A step too narrow for its number (hundreds of steps) goes without.
        page.Font(7, true);
        page.Color(kInk);
        const std::string number = std::to_string(stepOf[first] + 1);
        if (static_cast<double>(i - first) * slot >= page.Width(number) + 2)
            page.Center((X(first) + X(i - 1)) / 2, plotBottom + 19, number);
        first = i;
    }
    if (slot >= 7) {
        page.Font(std::min(6.0, slot * 0.55));
        page.Color(kMuted);
        for (std::size_t i = 0; i < points.size(); ++i) page.Center(X(i), plotBottom + 8, std::to_string(points[i]->point));
    }
    // The history: its band and median.
    for (std::size_t i = 0; i < points.size(); ++i) {
        const HistorySpread& h = points[i]->history;
        if (h.radios == 0) continue;
        const double w = std::max(2.0, slot * 0.56);
        page.Fill(X(i) - w / 2, Y(h.max) - 1, w, Y(h.min) - Y(h.max) + 2, kBand);
        page.Line(X(i) - slot * 0.38, Y(h.median), X(i) + slot * 0.38, Y(h.median), kMedian, 1.4);
    }
    // This radio: its curve within each step, a dot per point.
    for (std::size_t i = 1; i < points.size(); ++i) {
        if (stepOf[i] != stepOf[i - 1] || points[i]->finalValue < 0 || points[i - 1]->finalValue < 0) continue;
        page.Line(X(i - 1), Y(points[i - 1]->finalValue), X(i), Y(points[i]->finalValue), kInk, 0.7);
    }
    const double r = std::clamp(slot * 0.22, 1.2, 2.8);
    for (std::size_t i = 0; i < points.size(); ++i) {
        if (points[i]->finalValue < 0) continue;
        const std::string& v = points[i]->verdict;
        page.Color(v == record_verdict::kPass ? kInk : VerdictInk(v));
        cairo_new_path(page.cr());
        cairo_arc(page.cr(), X(i), Y(points[i]->finalValue), points[i]->standsOut || v != record_verdict::kPass ? r * 1.4 : r,
                  0, 2 * std::numbers::pi);
        cairo_fill(page.cr());
    }
}

// The title of a page after the first: the report, the radio and its
// verdict, so that every page says whose it is; gives the y below.
double DrawContinuedTitle(Page& page, const RadioReport& report) {
    double y = kMargin;
    page.Font(12, true);
    page.Color(kInk);
    const std::string verdict = VerdictText(report.verdict);
    page.Font(10, true);
    const double w = page.Width(verdict) + 18;
    const double x = kPageWidth - kMargin - w;
    page.Fill(x, y, w, 18, VerdictInk(report.verdict));
    page.Color({1, 1, 1});
    page.left(x + 9, y + 13, verdict);
    page.Font(12, true);
    page.Color(kInk);
    page.left(kMargin, y + 13, T("P0001"), x - kMargin - 150);
    page.Font(9);
    const std::string radio = OrDash(report.modelName) + "  " + OrDash(report.serial);
    page.Right(x - 10, y + 13, page.Fit(radio, 140));
    y += 24;
    page.Line(kMargin, y, kPageWidth - kMargin, y, kInk, 1);
    return y + 8;
}

void DrawFooter(Page& page, const RadioReport& report, int number, int pages) {
    const double y = kPageHeight - kMargin + 10;
    page.Line(kMargin, y - 10, kPageWidth - kMargin, y - 10, kRule, 0.5);
    page.Font(6.5);
    page.Color(kMuted);
    page.left(kMargin, y, page.FitFont(Fill(T("P0038"), {OrDash(report.runId)}), 200, 6.5, 5));
    page.Center(kPageWidth / 2 - 10, y, Fill(T("P0041"), {std::to_string(number), std::to_string(pages)}));
    page.Right(kPageWidth - kMargin, y, Fill(T("P0040"), {WhenText(report.startedAt), WhenText(report.finishedAt)}));
}

cairo_status_t Append(void* closure, const unsigned char* data, unsigned int length) {
    static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
    return CAIRO_STATUS_SUCCESS;
}

}  // namespace

Result<std::string> RenderReportPdf(const RadioReport& report) {
    std::string bytes;
    cairo_surface_t* surface = cairo_pdf_surface_create_for_stream(Append, &bytes, kPageWidth, kPageHeight);
    cairo_pdf_surface_set_metadata(surface, CAIRO_PDF_METADATA_TITLE,
                                   PageText(T("P0001") + " " + report.serial).c_str());
    cairo_pdf_surface_set_metadata(surface, CAIRO_PDF_METADATA_CREATOR, ("Varnel Tuner " + SoftwareVersion()).c_str());
    cairo_t* cr = cairo_create(surface);
    {
        Page page(cr);
        // The chart follows the table on the first page: at least kChart
        // high, taller (up to kTallChart) when the table leaves room. A table
        // longer than the first page has room for goes on over more pages.
        constexpr double kChart = 232, kTallChart = 330, kFooter = 16;
        const double pageEnd = kPageHeight - kMargin - kFooter;
        double y = DrawTitle(page, report);
        y = DrawHeader(page, report, y);
        const std::vector<TableLine> lines = TableLines(report);
        const double note = report.standingOut > 0 ? 12 : 0;
        const double nextTop = kMargin + 32;  // below DrawContinuedTitle
        const std::vector<TablePage> pages = PaginateTable(lines, pageEnd - kChart - 18 - note - y, pageEnd - nextTop);
        const int count = static_cast<int>(pages.size());
        double tableEnd = y;
        if (!pages.front().columns.empty()) tableEnd = DrawTable(page, pages.front().columns, pages.front().columnCount, y);
        tableEnd = DrawStandsOutNote(page, report, tableEnd);
        const double chartTop = tableEnd + 18;
        DrawChart(page, report, chartTop, std::min(pageEnd, chartTop + kTallChart));
        DrawFooter(page, report, 1, count);
        for (int n = 1; n < count; ++n) {
            cairo_show_page(cr);
            const double top = DrawContinuedTitle(page, report);
            DrawTable(page, pages[static_cast<std::size_t>(n)].columns, pages[static_cast<std::size_t>(n)].columnCount, top);
            DrawFooter(page, report, n + 1, count);
        }
    }
    cairo_show_page(cr);
    const cairo_status_t drawn = cairo_status(cr);
    cairo_destroy(cr);
    cairo_surface_finish(surface);
    const cairo_status_t finished = cairo_surface_status(surface);
    cairo_surface_destroy(surface);
    const cairo_status_t status = drawn != CAIRO_STATUS_SUCCESS ? drawn : finished;
    if (status != CAIRO_STATUS_SUCCESS)
        return Error::make(ErrorCode::Other, std::string("the PDF page could not be drawn: ") + cairo_status_to_string(status));
    return bytes;
}

#endif

}  // namespace varnel
