// The PDF report of a radio whatever its records hold: fields that are not
// UTF-8 or carry control characters are shown escaped (\xNN), never refused
// and never drawn raw, and a run of thousands of points goes on over as many
// A4 pages as it needs, each with the table's heads, the radio and its page
// number. Read back with poppler's pdfinfo and pdftotext.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "lang/Loadlanguage.h"
#include "report/RadioReport.h"
#include "report/ReportPdf.h"
#include "core/support/TempFiles.h"

#ifndef _WIN32

using namespace varnel;
using varnel::test::TempDir;

namespace {

bool HaveTool(const char* name) {
    return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

std::string Output(const std::string& command) {
    std::string out;
    if (std::FILE* p = popen(command.c_str(), "r")) {
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
        pclose(p);
    }
    return out;
}

int PagesOf(const std::string& file) {
    const std::string info = Output("pdfinfo '" + file + "'");
    const std::size_t at = info.find("Pages:");
    return at == std::string::npos ? -1 : std::atoi(info.c_str() + at + 6);
}

std::string PageTextOf(const std::string& file, int page) {
    const std::string n = std::to_string(page);
    return Output("pdftotext -layout -f " + n + " -l " + n + " '" + file + "' -");
}

// A run of `steps` steps of `perStep` points each; point k of the run reads
// 10000 + k, so that every point can be found once in the text.
RadioReport MadeRun(int steps, int perStep) {
    RadioReport r;
    r.runId = "run-pages";
    r.modelName = "VX-300";
    r.serial = "SN-PAGES";
    r.firmware = "2.3";
    r.stationId = "ST-9";
    r.verdict = "pass";
    r.startedAt = "2026-01-05T10:00:00.000Z";
    r.finishedAt = "2026-01-05T12:00:00.000Z";
    int k = 0;
    for (int s = 0; s < steps; ++s) {
        ReportStep step;
        step.name = "Step " + std::to_string(s + 1);
        step.item = 19;
        for (int p = 0; p < perStep; ++p, ++k) {
            ReportPoint point;
            point.item = 19;
            point.point = p + 1;
            point.unit = "dBm";
            point.limitLow = 36.8;
            point.limitHigh = 37.2;
            point.reading = 10000 + k;
            point.finalValue = 100 + p % 50;
            point.tries = 2;
            point.verdict = "pass";
            step.points.push_back(point);
        }
        r.steps.push_back(step);
    }
    r.points = r.passed = k;
    return r;
}

class ReportPages : public ::testing::Test {
protected:
    void SetUp() override {
        if (!PdfReportsAvailable()) GTEST_SKIP() << "this build has no PDF reports (cairo was not found)";
        if (!HaveTool("pdfinfo") || !HaveTool("pdftotext")) GTEST_SKIP() << "poppler-utils (pdfinfo, pdftotext) missing";
        SetProgramDirectory(VARNEL_LANG_DIR);
    }
    void TearDown() override { ResetLanguageState(); }

    std::string Write(const RadioReport& report, const std::string& name) {
        const std::string file = (dir_ / name).string();
        const Error e = WriteReportPdf(report, file);
        EXPECT_TRUE(e.ok()) << e.text();
        if (const char* keep = std::getenv("VARNEL_REPORT_KEEP")) (void)WriteReportPdf(report, std::string(keep) + "-" + name);
        return file;
    }

    TempDir dir_;
};

}  // namespace

// A serial, fixture and station id that are not UTF-8, with terminal
// escapes: before, cairo refused the text ("input string not valid UTF-8")
// and no PDF was written. Now each such byte reads \xNN on the page.
TEST_F(ReportPages, TextThatIsNotUtf8OrCarriesControlsIsShownEscaped) {
    OpenLanguage(kLanguageEnglish);
    RadioReport r = MadeRun(2, 5);
    r.serial = "SN\xff\x1b[31m-7";
    r.fixtureId = "FX\xfe\x01";
    r.stationId = "ST\x7f\xc3";
    r.operatorName = "ana\r\nbob";
    r.steps[0].name = "Power \xe9t\xe9";  // Latin-1, not UTF-8
    r.steps[1].name = "Gr\u00fc\u00dfe";   // UTF-8 stays as it is
    const std::string file = Write(r, "escaped.pdf");
    ASSERT_EQ(PagesOf(file), 1);
    const std::string text = PageTextOf(file, 1);
    for (const char* shown : {"SN\\xFF\\x1B[31m-7", "FX\\xFE\\x01", "ST\\x7F\\xC3", "ana\\x0D\\x0Abob",
                              "Power \\xE9t\\xE9", "Gr\u00fc\u00dfe"})
        EXPECT_NE(text.find(shown), std::string::npos) << shown << "\n" << text;
    EXPECT_EQ(text.find('\x1b'), std::string::npos) << "no raw escape reaches the page";
    // The default file name keeps to safe characters too.
    EXPECT_EQ(DefaultReportFileName(r).find_first_not_of(
                  "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-_."),
              std::string::npos)
        << DefaultReportFileName(r);
}

// 10,000 points: before, one page with rows too small to read. Now the table
// goes on over A4 pages of readable rows (at most two columns of lines a
// row apart, 12.5 pt), every point once, the heads and the radio on every
// page, "Page N of M" at the foot, in both languages.
TEST_F(ReportPages, TenThousandPointsFlowOntoNumberedPages) {
    const int steps = 200, perStep = 50;
    const RadioReport r = MadeRun(steps, perStep);
    struct Language {
        int index;
        const char* file;
        const char* heads;  // the reading column's head
        std::string (*pageNumber)(int, int);
    };
    const Language languages[] = {
        {kLanguageEnglish, "english.pdf", "Reading",
         [](int n, int m) { return "Page " + std::to_string(n) + " of " + std::to_string(m); }},
        {kLanguageChinese, "chinese.pdf", "\u8bfb\u6570",  // 读数
         [](int n, int m) {
             return "\u7b2c " + std::to_string(n) + " \u9875\uff0c\u5171 " + std::to_string(m) + " \u9875";
         }},
    };
    // Lines of the table: a heading per step and a line per point.
    const int lines = steps * (perStep + 1);
    // An A4 page (841.89 pt) less two 36 pt margins holds at most 61 lines a
    // column at 12.5 pt; two columns.
    const int most = static_cast<int>(std::floor((841.89 - 72) / 12.5)) * 2;
    for (const Language& l : languages) {
        SCOPED_TRACE(l.file);
        OpenLanguage(l.index);
        const std::string file = Write(r, l.file);
        EXPECT_NE(Output("pdfinfo '" + file + "'").find("(A4)"), std::string::npos);
        const int pages = PagesOf(file);
        EXPECT_GE(pages, (lines + most - 1) / most);
        EXPECT_LE(pages, lines / 80 + 2) << "pages hold at least 80 lines each";
        // pdftotext ends every page with a form feed.
        const std::string all = Output("pdftotext -layout '" + file + "' -");
        std::vector<std::string> texts;
        for (std::size_t from = 0, ff; (ff = all.find('\f', from)) != std::string::npos; from = ff + 1)
            texts.push_back(all.substr(from, ff - from));
        ASSERT_EQ(static_cast<int>(texts.size()), pages);
        for (int n = 1; n <= pages; ++n) {
            const std::string& text = texts[static_cast<std::size_t>(n - 1)];
            EXPECT_NE(text.find(l.heads), std::string::npos) << "page " << n;
            EXPECT_NE(text.find("SN-PAGES"), std::string::npos) << "page " << n;
            EXPECT_NE(text.find(l.pageNumber(n, pages)), std::string::npos) << "page " << n << "\n" << text;
        }
        // Every point once, none lost between pages, none twice: the
        // readings "1kkkk.00" as they stand in the text.
        std::vector<int> seen(static_cast<std::size_t>(steps * perStep), 0);
        for (std::size_t at = all.find(".00"); at != std::string::npos; at = all.find(".00", at + 3)) {
            if (at < 5) continue;
            const std::string digits = all.substr(at - 5, 5);
            if (digits.find_first_not_of("0123456789") != std::string::npos) continue;
            const int k = std::stoi(digits) - 10000;
            if (k >= 0 && k < steps * perStep) ++seen[static_cast<std::size_t>(k)];
        }
        int missing = 0, doubled = 0;
        for (int n : seen) {
            missing += n == 0;
            doubled += n > 1;
        }
        EXPECT_EQ(missing, 0);
        EXPECT_EQ(doubled, 0);
    }
}

// A run that fits stays one page, with its table in one column when short.
TEST_F(ReportPages, ARunThatFitsIsOnePage) {
    OpenLanguage(kLanguageEnglish);
    for (const auto& [steps, perStep] : {std::pair{1, 5}, std::pair{9, 5}}) {
        const std::string file = Write(MadeRun(steps, perStep), "fits.pdf");
        EXPECT_EQ(PagesOf(file), 1) << steps << " steps";
        EXPECT_NE(PageTextOf(file, 1).find("Page 1 of 1"), std::string::npos);
    }
}

#endif
