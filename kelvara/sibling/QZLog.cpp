#include "kelvara/sibling/QZLog.h"

#include <cstdio>
#include <memory>
#include <mutex>

namespace {

struct LogState {
    std::mutex lock;
    std::shared_ptr<const QZLogSink> sink;
};

LogState& TheLog() {
    static LogState state;
    return state;
}

void WriteToStandardError(DWORD dwLevel, const char* pszText) {
    std::fprintf(stderr, "kelvara[%lu]: %s\n", static_cast<unsigned long>(dwLevel), pszText);
}

}  // namespace

void QZLogMessage(DWORD dwLevel, const char* pszText) {
    std::shared_ptr<const QZLogSink> sink;
    {
        LogState& s = TheLog();
        std::lock_guard<std::mutex> guard(s.lock);
        sink = s.sink;
    }
    // The sink runs outside the lock, so that it may log or swap sinks.
    const char* pszSafe = pszText ? pszText : "";
    if (sink) {
        (*sink)(dwLevel, pszSafe);
    } else {
        WriteToStandardError(dwLevel, pszSafe);
    }
}

void QZSetLogSink(QZLogSink sink) {
    auto next = sink ? std::make_shared<const QZLogSink>(std::move(sink)) : nullptr;
    LogState& s = TheLog();
    std::lock_guard<std::mutex> guard(s.lock);
    s.sink = std::move(next);
}
