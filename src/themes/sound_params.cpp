#include "themes/sound_params.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "core/text.h"

namespace vorlane {

namespace {

bool startsWithDigit(const std::wstring& text) { return !text.empty() && text[0] >= L'0' && text[0] <= L'9'; }

bool endsWith(const std::wstring& text, const std::wstring& ending) {
    return text.size() >= ending.size() && text.compare(text.size() - ending.size(), ending.size(), ending) == 0;
}

// The decimal number at the start of the text ("44.1 khz" gives 44.1), 0 when
// it doesn't start with a digit.
double leadingNumber(const std::wstring& text) {
    double number = 0;
    size_t i = 0;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) number = number * 10 + (text[i] - L'0');
    if (i == 0 || i + 1 >= text.size() || text[i] != L'.') return number;
    double scale = 0.1;
    for (++i; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i, scale /= 10)
        number += (text[i] - L'0') * scale;
    return number;
}

std::vector<std::wstring> commaPieces(const std::wstring& text) {
    std::vector<std::wstring> pieces;
    size_t start = 0;
    for (;;) {
        size_t comma = text.find(L',', start);
        pieces.push_back(
            trimSpace(text.substr(start, comma == std::wstring::npos ? std::wstring::npos : comma - start)));
        if (comma == std::wstring::npos) return pieces;
        start = comma + 1;
    }
}

// "0.5-1.5 s", "under 2 s", "2-3 min": the shortest and longest seconds.
void readLength(const std::wstring& piece, double unit, AudioFormat& format) {
    static const std::wstring under = L"under ";
    const bool isUnder = piece.compare(0, under.size(), under) == 0;
    const std::wstring text = isUnder ? piece.substr(under.size()) : piece;
    const double low = isUnder ? 0 : leadingNumber(text) * unit;
    const size_t dash = text.find(L'-');
    const double high =
        (dash == std::wstring::npos ? leadingNumber(text) : leadingNumber(text.substr(dash + 1))) * unit;
    if (startsWithDigit(text) && high > 0 && high <= 600 && low <= high) {
        format.shortest = low;
        format.longest = high;
    }
}

// Music's tempo from the first tempo word its prompt holds.
int musicTempo(const std::wstring& prompt) {
    static const std::pair<const wchar_t*, int> words[] = {
        {L"slow", 72}, {L"calm", 90}, {L"epic", 150}, {L"driving", 132}, {L"energetic", 132}, {L"medium tempo", 108}};
    const std::wstring lower = lowerCase(prompt);
    for (const auto& [word, tempo] : words)
        if (lower.find(word) != std::wstring::npos) return tempo;
    return 110;
}

}  // namespace

AudioFormat ParseAudioFormat(const std::wstring& text) {
    AudioFormat format;
    for (const std::wstring& piece : commaPieces(lowerCase(text))) {
        if (piece == L"mono") {
            format.channels = 1;
        } else if (piece == L"stereo") {
            format.channels = 2;
        } else if (endsWith(piece, L" khz") && startsWithDigit(piece)) {
            const double rate = leadingNumber(piece) * 1000;
            if (rate >= 8000 && rate <= 96000) format.rate = (int)std::lround(rate);
        } else if (endsWith(piece, L" min")) {
            readLength(piece, 60, format);
        } else if (endsWith(piece, L" s")) {
            readLength(piece, 1, format);
        }
    }
    return format;
}

SoundParams MakeSoundParams(const ThemeSlot& slot) {
    const AudioFormat format = ParseAudioFormat(slot.Format);
    SoundParams params;
    params.rate = format.rate;
    params.channels = format.channels;
    params.shortest = format.shortest;
    params.longest = format.longest;
    params.isMusic = slot.Kind == L"Music";
    params.loops = params.isMusic || slot.Loops;
    params.checkBrightness = !params.isMusic;
    if (params.isMusic) {
        params.tempo = musicTempo(slot.Prompt);
        const double bar = 240.0 / params.tempo;  // four beats
        const double wanted = params.shortest > 0 ? params.shortest : 90;
        const double bars = std::max(8.0, std::ceil(wanted / bar - 0.001));
        params.length = bars * bar;
        params.overlap = 2 * bar;
        params.generateSeconds = (bars + 6) * bar;
    } else if (params.loops) {
        const double length = params.longest > 0 ? (params.shortest + params.longest) / 2 : 3;
        params.length = length;
        params.loopGap = 0.5;
        params.overlap = std::min(length / 3, 0.75);
        params.generateSeconds = std::ceil(length + 0.5 + params.overlap + 0.5);
    } else {
        params.length = params.longest > 0 ? params.longest : 2;
        params.generateSeconds = std::max(std::ceil(params.length), 1.0);
    }
    return params;
}

}  // namespace vorlane
