#pragma once
// One target report as a line of the monitor and replay commands: JSON, CSV or the
// aligned text. A line is built in a fixed-size buffer on the stack and appended to
// the caller's reused string at once.

#include <array>
#include <chrono>
#include <cstdint>
#include <string>

#include "monitor/FrameScanner.h"

enum class ReportFormat { Text, JsonLine, Csv };

// When a live report was read: wall-clock time as ISO 8601 in UTC with milliseconds
// ("2026-12-11T09:30:05.123Z") and monotonic seconds since the run began.
struct ReportStamp {
    std::string isoTime;
    double runSeconds = 0;
};
// The stamp for now; runStart is the run's start on the steady clock.
[[nodiscard]] ReportStamp MakeReportStamp(std::chrono::steady_clock::time_point runStart);

// The word for a state code in JSON: "none", "none_alt", "moving", "motionless", else "other".
[[nodiscard]] const char* StateName(int state);

// Formats the lines of one run. The texts of the last few current values are kept:
// the estimate depends on the report's state alone, so a run repeats a handful.
// One formatter per thread.
class ReportLineFormatter {
public:
    explicit ReportLineFormatter(ReportFormat format) : format_(format) {}

    // Appends the line for the report (without the line end) to out. index is the
    // report's number in the run (CSV only); current the estimate in mA; stamp, when
    // given, adds "time" and "t_s" to a JSON line (a live run; a record holds no times).
    void Append(std::string& out, const TargetReport& report, double current, unsigned long long index,
                const ReportStamp* stamp = nullptr);

private:
    // "%.5f" of a current (or "null"), by the value's bits.
    struct CurrentText {
        uint64_t bits = 0;
        uint8_t size = 0;  // 0 = unused
        char text[39] = {};
    };
    const CurrentText* CurrentTextOf(double current);

    ReportFormat format_;
    std::array<CurrentText, 4> currents_{};
    unsigned next_ = 0;  // the entry replaced next
};

// The same for a single line (no texts kept between calls).
void AppendReportLine(std::string& out, ReportFormat format, const TargetReport& report, double current,
                      unsigned long long index, const ReportStamp* stamp = nullptr);

// The CSV column names, in the order AppendReportLine writes them.
[[nodiscard]] std::string ReportCsvHeader();

// The state's word from the string table, padded to 22 characters (text lines).
[[nodiscard]] const std::string& PaddedStateText(int state);
