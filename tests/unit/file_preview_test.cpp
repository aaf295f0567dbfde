// What the theme files window shows of a file: a picture fitted without
// stretching, a sound's outline and measures, a model's size and front
// silhouette, and the one line for each file that doesn't read.
#include <gtest/gtest.h>

#include <windows.h>

#include <cmath>

#include "core/files.h"
#include "core/text.h"
#include "media/preview_measures.h"
#include "media/wav_file.h"
#include "support/temp_folder.h"
#include "support/test_pictures.h"
#include "support/test_sounds.h"
#include "glb_writer/glb_writer.h"
#include "ui/file_preview.h"

using namespace vorlane;
using namespace vorlane::testing;

namespace {

// A GLB that reads but draws no triangle: its one primitive is points.
std::string pointsOnlyGlb() {
    GlbWriter writer;
    writer.addMesh({{writer.addPositions({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}), std::nullopt, 0}});
    return writer.bytes();
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
            EXPECT_EQ(preview.sound, c.bytes);
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
