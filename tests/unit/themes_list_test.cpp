// themes.json as the launcher and the publisher read it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "addons/themes_list.h"
#include "core/value_count.h"

using namespace vorlane;

TEST(ThemesList, WhatCountsAsAList) {
    const std::string many(kMostJsonValues, ',');
    struct Case {
        std::string text;
        ThemesListVerdict verdict;
        std::vector<ThemesListEntry> entries;
    } cases[] = {
        {"\xEF\xBB\xBF[{\"Theme\": \"Ember\", \"Build\": \"a1b2c3d\", \"Index\": \"x\", \"Note\": 1}]",
         ThemesListVerdict::Good, {{L"Ember", L"a1b2c3d", L"x"}}},
        // Elements that can't name a theme and build are passed over; an index that isn't text is none.
        {"[1, {\"Theme\": 5, \"Build\": \"a1b2c3d\"}, {\"Theme\": \"Frost\", \"Build\": \"a1b2c3d\", \"Index\": 7}]",
         ThemesListVerdict::Good, {{L"Frost", L"a1b2c3d", L""}}},
        {"{\"Theme\": \"Ember\"}", ThemesListVerdict::NotAList, {}},
        // Commas inside strings aren't values; outside them they are, and too many aren't even parsed.
        {"[\"" + many + "\"]", ThemesListVerdict::Good, {}},
        {"[" + many + "]", ThemesListVerdict::TooBig, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 80));
        std::vector<ThemesListEntry> entries{{L"left", L"over", L""}};
        EXPECT_EQ(readThemesList(c.text, entries), c.verdict);
        EXPECT_EQ(entries, c.entries);
    }
}

TEST(ThemesList, AnEntryPutInReplacesItsThemeAndBuild) {
    std::vector<ThemesListEntry> entries{{L"Ember", L"a1b2c3d", L"1"}, {L"Ember", L"b2c3d4e", L"2"}};
    putThemesListEntry(entries, {L"Ember", L"a1b2c3d", L"3"});
    std::vector<ThemesListEntry> read;
    ASSERT_EQ(readThemesList(themesListJson(entries), read), ThemesListVerdict::Good);
    EXPECT_EQ(read, (std::vector<ThemesListEntry>{{L"Ember", L"b2c3d4e", L"2"}, {L"Ember", L"a1b2c3d", L"3"}}));
}
