#pragma once
// One target report as a line of the monitor and replay commands: JSON, CSV or the
// aligned text, formatted into a caller's reused buffer without temporaries.

#include <string>

#include "monitor/FrameScanner.h"

enum class ReportFormat { Text, JsonLine, Csv };

// Appends the line for the report (without the line end) to out. index is the
// report's number in the run (CSV only); current the estimate in mA.
void AppendReportLine(std::string& out, ReportFormat format, const TargetReport& report, double current,
                      unsigned long long index);

// The CSV column names, in the order AppendReportLine writes them.
[[nodiscard]] std::string ReportCsvHeader();

// The state's word from the string table, padded to 22 characters (text lines).
[[nodiscard]] const std::string& PaddedStateText(int state);
