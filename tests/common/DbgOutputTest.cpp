#include <gtest/gtest.h>

#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "common/DbgOutput.h"

namespace {

struct Collected {
    std::mutex mutex;
    std::vector<std::string> lines;
};

void Collect(void* context, uint64_t, const char* text, size_t length) {
    auto* c = static_cast<Collected*>(context);
    std::lock_guard<std::mutex> lock(c->mutex);
    c->lines.emplace_back(text, length);
}

TEST(DbgOutput, LinesFromManyThreadsArriveWholeWithTimeStamp) {
    Collected collected;
    DbgOutputAddCallback(Collect, &collected);
    DbgOutputSetTimeType(1);
    DbgOutputSetTag(nullptr, 0);
    DbgOutputSetIncludePIDTID(0);

    constexpr int THREADS = 8, LINES = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < THREADS; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < LINES; ++i) DbgOutputA(2, "thread %d line %d %s\r\n", t, i, std::string(100, 'x').c_str());
        });
    for (auto& th : threads) th.join();
    DbgOutputDelCallback(Collect);
    DbgOutputA(2, "after removal\r\n");

    ASSERT_EQ(collected.lines.size(), static_cast<size_t>(THREADS * LINES));
    const std::regex shape(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} thread (\d) line (\d+) x{100}\r\n$)");
    std::vector<int> next(THREADS, 0);
    for (const std::string& line : collected.lines) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, shape)) << line;
        const int t = std::stoi(m[1]);
        EXPECT_EQ(std::stoi(m[2]), next[t]++) << "lines of one thread keep their order";
    }
}

TEST(DbgOutput, TagAndNoTimeStamp) {
    Collected collected;
    DbgOutputAddCallback(Collect, &collected);
    DbgOutputSetTimeType(0);
    DbgOutputSetTag("RADAR", 0);
    DbgOutputA(2, "%s, result: %s\r\n", "RadarOperatorConfig_ReadHoldThreshold", "Success");
    DbgOutputSetTag(nullptr, 0);
    DbgOutputSetTimeType(1);
    DbgOutputDelCallback(Collect);
    ASSERT_EQ(collected.lines.size(), 1u);
    EXPECT_EQ(collected.lines[0], "[RADAR] RadarOperatorConfig_ReadHoldThreshold, result: Success\r\n");
}

}  // namespace
