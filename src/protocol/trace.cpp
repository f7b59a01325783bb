#include "protocol/trace.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "link/framing.h"
#include "zrreader.h"

namespace zr::trace {
namespace {

struct Sink {
    std::mutex mutex;
    std::FILE* file = nullptr;  // from ZR_TRACE
    bool ownsFile = false;
    ZRTraceCallback callback = nullptr;
    void* user = nullptr;
};

Sink& sink() {
    static Sink s;
    return s;
}

std::atomic<bool> active{false};
std::once_flag environmentRead;

void readEnvironment() {
    const char* target = std::getenv("ZR_TRACE");
    if (!target || !*target) return;
    Sink& s = sink();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (std::strcmp(target, "stderr") == 0) {
        s.file = stderr;
    } else if (std::FILE* f = std::fopen(target, "a")) {
        s.file = f;
        s.ownsFile = true;
    }
    if (s.file) active.store(true, std::memory_order_relaxed);
}

}  // namespace

bool enabled() {
    std::call_once(environmentRead, readEnvironment);
    return active.load(std::memory_order_relaxed);
}

void formatLine(char* out, size_t capacity, int64_t unixMicros, Direction direction, link::LinkKind kind, int port,
                const uint8_t* bytes, size_t length) {
    using namespace std::chrono;
    const sys_time<microseconds> time{microseconds(unixMicros)};
    const auto day = floor<days>(time);
    const year_month_day date{day};
    const hh_mm_ss<microseconds> clock{time - day};
    int n = std::snprintf(out, capacity, "%04d-%02u-%02uT%02d:%02d:%02d.%06dZ %s port=%d %s", int(date.year()),
                          unsigned(date.month()), unsigned(date.day()), int(clock.hours().count()),
                          int(clock.minutes().count()), int(clock.seconds().count()),
                          int(clock.subseconds().count()), link::linkKindName(kind), port,
                          direction == Direction::Send ? "send" : "recv");
    for (size_t i = 0; i < length && n > 0 && static_cast<size_t>(n) + 4 < capacity; ++i)
        n += std::snprintf(out + n, capacity - n, " %02X", bytes[i]);
}

void packet(Direction direction, link::LinkKind kind, int port, const uint8_t* bytes, size_t length) {
    if (!enabled()) return;
    Sink& s = sink();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.callback) {
        s.callback(s.user, direction == Direction::Send ? 0 : 1, link::linkKindName(kind), bytes,
                   static_cast<int>(length));
    }
    if (s.file) {
        char line[64 + 3 * 1100];
        const auto now = std::chrono::system_clock::now().time_since_epoch();
        formatLine(line, sizeof line, std::chrono::duration_cast<std::chrono::microseconds>(now).count(), direction,
                   kind, port, bytes, length);
        std::fprintf(s.file, "%s\n", line);
        std::fflush(s.file);
    }
}

void commandSent(link::LinkKind kind, int port, const uint8_t* packetBytes, size_t length) {
    if (!enabled()) return;
    uint8_t protectedPacket[258];
    if (length > 256) length = 256;
    link::buildProtectedPacket(packetBytes, length, protectedPacket);
    packet(Direction::Send, kind, port, protectedPacket, length + 2);
}

}  // namespace zr::trace

extern "C" ZR_API int ZR_CALL ZRSetTraceCallback(ZRTraceCallback callback, void* user) {
    using namespace zr::trace;
    enabled();  // the environment is read first, so a later read cannot undo this call
    Sink& s = sink();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.callback = callback;
    s.user = user;
    active.store(s.callback != nullptr || s.file != nullptr, std::memory_order_relaxed);
    return ZR_OK;
}
