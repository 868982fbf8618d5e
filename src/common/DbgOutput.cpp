#include "common/DbgOutput.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>
#include <sys/syscall.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

struct DbgOutputState {
    std::mutex mutex;  //!< Protects every field below and serialises delivery.
    std::vector<std::pair<DbgOutputCallback, void*>> callbacks;
    std::string tag;
    int timeType = 1;
    bool includePidTid = false;
};

DbgOutputState& State() {
    static DbgOutputState state;
    return state;
}

std::string TimeStamp() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    const auto millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[80];  // room for any int the fields may hold
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d ", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<int>(millis));
    return text;
}

}  // namespace

void DbgOutputA(int /*level*/, const char* format, ...) {
    if (!format) return;
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int needed = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string body;
    if (needed > 0) {
        body.resize(static_cast<size_t>(needed));
        std::vsnprintf(body.data(), body.size() + 1, format, args);
    }
    va_end(args);

    DbgOutputState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (state.callbacks.empty()) return;
    std::string line;
    if (state.timeType == 1) line += TimeStamp();
    if (!state.tag.empty()) line += "[" + state.tag + "] ";
    if (state.includePidTid) {
        line += "[" + std::to_string(getpid()) + ":" + std::to_string(static_cast<long>(syscall(SYS_gettid))) + "] ";
    }
    line += body;
    for (const auto& [callback, context] : state.callbacks) callback(context, 0, line.data(), line.size());
}

void DbgOutputAddCallback(DbgOutputCallback callback, void* context) {
    if (!callback) return;
    DbgOutputState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    for (auto& entry : state.callbacks) {
        if (entry.first == callback) {
            entry.second = context;
            return;
        }
    }
    state.callbacks.emplace_back(callback, context);
}

void DbgOutputDelCallback(DbgOutputCallback callback) {
    DbgOutputState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    std::erase_if(state.callbacks, [&](const auto& entry) { return entry.first == callback; });
}

void DbgOutputSetTag(const char* tag, int /*flags*/) {
    DbgOutputState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.tag = tag ? tag : "";
}

void DbgOutputSetTimeType(int type) {
    DbgOutputState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.timeType = type;
}

void DbgOutputSetIncludePIDTID(int include) {
    DbgOutputState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.includePidTid = include != 0;
}
