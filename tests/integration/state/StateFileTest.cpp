// The state file as the core reads it: values come out as the snapshot writes them (so they
// compare with what a printer reports), YAML and JSON give the same state, the digest the
// record keeps for the logos follows every picture byte and option, and a network section
// keeps the address rules of the network dialog.
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
    EXPECT_EQ(all->size(), 5u);
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

namespace {

struct NetworkCase {
    const char* name;
    const char* section;  // the network mapping
    const char* expected; // "" accepted; else in the refusal, with line and key
};

class StateNetworkSection : public testing::TestWithParam<NetworkCase> {};

} // namespace

TEST_P(StateNetworkSection, AddressRulesBeforeAnythingIsSent)
{
    const NetworkCase& c = GetParam();
    TempDir tmp;
    auto state = parseStateText(std::string("tavro: 1\nnetwork:\n") + c.section, "n.yaml", tmp.path(), ModelFamily::None);
    if (*c.expected) {
        ASSERT_FALSE(state.ok()) << c.section;
        EXPECT_NE(state.message().find(c.expected), std::string::npos) << state.message();
        return;
    }
    ASSERT_TRUE(state.ok()) << state.message();
    ASSERT_TRUE(state->network);
    EXPECT_EQ(state->network->line, 2);
}

INSTANTIATE_TEST_SUITE_P(
    Sections, StateNetworkSection,
    testing::Values(
        NetworkCase{"fixed", "  {dhcp: false, ip: 192.168.0.50, mask: 255.255.255.0, gateway: 192.168.0.1, port: 9100}", ""},
        NetworkCase{"no_gateway", "  {ip: 10.1.2.3, mask: 255.0.0.0, gateway: 0.0.0.0}", ""},
        NetworkCase{"dhcp_alone", "  {dhcp: true, port: 515}", ""},
        NetworkCase{"outside_allowed",
                    "  ip: 192.168.0.50\n  mask: 255.255.255.0\n  gateway: 10.0.0.1\n  gateway_outside_subnet: true\n", ""},
        NetworkCase{"outside", "  ip: 192.168.0.50\n  mask: 255.255.255.0\n  gateway: 10.0.0.1\n",
                    "n.yaml:5: network.gateway: The gateway 10.0.0.1 is outside the subnet"},
        NetworkCase{"part_too_big", "  ip: 192.168.0.256\n  mask: 255.255.255.0\n  gateway: 0.0.0.0\n",
                    "n.yaml:3: network.ip: must be four numbers 0..255"},
        NetworkCase{"mask_gap", "  ip: 192.168.0.5\n  mask: 255.0.255.0\n  gateway: 0.0.0.0\n",
                    "n.yaml:4: network.mask: must be ones from the left"},
        NetworkCase{"last_number", "  ip: 192.168.0.255\n  mask: 255.255.255.0\n  gateway: 0.0.0.0\n",
                    "n.yaml:3: network.ip: the last number must be 1..254"},
        NetworkCase{"fixed_without_ip", "  {dhcp: false, mask: 255.0.0.0, gateway: 0.0.0.0}",
                    "network.ip: missing"},
        NetworkCase{"port", "  {dhcp: true, port: 80}", "network.port: 80 is not accepted"},
        NetworkCase{"unknown_key", "  {dhcp: true, mac: 02:5C:3A:00:00:01}", "network.mac: unknown key"}),
    [](const auto& info) { return std::string(info.param.name); });
