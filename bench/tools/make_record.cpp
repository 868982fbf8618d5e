// Writes a record file of target reports whose distances follow one of the
// repaint benchmarks' data shapes, for palo520g-sim --replay:
//
//   bench_make_record SHAPE COUNT FILE     (SHAPE: sine, steps, random_full, random_gate)
//
// Every report says "moving target", so only the distance and the gate energies
// change from one report to the next.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "ChartShapes.h"
#include "monitor/FrameScanner.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s sine|steps|random_full|random_gate COUNT FILE\n", argv[0]);
        return 2;
    }
    int shape = -1;
    for (int s = 0; s < 4; ++s)
        if (std::strcmp(argv[1], ShapeName(static_cast<ChartShape>(s))) == 0) shape = s;
    const long count = std::strtol(argv[2], nullptr, 10);
    if (shape < 0 || count <= 0) {
        std::fprintf(stderr, "%s: unknown shape %s or count %s\n", argv[0], argv[1], argv[2]);
        return 2;
    }
    std::FILE* out = std::fopen(argv[3], "wb");
    if (out == nullptr) {
        std::perror(argv[3]);
        return 1;
    }
    std::mt19937 random(11);
    uint16_t raw[TARGET_GATE_COUNT];
    for (long i = 0; i < count; ++i) {
        const double metres = ShapeValue(static_cast<ChartShape>(shape), i, random);
        for (uint16_t& r : raw) r = static_cast<uint16_t>(random() % 60000);
        const auto payload = BuildTargetReportPayload(TARGET_STATE_MOVING, static_cast<uint16_t>(metres * 100.0 + 0.5), raw);
        const auto frame = BuildReportFrame(payload.data(), static_cast<uint16_t>(payload.size()));
        std::fwrite(frame.data(), 1, frame.size(), out);
    }
    if (std::fclose(out) != 0) {
        std::perror(argv[3]);
        return 1;
    }
    return 0;
}
