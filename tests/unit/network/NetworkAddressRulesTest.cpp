// The address rules of the Network Setting dialog and `tavroctl net set`: which typed
// addresses, masks and gateways pass, which are refused and why, in both languages.
#include "network/NetworkAddressRules.h"

#include "app/MessageCatalog.h"
#include "app/MessageCatalogNetwork.h"

#include <gtest/gtest.h>

namespace {

using Problem = AddressRuleCheck::Problem;

struct RuleCase {
    const char* ip;
    const char* mask;
    const char* gateway;
    Problem problem;
    AddressField field;     // where the problem is (Ip when none)
    bool outside;           // gateway outside the subnet
    const char* inMessage;  // a part of the English refusal or gateway text ("" for none)
};

const RuleCase kRuleCases[] = {
    {"192.168.0.7", "255.255.255.0", "192.168.0.1", Problem::None, AddressField::Ip, false, ""},
    {" 192.168.0.7 ", "255.255.255.0", "0.0.0.0", Problem::None, AddressField::Ip, false, ""}, // no gateway
    {"10.1.2.3", "255.0.0.0", "10.200.0.1", Problem::None, AddressField::Ip, false, ""},
    {"10.1.2.3", "255.255.255.255", "10.1.2.3", Problem::None, AddressField::Ip, false, ""},
    {"172.16.5.4", "255.255.240.0", "172.16.15.254", Problem::None, AddressField::Ip, false, ""},
    // A part above 255 is refused, never cut to its low byte.
    {"192.168.0.300", "255.255.255.0", "192.168.0.1", Problem::NotAnAddress, AddressField::Ip, false,
     "The IP address \"192.168.0.300\" is not an address"},
    {"192.168.0.7", "255.255.255.999", "192.168.0.1", Problem::NotAnAddress, AddressField::Mask, false,
     "The subnet mask \"255.255.255.999\""},
    {"192.168.0.7", "255.255.255.0", "192.168.0", Problem::NotAnAddress, AddressField::Gateway, false,
     "The gateway \"192.168.0\""},
    {"192.168.0.7 (DHCP)", "255.255.255.0", "192.168.0.1", Problem::NotAnAddress, AddressField::Ip, false, ""},
    {"1.2.3.4.5", "255.255.255.0", "1.2.3.1", Problem::NotAnAddress, AddressField::Ip, false, ""},
    {"1..3.4", "255.255.255.0", "1.2.3.1", Problem::NotAnAddress, AddressField::Ip, false, ""},
    {"1.2.3.-4", "255.255.255.0", "1.2.3.1", Problem::NotAnAddress, AddressField::Ip, false, ""},
    {"1.2.3.1000", "255.255.255.0", "1.2.3.1", Problem::NotAnAddress, AddressField::Ip, false, ""},
    {"", "255.255.255.0", "1.2.3.1", Problem::NotAnAddress, AddressField::Ip, false, ""},
    // Masks: ones from the left, then zeros, at least one.
    {"1.2.3.4", "1.2.3.4", "1.2.3.1", Problem::MaskNotContiguous, AddressField::Mask, false,
     "The subnet mask 1.2.3.4 is not a mask"},
    {"1.2.3.4", "255.0.255.0", "1.2.3.1", Problem::MaskNotContiguous, AddressField::Mask, false, ""},
    {"1.2.3.4", "255.255.255.1", "1.2.3.1", Problem::MaskNotContiguous, AddressField::Mask, false, ""},
    {"1.2.3.4", "0.0.0.0", "1.2.3.1", Problem::MaskNotContiguous, AddressField::Mask, false, ""},
    {"1.2.3.4", "128.0.0.0", "1.2.3.1", Problem::None, AddressField::Ip, false, ""},
    // Gateways outside the subnet are reported, not refused here.
    {"192.168.0.7", "255.255.255.0", "192.168.1.1", Problem::None, AddressField::Ip, true,
     "The gateway 192.168.1.1 is outside the subnet of 192.168.0.7 with mask 255.255.255.0"},
    {"172.16.5.4", "255.255.240.0", "172.16.16.1", Problem::None, AddressField::Ip, true, ""},
    {"10.1.2.3", "255.255.255.255", "10.1.2.4", Problem::None, AddressField::Ip, true, ""},
};

class NetworkAddressRules : public ::testing::TestWithParam<RuleCase> {
protected:
    void SetUp() override { selectCatalog(false); }
    void TearDown() override { selectCatalog(false); }
};

} // namespace

TEST_P(NetworkAddressRules, RefusesOrAcceptsAsTheRulesSay)
{
    const RuleCase& c = GetParam();
    const AddressRuleCheck check = checkNetworkAddresses(c.ip, c.mask, c.gateway);
    EXPECT_EQ(check.problem, c.problem);
    EXPECT_EQ(check.ok(), c.problem == Problem::None);
    if (!check.ok()) {
        EXPECT_EQ(check.field, c.field);
        EXPECT_FALSE(check.refusalText().empty());
        EXPECT_TRUE(check.gatewayText().empty()) << "no gateway question for values that are refused";
    } else {
        EXPECT_TRUE(check.refusalText().empty());
        EXPECT_EQ(readAddressText(c.ip), check.ip);
        EXPECT_EQ(readAddressText(c.mask), check.mask);
        EXPECT_EQ(readAddressText(c.gateway), check.gateway);
    }
    EXPECT_EQ(check.gatewayOutsideSubnet, c.outside);
    EXPECT_EQ(check.gatewayText().empty(), !c.outside);
    const std::string said = check.ok() ? check.gatewayText() : check.refusalText();
    EXPECT_NE(said.find(c.inMessage), std::string::npos) << said;
}

INSTANTIATE_TEST_SUITE_P(Table, NetworkAddressRules, ::testing::ValuesIn(kRuleCases));

TEST(NetworkAddressRulesText, TextsFollowTheActiveLanguage)
{
    const AddressRuleCheck bad = checkNetworkAddresses("192.168.0.7", "255.255.255.0", "192.168.0.300");
    const AddressRuleCheck mask = checkNetworkAddresses("192.168.0.7", "1.2.3.4", "192.168.0.1");
    const AddressRuleCheck outside = checkNetworkAddresses("192.168.0.7", "255.255.255.0", "10.0.0.1");
    selectCatalog(true);
    EXPECT_EQ(bad.refusalText(), "게이트웨이 \"192.168.0.300\"은(는) 올바른 주소가 아닙니다. 0~255 사이의 숫자 네 개를 "
                                 "점으로 구분하여 입력하십시오 (예: 192.168.0.254).");
    EXPECT_NE(mask.refusalText().find("서브넷 마스크 1.2.3.4"), std::string::npos);
    EXPECT_NE(outside.gatewayText().find("게이트웨이 10.0.0.1"), std::string::npos);
    selectCatalog(false);
    EXPECT_EQ(bad.refusalText().rfind("The gateway \"192.168.0.300\"", 0), 0u) << bad.refusalText();
}

TEST(NetworkAddressRulesText, FillTextReplacesNumberedPlaceholdersOnly)
{
    EXPECT_EQ(fillText("%2 then %1, 100% sure", {"a", "b"}), "b then a, 100% sure");
    EXPECT_EQ(fillText("%3 stays", {"a"}), "%3 stays");
    for (NetText t : {NetText::NotAnAddress, NetText::ConnectFailed, NetText::GatewayOutsideSubnet})
        for (bool korean : {false, true})
            EXPECT_NE(std::string(networkText(t, korean)).find("%1"), std::string::npos);
}
