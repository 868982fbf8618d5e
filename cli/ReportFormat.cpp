#include "ReportFormat.h"

#include <array>
#include <cassert>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <system_error>
#include <type_traits>

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
    // Room for the largest double's 309 integer digits and the decimals asked.
    char buffer[320 + 17];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    out.append(buffer, result.ptr);
}

// A short text of known length in a fixed cell, copied whole.
template <size_t N>
struct TextCell {
    char text[N] = {};
    uint8_t size = 0;
};

// The energy of a gate depends on raw / 100 alone (656 values): its texts are made once.
constexpr uint32_t ENERGY_TEXT_COUNT = 656;
struct EnergyTexts {
    std::array<TextCell<7>, ENERGY_TEXT_COUNT> text;       // " %4.1f"
    std::array<TextCell<23>, ENERGY_TEXT_COUNT> shortest;  // JSON and CSV
};

const EnergyTexts& Energies() {
    static const EnergyTexts table = [] {
        EnergyTexts t;
        for (uint32_t q = 0; q < ENERGY_TEXT_COUNT; ++q) {
            const double db = GateEnergyDb(q == 0 ? 0 : q * 100 + 1);
            // At most 56.3 dB: " %4.1f" is five characters, the shortest text at most 18.
            const int size = std::snprintf(t.text[q].text, sizeof t.text[q].text, " %4.1f", db);
            assert(size > 0 && size < static_cast<int>(sizeof t.text[q].text));
            t.text[q].size = static_cast<uint8_t>(size);
            const auto end = std::to_chars(t.shortest[q].text, t.shortest[q].text + sizeof t.shortest[q].text, db);
            assert(end.ec == std::errc());
            t.shortest[q].size = static_cast<uint8_t>(end.ptr - t.shortest[q].text);
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
    if (raw >= 0 && static_cast<uint32_t>(raw) / 100 < ENERGY_TEXT_COUNT) {
        const auto& cell = (Energies().*field)[static_cast<size_t>(raw <= 100 ? 0 : raw / 100)];
        out.append(cell.text, cell.size);
        return;
    }
    if constexpr (std::is_same_v<Field, decltype(&EnergyTexts::text)>) {
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

namespace {

// Any report, field by field: the lines whose values the fixed buffer was not sized for.
void AppendLineGeneral(std::string& out, ReportFormat format, const TargetReport& report, double current,
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

}  // namespace

namespace {

// ---- the fixed-size line ----

// Room for the longest line of the fast path: JSON with 16 raw values of 11
// characters, 16 decibel texts of 18, a current text of 38 and the names come to
// about 630 bytes; the cells are copied whole, up to 23 bytes past their text.
constexpr size_t LINE_CAPACITY = 768;

constexpr std::array<char, 200> DIGIT_PAIRS = [] {
    std::array<char, 200> t{};
    for (int i = 0; i < 100; ++i) {
        t[static_cast<size_t>(2 * i)] = static_cast<char>('0' + i / 10);
        t[static_cast<size_t>(2 * i + 1)] = static_cast<char>('0' + i % 10);
    }
    return t;
}();

template <size_t N>
char* Put(char* p, const char (&text)[N]) {
    std::memcpy(p, text, N - 1);
    return p + N - 1;
}

template <typename Unsigned>
unsigned DigitCount(Unsigned v) {
    unsigned n = 1;
    for (; v >= 10000; v /= 10000) n += 4;
    return n + (v >= 10) + (v >= 100) + (v >= 1000);
}

// The decimal digits of v, two at a time from the table.
template <typename Unsigned>
char* PutUnsigned(char* p, Unsigned v) {
    const unsigned n = DigitCount(v);
    char* d = p + n;
    while (v >= 100) {
        const auto pair = static_cast<size_t>(v % 100) * 2;
        v /= 100;
        d -= 2;
        std::memcpy(d, &DIGIT_PAIRS[pair], 2);
    }
    if (v >= 10) {
        std::memcpy(d - 2, &DIGIT_PAIRS[static_cast<size_t>(v) * 2], 2);
    } else {
        d[-1] = static_cast<char>('0' + v);
    }
    return p + n;
}

char* PutPair(char* p, uint32_t v) {
    std::memcpy(p, &DIGIT_PAIRS[static_cast<size_t>(v) * 2], 2);
    return p + 2;
}

char* PutUpTo99(char* p, uint32_t v) {
    if (v >= 10) return PutPair(p, v);
    *p = static_cast<char>('0' + v);
    return p + 1;
}

// The values of a report are mostly below 100000 (16-bit fields): their digits
// without a loop or a count.
inline char* PutSmallUnsigned(char* p, uint32_t v) {
    if (v < 100) return PutUpTo99(p, v);
    if (v < 10000) return PutPair(PutUpTo99(p, v / 100), v % 100);
    if (v < 1000000) {
        const uint32_t low = v % 10000;
        return PutPair(PutPair(PutUpTo99(p, v / 10000), low / 100), low % 100);
    }
    return PutUnsigned(p, v);
}

char* PutInt(char* p, int32_t v) {
    if (v >= 0) return PutSmallUnsigned(p, static_cast<uint32_t>(v));
    *p++ = '-';
    return PutUnsigned(p, static_cast<uint32_t>(0u - static_cast<uint32_t>(v)));
}

// cm / 100 with two decimals, as "%.2f" prints it: the double nearest cm / 100 is
// within far less than half a hundredth of it, so the digits are those of cm.
char* PutMetres(char* p, int32_t cm) {
    if (cm < 0) {
        const auto end = std::to_chars(p, p + 16, cm / 100.0, std::chars_format::fixed, 2);
        return end.ptr;
    }
    p = PutSmallUnsigned(p, static_cast<uint32_t>(cm) / 100);
    *p = '.';
    std::memcpy(p + 1, &DIGIT_PAIRS[static_cast<size_t>(cm % 100) * 2], 2);
    return p + 3;
}

// A cell of the tables: copied whole, the line goes on after its text.
template <typename Cell>
char* PutCell(char* p, const Cell& cell) {
    std::memcpy(p, cell.text, sizeof cell.text);
    return p + cell.size;
}

// True when every gate's energy text is in the table (always so for a decoded report).
bool GatesInTable(const TargetReport& report) {
    for (int g = 0; g < TARGET_GATE_COUNT; ++g) {
        if (static_cast<uint32_t>(report.gateRaw[g]) >= ENERGY_TEXT_COUNT * 100) return false;
    }
    return true;
}

size_t EnergyIndex(int32_t raw) { return raw <= 100 ? 0 : static_cast<size_t>(raw / 100); }

}  // namespace

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

const ReportLineFormatter::CurrentText* ReportLineFormatter::CurrentTextOf(double current) {
    uint64_t bits;
    std::memcpy(&bits, &current, sizeof bits);
    for (const CurrentText& known : currents_) {
        if (known.size && known.bits == bits) return &known;
    }
    CurrentText made;
    made.bits = bits;
    if (!std::isfinite(current)) {
        std::memcpy(made.text, "null", 4);
        made.size = 4;
    } else {
        const auto end = std::to_chars(made.text, made.text + sizeof made.text, current, std::chars_format::fixed, 5);
        if (end.ec != std::errc()) return nullptr;  // a current too large for the line
        made.size = static_cast<uint8_t>(end.ptr - made.text);
    }
    CurrentText& slot = currents_[next_];
    next_ = (next_ + 1) % currents_.size();
    slot = made;
    return &slot;
}

void ReportLineFormatter::Append(std::string& out, const TargetReport& report, double current,
                                 unsigned long long index, const ReportStamp* stamp) {
    const CurrentText* currentText = CurrentTextOf(current);
    // A stamp is a live run's, a few reports a second: the general path serves it.
    if (!currentText || !GatesInTable(report) || stamp != nullptr) {
        AppendLineGeneral(out, format_, report, current, index, stamp);
        return;
    }
    const EnergyTexts& energies = Energies();
    char line[LINE_CAPACITY];
    char* p = line;
    switch (format_) {
    case ReportFormat::JsonLine:
        // The one JSON text of the tool not built with nlohmann (see Output.h): this
        // line is written for every report, and a tree per report measured about six
        // times slower. It also keeps current_ma at five fixed decimals, which
        // nlohmann's number output cannot give.
        static_assert(JSON_FORMAT >= 0 && JSON_FORMAT < 100);
        p = Put(p, "{\"format\":");
        p = PutUpTo99(p, JSON_FORMAT);
        p = Put(p, ",\"state\":");
        p = PutInt(p, report.state);
        p = Put(p, ",\"state_name\":\"");
        {
            const char* name = StateName(report.state);
            const size_t length = std::strlen(name);
            std::memcpy(p, name, length);
            p += length;
        }
        *p++ = '"';
        p = Put(p, ",\"distance_cm\":");
        p = PutInt(p, report.distanceCm);
        p = Put(p, ",\"gates_raw\":[");
        for (int g = 0; g < TARGET_GATE_COUNT; ++g) {
            p = PutInt(p, report.gateRaw[g]);
            *p++ = ',';
        }
        p = Put(p - 1, "],\"gates_db\":[");
        for (int g = 0; g < TARGET_GATE_COUNT; ++g) {
            p = PutCell(p, energies.shortest[EnergyIndex(report.gateRaw[g])]);
            *p++ = ',';
        }
        p = Put(p - 1, "],\"current_ma\":");
        p = PutCell(p, *currentText);
        *p++ = '}';
        break;
    case ReportFormat::Csv:
        p = PutUnsigned(p, index);
        *p++ = ',';
        p = PutInt(p, report.state);
        *p++ = ',';
        p = PutMetres(p, report.distanceCm);
        for (int g = 0; g < TARGET_GATE_COUNT; ++g) {
            *p++ = ',';
            p = PutCell(p, energies.shortest[EnergyIndex(report.gateRaw[g])]);
        }
        for (int g = 0; g < TARGET_GATE_COUNT; ++g) {
            *p++ = ',';
            p = PutInt(p, report.gateRaw[g]);
        }
        *p++ = ',';
        p = PutCell(p, *currentText);
        break;
    case ReportFormat::Text: {
        out += PaddedStateText(report.state);
        // "%6.2f m  %.5f mA  |"
        char distance[16];
        const size_t width = static_cast<size_t>(PutMetres(distance, report.distanceCm) - distance);
        for (size_t pad = width; pad < 6; ++pad) *p++ = ' ';
        std::memcpy(p, distance, width);
        p += width;
        p = Put(p, " m  ");
        p = PutCell(p, *currentText);
        p = Put(p, " mA  |");
        for (int g = 0; g < TARGET_GATE_COUNT; ++g) p = PutCell(p, energies.text[EnergyIndex(report.gateRaw[g])]);
        break;
    }
    }
    out.append(line, p);
}

void AppendReportLine(std::string& out, ReportFormat format, const TargetReport& report, double current,
                      unsigned long long index, const ReportStamp* stamp) {
    ReportLineFormatter(format).Append(out, report, current, index, stamp);
}

std::string ReportCsvHeader() {
    std::string header = "index,state,distance_m";
    for (int g = 0; g < TARGET_GATE_COUNT; ++g) header += ",gate" + std::to_string(g) + "_db";
    for (int g = 0; g < TARGET_GATE_COUNT; ++g) header += ",gate" + std::to_string(g) + "_raw";
    header += ",current_ma";
    return header;
}
