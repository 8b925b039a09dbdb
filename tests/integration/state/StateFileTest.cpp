// The state file as the core reads it: values come out as the snapshot writes them (so they
// compare with what a printer reports), YAML and JSON give the same state, and the digest
// the record keeps for the logos follows every picture byte and option.
#include "TempDir.h"
#include "state/StateFile.h"

#include <gtest/gtest.h>

TEST(StateFile, YamlAndJsonGiveTheSameCanonicalState)
{
    TempDir tmp;
    writeFileBytes(tmp / "a.bmp", "BM"); // read only when a state names it as a logo
    const std::string yaml = "tavro: 1\nmodel: tavro46/48\nsettings:\n  SPEED: 150\n  cut_mode: FULL\n"
                             "logo_settings:\n  bottom: {enabled: true, number: 7, align: right}\n";
    const std::string jsonText = R"({"tavro": 1, "model": "TAVRO46/48", "settings": {"speed": "150", "cut_mode": "full"},
        "logo_settings": {"bottom": {"enabled": true, "number": 7, "align": "right"}}})";
    for (const std::string& text : {yaml, jsonText}) {
        auto state = parseStateText(text, "s.yaml", tmp.path(), ModelFamily::None);
        ASSERT_TRUE(state.ok()) << state.message();
        EXPECT_EQ(state->model, kFamilyTavro46);
        ASSERT_TRUE(state->settings);
        EXPECT_EQ(state->settings->values, (SnapshotLines{{"speed", "150"}, {"cut_mode", "full"}}));
        ASSERT_TRUE(state->logoSettings);
        EXPECT_EQ(logoSettingsText(*state->logoSettings), "top off 1 center, bottom on 7 right, power_on off");
        EXPECT_FALSE(state->logos || state->firmware);
        state->keepOnly({StateSection::LogoSettings});
        EXPECT_FALSE(state->has(StateSection::Settings));
        EXPECT_TRUE(state->has(StateSection::LogoSettings));
    }
}

TEST(StateFile, SectionListsAndModelNames)
{
    auto all = parseStateSections("all");
    ASSERT_TRUE(all.ok());
    EXPECT_EQ(all->size(), 4u);
    auto two = parseStateSections("logos,firmware");
    ASSERT_TRUE(two.ok());
    EXPECT_EQ(*two, (std::set<StateSection>{StateSection::Logos, StateSection::Firmware}));
    auto bad = parseStateSections("logos,network2");
    ASSERT_FALSE(bad.ok());
    EXPECT_NE(bad.message().find("network2"), std::string::npos);
    for (ModelFamily f : {kFamilyTavro15, kFamilyTavro25, kFamilyTavro25II, kFamilyTavro44i, kFamilyTavro36, kFamilyTavro46})
        EXPECT_EQ(modelOfName(modelName(f)), f) << modelName(f);
}

TEST(StateFile, LogoDigestFollowsPicturesAndOptions)
{
    StateLogos a;
    a.files = {{"h.bmp", "h.bmp", std::string(64, 'a')}};
    const std::string base = a.digest();
    StateLogos b = a;
    b.files[0].sha256 = std::string(64, 'b');
    StateLogos c = a;
    c.center = {1};
    StateLogos d = a;
    d.gray = true;
    StateLogos e = a;
    e.diverging = 127;
    for (const StateLogos* other : {&b, &c, &d, &e})
        EXPECT_NE(other->digest(), base);
    StateLogos same = a;
    same.files[0].name = "elsewhere/h.bmp";
    EXPECT_EQ(same.digest(), base) << "the same picture under another name is the same upload";
}
