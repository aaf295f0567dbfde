// The names a theme's folder may not have: those Windows keeps for devices,
// with or without an extension, and those ending in a dot or a blank; and the
// check that refuses a theme named so.
#include <gtest/gtest.h>

#include "core/text.h"
#include "themes/create_theme.h"

namespace vorlane {
namespace {

TEST(ThemeFolderNames, DeviceNamesAndTrailingDotsOrBlanksAreRefused) {
    const struct {
        const wchar_t* name;
        bool reserved;
    } cases[] = {
        {L"CON", true},       {L"con", true},      {L"Nul.txt", true},  {L"aux.tar.gz", true}, {L"PRN", true},
        {L"COM1", true},      {L"com9.log", true}, {L"LPT1", true},     {L"lpt9", true},       {L"Reef.", true},
        {L"Reef ", true},     {L"COM0", false},    {L"COM10", false},   {L"LPT", false},       {L"CONSOLE", false},
        {L"Con_Air", false},  {L"Downloaded", false}, {L"", false},     {L"Sunken_Harbour", false},
    };
    for (const auto& c : cases) EXPECT_EQ(IsReservedFolderName(c.name), c.reserved) << toUtf8(c.name);
}

TEST(ThemeFolderNames, AThemeNamedLikeADeviceIsRefusedWithASentence) {
    ThemeJob job;
    job.Name = L"Con";
    job.FolderName = FolderName(job.Name);
    job.Style = L"prison break";
    job.Slots = {ThemeSlot{L"Icon_A", L"Icon", L"", L"A", L"", L"Icons/A.png"}};
    job.Folder = L"C:\\Themes\\Con";
    job.ComfyAddress = L"http://127.0.0.1:8188";
    EXPECT_EQ(ValidateThemeJob(job), L"\"Con\" can't be a folder's name on Windows: give it another name.");
    job.Name = job.FolderName = L"Lpt3";
    EXPECT_EQ(ValidateThemeJob(job), L"\"Lpt3\" can't be a folder's name on Windows: give it another name.");
    job.Name = job.FolderName = L"Convict";
    EXPECT_EQ(ValidateThemeJob(job), L"");
}

}  // namespace
}  // namespace vorlane
