#include "ReportFormat.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "Output.h"
#include "app/StringTable.h"
#include "common/Utf8Text.h"

namespace {

void AppendInt(std::string& out, long long value) {
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

// The shortest text that reads back as the same double ("null" when not finite).
void AppendShortest(std::string& out, double value) {
    if (!std::isfinite(value)) {
        out += "null";
        return;
    }
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

// printf's "%.Nf", exactly (both round the exact binary value).
void AppendFixed(std::string& out, double value, int decimals) {
    if (!std::isfinite(value)) {
        out += "null";
        return;
    }
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    out.append(buffer, result.ptr);
}

// The energy of a gate depends on raw / 100 alone (656 values): its texts are made once.
struct EnergyTexts {
    std::array<std::string, 656> text;     // " %4.1f"
    std::array<std::string, 656> shortest; // JSON and CSV
};

const EnergyTexts& Energies() {
    static const EnergyTexts table = [] {
        EnergyTexts t;
        for (uint32_t q = 0; q < t.text.size(); ++q) {
            const double db = GateEnergyDb(q == 0 ? 0 : q * 100 + 1);
            char cell[16];
            std::snprintf(cell, sizeof cell, " %4.1f", db);
            t.text[q] = cell;
            AppendShortest(t.shortest[q], db);
        }
        return t;
    }();
    return table;
}

// The energy of a report's gate through the table when its raw value allows.
template <typename Field>
void AppendEnergy(std::string& out, const TargetReport& report, int gate, Field field) {
    // A decoded report's energy is GateEnergyDb(raw), which the table holds for every 16-bit raw value.
    const int32_t raw = report.gateRaw[gate];
    const double db = report.gateEnergyDb[gate];
    if (raw >= 0 && raw / 100 < 656) {
        out += (Energies().*field)[static_cast<size_t>(raw <= 100 ? 0 : raw / 100)];
        return;
    }
    if (field == &EnergyTexts::text) {
        char cell[32];
        std::snprintf(cell, sizeof cell, " %4.1f", db);
        out += cell;
    } else {
        AppendShortest(out, db);
    }
}

}  // namespace

const std::string& PaddedStateText(int state) {
    static const std::array<std::string, 4> texts = [] {
        std::array<std::string, 4> t;
        const int ids[4] = {TEXT_TARGET_NONE, TEXT_TARGET_NONE, TEXT_TARGET_PRESENCE, TEXT_TARGET_MOTIONLESS};
        for (int s = 0; s < 4; ++s) {
            std::string line = CleanText(LoadStringText(ids[s]));
            // Pad to a fixed number of characters (the Chinese texts are UTF-8).
            const size_t chars = Utf8CharacterCount(line);
            if (chars < 22) line.append(22 - chars, ' ');
            t[static_cast<size_t>(s)] = line;
        }
        return t;
    }();
    static const std::string other = std::string("-") + std::string(21, ' ');
    return state >= 0 && state < 4 ? texts[static_cast<size_t>(state)] : other;
}

const char* StateName(int state) {
    static const char* const names[] = {"none", "none_alt", "moving", "motionless"};
    return state >= 0 && state < 4 ? names[state] : "other";
}

ReportStamp MakeReportStamp(std::chrono::steady_clock::time_point runStart) {
    using namespace std::chrono;
    ReportStamp stamp;
    stamp.runSeconds = duration<double>(steady_clock::now() - runStart).count();
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    const long long millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[40];
    const size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(text + length, sizeof text - length, ".%03lldZ", millis);
    stamp.isoTime = text;
    return stamp;
}

void AppendReportLine(std::string& out, ReportFormat format, const TargetReport& report, double current,
                      unsigned long long index, const ReportStamp* stamp) {
    switch (format) {
    case ReportFormat::JsonLine:
        // The one JSON text of the tool not built with nlohmann (see Output.h): this
        // line is written for every report, and a tree per report measured about six
        // times slower. It also keeps current_ma at five fixed decimals, which
        // nlohmann's number output cannot give.
        out += "{\"format\":";
        AppendInt(out, JSON_FORMAT);
        if (stamp) {
            out += ",\"time\":\"";
            out += stamp->isoTime;
            out += "\",\"t_s\":";
            AppendFixed(out, stamp->runSeconds, 3);
        }
        out += ",\"state\":";
        AppendInt(out, report.state);
        out += ",\"state_name\":\"";
        out += StateName(report.state);
        out += '"';
        out += ",\"distance_cm\":";
        AppendInt(out, report.distanceCm);
        out += ",\"gates_raw\":[";
        for (int g = 0; g < TARGET_GATE_COUNT; ++g) {
            if (g) out += ',';
            AppendInt(out, report.gateRaw[g]);
        }
        out += "],\"gates_db\":[";
        for (int g = 0; g < TARGET_GATE_COUNT; ++g) {
            if (g) out += ',';
            AppendEnergy(out, report, g, &EnergyTexts::shortest);
        }
        out += "],\"current_ma\":";
        AppendFixed(out, current, 5);
        out += '}';
        return;
    case ReportFormat::Csv:
        AppendInt(out, static_cast<long long>(index));
        out += ',';
        AppendInt(out, report.state);
        out += ',';
        AppendFixed(out, report.distanceCm / 100.0, 2);
        for (int g = 0; g < TARGET_GATE_COUNT; ++g) {
            out += ',';
            AppendEnergy(out, report, g, &EnergyTexts::shortest);
        }
        for (int g = 0; g < TARGET_GATE_COUNT; ++g) {
            out += ',';
            AppendInt(out, report.gateRaw[g]);
        }
        out += ',';
        AppendFixed(out, current, 5);
        return;
    case ReportFormat::Text: {
        out += PaddedStateText(report.state);
        // "%6.2f m  %.5f mA  |"
        char distance[32];
        const auto end = std::to_chars(distance, distance + sizeof distance, report.distanceCm / 100.0,
                                       std::chars_format::fixed, 2);
        const size_t width = static_cast<size_t>(end.ptr - distance);
        if (width < 6) out.append(6 - width, ' ');
        out.append(distance, end.ptr);
        out += " m  ";
        AppendFixed(out, current, 5);
        out += " mA  |";
        for (int g = 0; g < TARGET_GATE_COUNT; ++g) AppendEnergy(out, report, g, &EnergyTexts::text);
        return;
    }
    }
}

std::string ReportCsvHeader() {
    std::string header = "index,state,distance_m";
    for (int g = 0; g < TARGET_GATE_COUNT; ++g) header += ",gate" + std::to_string(g) + "_db";
    for (int g = 0; g < TARGET_GATE_COUNT; ++g) header += ",gate" + std::to_string(g) + "_raw";
    header += ",current_ma";
    return header;
}
