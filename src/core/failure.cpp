#include "core/failure.h"

namespace vorlane {

std::wstring Failure::text() const {
    if (systemError == 0) return sentence;
    const std::wstring code = L" (error " + std::to_wstring(systemError) + L")";
    if (!sentence.empty() && sentence.back() == L'.') return sentence.substr(0, sentence.size() - 1) + code + L".";
    return sentence + code;
}

Failure systemFailure(const std::wstring& sentence) { return systemFailure(sentence, GetLastError()); }

Failure systemFailure(const std::wstring& sentence, DWORD error) { return Failure{sentence, error}; }

}  // namespace vorlane
