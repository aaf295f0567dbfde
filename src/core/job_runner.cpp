#include "core/job_runner.h"

#include <vector>

#include "core/handles.h"

namespace vorlane {

JobProgress postingProgress(HWND window, UINT message) {
    if (message == 0) return {};
    return [window, message](double fraction, const std::wstring& sentence) {
        auto record = std::make_unique<ProgressRecord>(ProgressRecord{fraction, sentence});
        if (PostMessageW(window, message, 0, reinterpret_cast<LPARAM>(record.get()))) record.release();
    };
}

void runInComApartment(const std::function<void()>& work) {
    ComApartment com;
    work();
}

void runSideBySide(size_t count, const std::function<void(size_t)>& work) {
    if (count == 1) {
        work(0);
        return;
    }
    std::vector<std::thread> threads;
    threads.reserve(count);
    for (size_t i = 0; i < count; ++i) threads.emplace_back([&work, i] { runInComApartment([&] { work(i); }); });
    for (std::thread& thread : threads) thread.join();
}

}  // namespace vorlane
