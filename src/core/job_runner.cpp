#include "core/job_runner.h"

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

}  // namespace vorlane
