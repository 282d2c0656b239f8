// The report of one radio as an A4 PDF: a title with the overall verdict,
// the header (radio, station, instrument, software, procedure), a table of
// every step's points (limits, reading, final value, tries, verdict;
// marginal and failed points highlighted) and a chart of the final values
// per point against the model's history (its min-max band and median). A
// table longer than the first page holds goes on over more pages, each with
// the title, the radio, the column heads and "Page N of M".
//
// Text from the records may be any bytes: what is not UTF-8, and every
// control character, is drawn as \xNN.
//
// Drawn with cairo. Every text comes from section [Report] of the current
// language file; Chinese is set in "WenQuanYi Micro Hei" (fontconfig
// substitutes its default sans, DejaVu Sans, where that is missing), English
// in DejaVu Sans. A build without cairo (the Windows build) has no PDF
// reports: WriteReportPdf says so in its error.
#pragma once

#include <filesystem>
#include <string>

#include "report/RadioReport.h"
#include "util/Error.h"

namespace varnel {

// Whether this build can write PDF reports.
bool PdfReportsAvailable();

// The page as PDF bytes (an error naming what failed).
Result<std::string> RenderReportPdf(const RadioReport& report);
// The page into `file`, replaced safely (FileAccess's WriteFileSafely).
Error WriteReportPdf(const RadioReport& report, const std::filesystem::path& file);

// A file name for the report of `report`: "report-SERIAL-20261209T124520.pdf",
// with what a file name may not hold replaced by '_'.
std::string DefaultReportFileName(const RadioReport& report);

}  // namespace varnel
