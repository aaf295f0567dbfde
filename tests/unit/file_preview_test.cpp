// What the theme files window shows of a file: a picture fitted without
// stretching, a sound's outline and measures, a model's size and front
// silhouette, and the one line for each file that doesn't read.
#include <gtest/gtest.h>

#include <windows.h>

#include <mmsystem.h>
#include <psapi.h>

#include <cmath>
#include <memory>

#include "core/files.h"
#include "core/text.h"
#include "media/preview_measures.h"
#include "media/wav_file.h"
#include "support/temp_folder.h"
#include "support/test_pictures.h"
#include "support/test_sounds.h"
#include "glb_writer/glb_writer.h"
#include "ui/file_preview.h"
#include "ui/sound_player.h"

using namespace vorlane;
using namespace vorlane::testing;

namespace {

// A GLB that reads but draws no triangle: its one primitive is points.
std::string pointsOnlyGlb() {
    GlbWriter writer;
    writer.addMesh({{writer.addPositions({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}), std::nullopt, 0}});
    return writer.bytes();
}

// A file of `size` bytes that begins with `head`; the rest is left to the file
// system as zeros, so the test holds neither the memory nor the disk of it.
std::wstring bigFile(const TempFolder& temp, const wchar_t* name, const std::string& head, uint64_t size) {
    const std::wstring path = temp.writeFile(name, head);
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    LARGE_INTEGER end;
    end.QuadPart = static_cast<LONGLONG>(size);
    EXPECT_TRUE(file != INVALID_HANDLE_VALUE && SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file))
        << GetLastError();
    CloseHandle(file);
    return path;
}

void putLittle32(std::string& bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
}

uint64_t peakMemory() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return counters.PeakWorkingSetSize;
}

}  // namespace

TEST(FilePreview, EachKindOfFileShowsItsDrawingAndLinesOrTheOneLineThatSaysWhy) {
    TempFolder temp{L"preview"};
    const std::string png = pngOf(256, 128);
    ASSERT_FALSE(png.empty());
    const std::string wav = WriteWav(Sine(48000, 2, 1.5, 440, 0.5));
    const struct {
        const wchar_t* name;
        std::string bytes;
        PreviewKind kind;
        std::vector<std::wstring> lines;
    } cases[] = {
        // A 256 x 128 picture in a 100 x 100 box keeps its proportions.
        {L"wide.png", png, PreviewKind::Picture, {L"256 x 128 pixels, " + std::to_wstring((png.size() + 1023) / 1024) + L" KB."}},
        {L"sound.wav", wav, PreviewKind::Sound, {L"1.5 s, 48000 Hz, stereo.", L"Peak -6.0 dBFS, loudness -9.0 dBFS."}},
        {L"cube.glb", cubeModel(), PreviewKind::Model,
         {L"1200 triangles, 10 x 10 x 10 (width x height x depth).",
          L"Shards: 2% of its surface in its biggest 2% of triangles."}},
        {L"broken.png", png.substr(0, 60), PreviewKind::Nothing,
         {L"This picture doesn't decode: it's damaged or not in a format the system reads."}},
        {L"cut.wav", wav.substr(0, 30), PreviewKind::Nothing,
         {L"This sound doesn't read: it's damaged, cut short or not a WAV or FLAC file."}},
        {L"points.glb", pointsOnlyGlb(), PreviewKind::Nothing, {L"This model has no triangles to show."}},
        {L"text.glb", "not a model", PreviewKind::Nothing, {L"This model doesn't read: it's damaged or not a GLB file."}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(toUtf8(c.name));
        const std::wstring path = temp.writeFile(c.name, c.bytes);
        const FilePreview preview = makeFilePreview(path, 100, 100, JobControl());
        EXPECT_EQ(preview.kind, c.kind);
        EXPECT_EQ(preview.lines, c.lines);
        // Nothing holds the file once the preview is made: the next Create may replace it.
        EXPECT_TRUE(MoveFileExW(temp.writeFile(L"new", "replaced").c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING));
        if (c.kind == PreviewKind::Picture) {
            EXPECT_EQ(preview.width, 100);
            EXPECT_EQ(preview.height, 50);
            ASSERT_EQ(preview.pixels.size(), 100u * 50 * 4);
            EXPECT_EQ(preview.pixels[3], 0);                   // the transparent border
            EXPECT_EQ(preview.pixels[(25 * 100 + 50) * 4 + 3], 255);  // the middle
        }
        if (c.kind == PreviewKind::Sound) {
            ASSERT_EQ(preview.wave.size(), 100u);
            EXPECT_NEAR(preview.wave[50].high, 0.5, 0.01);
            EXPECT_NEAR(preview.wave[50].low, -0.5, 0.01);
            EXPECT_TRUE(preview.playable);
            ASSERT_TRUE(preview.sound);
            EXPECT_EQ(*preview.sound, c.bytes);
        }
    }
    EXPECT_EQ(missingFilePreview(L"x.png", L"256x128 PNG, transparent background").lines,
              std::vector<std::wstring>{L"Not there yet: the slot asks for 256x128 PNG, transparent background."});
}

TEST(FilePreview, AModelsSilhouetteKeepsItsProportionsSeenFromTheFront) {
    // A triangle twice as wide as it is high, its right angle at the bottom left.
    const ModelShape shape = MeasureModel(glbOfTriangles({{{0, 0, 0}, {4, 0, 0}, {0, 2, 1}}}), 40, 40);
    EXPECT_EQ(shape.triangles, 1u);
    EXPECT_EQ(shape.maskWidth, 40);
    EXPECT_EQ(shape.maskHeight, 20);
    const auto at = [&](int x, int y) { return shape.mask[size_t(y) * 40 + size_t(x)]; };
    EXPECT_EQ(at(1, 18), 1);   // bottom left: inside
    EXPECT_EQ(at(38, 1), 0);   // top right: outside the slope
    EXPECT_EQ(at(38, 19), 1);  // bottom right: the far corner
    EXPECT_EQ(at(1, 1), 1);    // top left: the top corner
    EXPECT_DOUBLE_EQ(shape.high[2] - shape.low[2], 1);
    // Columns of a sound shorter than the columns are flat where no frame falls.
    AudioBuffer two{8000, 1, {0.5f, -0.25f}};
    const std::vector<WaveColumn> columns = WaveformColumns(two, 4);
    ASSERT_EQ(columns.size(), 4u);
    EXPECT_EQ(columns[1].high, 0.5f);
    EXPECT_EQ(columns[0].high, 0);
    EXPECT_EQ(columns[3].low, -0.25f);
}

// Half an hour of stereo sound, a 400 MB picture and a FLAC of twenty minutes
// at 192 kHz: the sound is read a block at a time (and plays from its file),
// the other two say they are too big or too long without being decoded, and
// the process never grows by more than the preview's 64 MB budget.
TEST(FilePreview, ALongSoundAndAHugePictureStayWithinTheMemoryBudget) {
    TempFolder temp{L"preview"};
    constexpr uint32_t kHalfHourBytes = 1800u * 44100 * 4;
    std::string wav = WriteWav(Sine(44100, 2, 2, 440, 0.5));  // two seconds of tone, then silence
    putLittle32(wav, 4, 36 + kHalfHourBytes);
    putLittle32(wav, 40, kHalfHourBytes);
    std::string bmp(54, '\0');
    bmp[0] = 'B', bmp[1] = 'M';
    putLittle32(bmp, 2, 54 + 10240u * 10240 * 4);
    putLittle32(bmp, 10, 54);
    putLittle32(bmp, 14, 40);
    putLittle32(bmp, 18, 10240);
    putLittle32(bmp, 22, 10240);
    bmp[26] = 1, bmp[28] = 32;
    // The stream's description: 192000 Hz, two channels of 24 bits, 230400000 frames.
    std::string flac("fLaC\x80\x00\x00\x22", 8);
    flac += std::string("\x10\x00\x10\x00\x00\x00\x00\x00\x00\x00\x2E\xE0\x03\x70\x0D\xBB\xA0\x00", 18);
    flac += std::string(16, '\0');
    const struct {
        const wchar_t* name;
        std::string head;
        uint64_t size;
        PreviewKind kind;
        std::wstring firstLine;
    } cases[] = {
        {L"half-hour.wav", wav.substr(0, 44 + 2 * 44100 * 4), 44ull + kHalfHourBytes, PreviewKind::Sound,
         L"1800.0 s, 44100 Hz, stereo."},
        {L"huge.bmp", bmp, 54ull + 10240ull * 10240 * 4, PreviewKind::Nothing,
         L"10240 x 10240 pixels, 400.0 MB: too big to preview."},
        {L"long.flac", flac, 1 << 20, PreviewKind::Nothing,
         L"1200.0 s, 192000 Hz, stereo, 1.0 MB: too long to preview."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(toUtf8(c.name));
        const std::wstring path = bigFile(temp, c.name, c.head, c.size);
        const uint64_t before = peakMemory();
        const FilePreview preview = makeFilePreview(path, 300, 120, JobControl());
        const uint64_t grown = peakMemory() - before;
        ::testing::Test::RecordProperty(toUtf8(std::wstring(c.name) + L" peak MB"), std::to_string(grown >> 20));
        EXPECT_LT(grown, 64u << 20) << (grown >> 20) << " MB";
        EXPECT_EQ(preview.kind, c.kind);
        ASSERT_FALSE(preview.lines.empty());
        EXPECT_EQ(preview.lines[0], c.firstLine);
        if (c.kind == PreviewKind::Sound) {
            EXPECT_TRUE(preview.playable);
            EXPECT_FALSE(preview.sound) << "a sound this long plays from its file";
            ASSERT_EQ(preview.wave.size(), 300u);
            EXPECT_NEAR(preview.wave[0].high, 0.5, 0.01);  // the tone
            EXPECT_EQ(preview.wave[299].high, 0);          // the silence
        }
    }
}

// A sound plays from bytes the player holds itself, and stops when the player goes.
TEST(SoundPlayer, HoldsWhatItPlaysAndStopsWhenItGoes) {
    auto wav = std::make_shared<const std::string>(WriteWav(Sine(22050, 1, 20, 440, 0.1)));
    const std::weak_ptr<const std::string> held = wav;
    const std::string blip = WriteWav(Sine(22050, 1, 0.05, 440, 0.1));
    // A sound asked not to stop another doesn't start while one plays.
    const auto somethingPlays = [&] {
        if (!PlaySoundW(reinterpret_cast<const wchar_t*>(blip.data()), nullptr,
                        SND_MEMORY | SND_ASYNC | SND_NOSTOP | SND_NODEFAULT))
            return true;
        PlaySoundW(nullptr, nullptr, 0);
        return false;
    };
    bool played = false;
    {
        SoundPlayer player;
        if (!player.play(std::move(wav), L"")) GTEST_SKIP() << "the system has no way to play a sound here";
        EXPECT_FALSE(held.expired()) << "the player holds what it plays";
        played = somethingPlays();
    }
    EXPECT_TRUE(held.expired());
    EXPECT_FALSE(somethingPlays());
    if (!played) GTEST_SKIP() << "Wine plays no sound here";
}
