#include "report/ReportPdf.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <utility>
#include <vector>

#include "lang/Loadlanguage.h"
#include "util/FileAccess.h"

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
    if (verdict == record_verdict::kNotReached) return T("P0051");
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
    }
    void Color(const Rgb& c) { cairo_set_source_rgb(cr_, c.r, c.g, c.b); }
    double Width(const std::string& s) {
        cairo_text_extents_t e;
        cairo_text_extents(cr_, s.c_str(), &e);
        return e.x_advance;
    }
    // `s` cut at a character boundary with an ellipsis to fit `width`.
    std::string Fit(const std::string& s, double width) {
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
        cairo_show_text(cr_, s.c_str());
    }
    cairo_t* cr_;
    const char* family_;
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
    page.Right(x - 10, y + 15, Fill(T("P0050"), {std::to_string(report.passed - report.marginal),
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
    using Row = std::pair<const char*, std::string>;
    const std::vector<Row> left = {
        {"P0002", report.modelName},  {"P0003", report.serial},       {"P0004", report.firmware},
        {"P0005", report.stationId},  {"P0006", report.operatorName}, {"P0013", retests},
    };
    const std::vector<Row> right = {
        {"P0008", WhenText(report.finishedAt)}, {"P0009", report.instrumentIdn}, {"P0010", report.calibrationDue},
        {"P0007", fixture},                     {"P0012", procedure},            {"P0011", report.softwareVersion},
    };
    constexpr double kRow = 14;
    const auto column = [&](double x, double labelWidth, double valueWidth, const std::vector<Row>& rows) {
        double yy = y;
        for (const auto& [key, value] : rows) {
            yy += kRow;
            page.Font(7.5);
            page.Color(kMuted);
            page.left(x, yy, T(key), labelWidth - 4);
            const bool strong = std::string(key) == "P0003" || std::string(key) == "P0002";
            page.Font(strong ? 10 : 8.5, strong);
            page.Color(kInk);
            page.left(x + labelWidth, yy, OrDash(value), valueWidth);
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
};

std::string LimitsText(const ReportPoint& p) {
    if (p.limitLow && p.limitHigh) return Number(*p.limitLow) + " \u2013 " + Number(*p.limitHigh);
    if (p.limitLow) return "\u2265 " + Number(*p.limitLow);
    if (p.limitHigh) return "\u2264 " + Number(*p.limitHigh);
    return "\u2014";
}

// The points table between `top` and `bottom`, in one column or two.
double DrawTable(Page& page, const RadioReport& report, double top, double bottom) {
    std::vector<TableLine> lines;
    int number = 0;
    for (const ReportStep& step : report.steps) {
        lines.push_back({&step, ++number, nullptr});
        for (const ReportPoint& p : step.points) lines.push_back({&step, number, &p});
    }
    constexpr double kGap = 14;
    constexpr double kMaxRow = 12.5;
    const double available = bottom - top;
    const int columns = (static_cast<double>(lines.size()) + 1) * kMaxRow <= available ? 1 : 2;
    // Lines per column, so that no heading ends a column.
    std::size_t perColumn = (lines.size() + columns - 1) / columns;
    std::vector<std::vector<const TableLine*>> split;
    for (;; ++perColumn) {
        split.assign(columns, {});
        std::size_t c = 0;
        bool fits = true;
        for (const TableLine& line : lines) {
            if (split[c].size() == perColumn || (line.point == nullptr && split[c].size() + 1 == perColumn && columns > 1)) {
                if (++c == split.size()) {
                    fits = false;
                    break;
                }
            }
            split[c].push_back(&line);
        }
        if (fits) break;
    }
    const double row = std::min(kMaxRow, available / static_cast<double>(perColumn + 1));
    const double size = std::min(8.0, row * 0.66);
    const double width = (kPageWidth - 2 * kMargin - kGap * (columns - 1)) / columns;
    std::size_t longest = 0;
    for (const auto& column : split) longest = std::max(longest, column.size());
    double end = top + row * static_cast<double>(longest + 1);
    // Column edges as fractions of the width: point, limits, reading, value, tries, verdict.
    const double edges[] = {0, 0.10, 0.40, 0.56, 0.69, 0.78, 1.0};
    const char* heads[] = {"P0015", "P0016", "P0017", "P0018", "P0019", "P0020"};
    for (int c = 0; c < columns; ++c) {
        const double x = kMargin + c * (width + kGap);
        const auto at = [&](int i) { return x + edges[i] * width; };
        double y = top;
        page.Fill(x, y, width, row, kHeaderFill);
        page.Font(size, true);
        page.Color(kInk);
        for (int i = 0; i < 6; ++i) {
            const std::string head = page.Fit(T(heads[i]), (edges[i + 1] - edges[i]) * width - 6);
            if (i == 0 || i == 5) page.left(at(i) + 3, y + row * 0.72, head);
            else page.Right(at(i + 1) - 4, y + row * 0.72, head);
        }
        y += row;
        for (const TableLine* line : split[c]) {
            const double base = y + row * 0.72;
            if (line->point == nullptr) {
                page.Font(size, true);
                page.Color(kInk);
                std::string head = std::to_string(line->stepNumber) + "  " + line->step->name;
                const std::string unit = line->step->points.empty() ? std::string() : line->step->points.front().unit;
                if (!unit.empty()) head += "  (" + unit + ")";
                page.left(x + 3, base, head, width - 6);
                page.Line(x, y + row, x + width, y + row, kRule, 0.4);
            } else {
                const ReportPoint& p = *line->point;
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
                page.left(at(5) + 3, base, VerdictText(p.verdict), (edges[6] - edges[5]) * width - 6);
            }
            y += row;
        }
    }
    if (report.standingOut > 0) {
        page.Font(7);
        page.Color(kFailInk);
        page.left(kMargin, end + 10, "* " + T("P0037"));
        end += 12;
    }
    return end;
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
    const std::string title = Fill(T("P0026"), {OrDash(report.modelName), std::to_string(history)});
    // The legend on the title's line, right-aligned: band, median, this radio.
    page.Font(7.5);
    const std::string labels[] = {T("P0027"), T("P0028"), T("P0029")};
    constexpr double kMark = 12, kSpace = 4, kBetween = 12;
    double width = 0;
    for (const std::string& l : labels) width += kMark + kSpace + page.Width(l) + kBetween;
    const double legendStart = kPageWidth - kMargin - width + kBetween;
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
    page.left(kMargin, top + 10, title, legendStart - kMargin - 12);

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
        page.Font(7, true);
        page.Color(kInk);
        page.Center((X(first) + X(i - 1)) / 2, plotBottom + 19, std::to_string(stepOf[first] + 1));
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

void DrawFooter(Page& page, const RadioReport& report) {
    const double y = kPageHeight - kMargin + 10;
    page.Line(kMargin, y - 10, kPageWidth - kMargin, y - 10, kRule, 0.5);
    page.Font(6.5);
    page.Color(kMuted);
    page.left(kMargin, y, Fill(T("P0038"), {OrDash(report.runId)}), 300);
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
                                   (T("P0001") + " " + report.serial).c_str());
    cairo_pdf_surface_set_metadata(surface, CAIRO_PDF_METADATA_CREATOR, ("Varnel Tuner " + SoftwareVersion()).c_str());
    cairo_t* cr = cairo_create(surface);
    {
        Page page(cr);
        double y = DrawTitle(page, report);
        y = DrawHeader(page, report, y);
        // The chart follows the table: at least kChart high, taller (up to
        // kTallChart) when the table leaves room.
        constexpr double kChart = 232, kTallChart = 330, kFooter = 16;
        const double pageEnd = kPageHeight - kMargin - kFooter;
        const double tableEnd = DrawTable(page, report, y, pageEnd - kChart - 18);
        const double chartTop = tableEnd + 18;
        DrawChart(page, report, chartTop, std::min(pageEnd, chartTop + kTallChart));
        DrawFooter(page, report);
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
