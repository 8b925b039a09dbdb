// The package's udev rule: a syntax check of our own (this Debian's udevadm has no
// `verify`), then the rule applied to the devices it is for and to ones it must leave
// alone, by a small evaluator of the udev rule language the rule uses; `udevadm verify`
// where the installed udev has it.
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <fnmatch.h>
#include <optional>
#include <grp.h>

#include <cstdio>
#include <map>
#include <set>
#include <sstream>

namespace fs = std::filesystem;

namespace {

const fs::path kRuleFile = fs::path(TAVRO_SOURCE_DIR) / "packaging" / "60-tavroset.rules";

struct Term {
    std::string key;  // "ATTRS", "SUBSYSTEM", "ENV", ...
    std::string attr; // the part in braces
    std::string op;   // == != = += :=
    std::string value;
};
using Rule = std::vector<Term>;

const std::set<std::string> kMatchOnly = {"ACTION", "SUBSYSTEM", "SUBSYSTEMS", "KERNEL", "KERNELS", "DRIVER",
                                          "DRIVERS", "ATTRS", "DEVPATH", "TEST", "RESULT"};
const std::set<std::string> kAssignOnly = {"GROUP", "MODE", "OWNER", "RUN", "OPTIONS", "IMPORT"};
const std::set<std::string> kEither = {"ENV", "TAG", "ATTR", "NAME", "SYMLINK"};
const std::set<std::string> kWithAttr = {"ATTR", "ATTRS", "ENV", "TEST", "RUN", "IMPORT"};

// Parses rule text; on a fault returns the line number and what is wrong in error.
std::vector<Rule> parseRules(const std::string& text, std::string& error)
{
    std::vector<Rule> rules;
    std::istringstream in(text);
    std::string line;
    int number = 0;
    auto fail = [&](const std::string& why) {
        error = "line " + std::to_string(number) + ": " + why;
        return std::vector<Rule>{};
    };
    while (std::getline(in, line)) {
        ++number;
        size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line[start] == '#')
            continue;
        Rule rule;
        size_t i = start;
        while (i < line.size()) {
            Term t;
            size_t k = i;
            while (k < line.size() && (std::isupper(static_cast<unsigned char>(line[k])) || line[k] == '_'))
                ++k;
            t.key = line.substr(i, k - i);
            if (t.key.empty())
                return fail("expected a key at column " + std::to_string(i + 1));
            if (k < line.size() && line[k] == '{') {
                size_t close = line.find('}', k);
                if (close == std::string::npos)
                    return fail("unclosed { after " + t.key);
                t.attr = line.substr(k + 1, close - k - 1);
                k = close + 1;
            }
            if (kWithAttr.count(t.key) != (t.attr.empty() ? 0u : 1u) && !(t.key == "RUN" || t.key == "IMPORT"))
                return fail(t.key + (t.attr.empty() ? " needs {attribute}" : " takes no {attribute}"));
            for (const char* op : {"==", "!=", "+=", "-=", ":=", "="})
                if (line.compare(k, std::strlen(op), op) == 0) {
                    t.op = op;
                    break;
                }
            if (t.op.empty())
                return fail("no operator after " + t.key);
            k += t.op.size();
            if (k >= line.size() || line[k] != '"')
                return fail("value of " + t.key + " is not quoted");
            size_t end = line.find('"', k + 1);
            if (end == std::string::npos)
                return fail("unclosed quote in the value of " + t.key);
            t.value = line.substr(k + 1, end - k - 1);
            const bool match = t.op == "==" || t.op == "!=";
            if (!kMatchOnly.count(t.key) && !kAssignOnly.count(t.key) && !kEither.count(t.key))
                return fail("unknown key " + t.key);
            if (kMatchOnly.count(t.key) && !match)
                return fail(t.key + " can only be matched (==, !=), not assigned");
            if (kAssignOnly.count(t.key) && match)
                return fail(t.key + " can only be assigned");
            rule.push_back(t);
            i = end + 1;
            while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
                ++i;
            if (i < line.size()) {
                if (line[i] != ',')
                    return fail("expected ',' between terms at column " + std::to_string(i + 1));
                ++i;
                while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
                    ++i;
                if (i == line.size())
                    return fail("trailing ','");
            }
        }
        bool assigns = false;
        for (auto& t : rule)
            assigns = assigns || !(t.op == "==" || t.op == "!=");
        if (!assigns)
            return fail("a rule that assigns nothing");
        rules.push_back(rule);
    }
    return rules;
}

// A device as udev sees it while it runs the rules.
struct Device {
    std::string subsystem, kernel;
    std::map<std::string, std::string> env;   // DEVTYPE, ...
    std::map<std::string, std::string> attrs; // its own and its parents' attributes
};
struct Outcome {
    std::set<std::string> tags;
    std::string group, mode;
    std::map<std::string, std::string> env;
};

bool globMatch(const std::string& pattern, const std::string& value)
{
    std::stringstream alternatives(pattern);
    std::string alt;
    while (std::getline(alternatives, alt, '|'))
        if (::fnmatch(alt.c_str(), value.c_str(), 0) == 0)
            return true;
    return false;
}

Outcome applyRules(const std::vector<Rule>& rules, const Device& d)
{
    Outcome o;
    for (auto& rule : rules) {
        bool matches = true;
        for (auto& t : rule) {
            if (t.op != "==" && t.op != "!=")
                continue;
            std::optional<std::string> actual;
            if (t.key == "SUBSYSTEM")
                actual = d.subsystem;
            else if (t.key == "KERNEL")
                actual = d.kernel;
            else if (t.key == "ENV") {
                if (auto it = o.env.find(t.attr); it != o.env.end())
                    actual = it->second;
                else if (auto e = d.env.find(t.attr); e != d.env.end())
                    actual = e->second;
            } else if (t.key == "ATTR" || t.key == "ATTRS") {
                if (auto it = d.attrs.find(t.attr); it != d.attrs.end())
                    actual = it->second;
            } else {
                ADD_FAILURE() << "the evaluator does not know " << t.key;
            }
            bool equal = actual && globMatch(t.value, *actual);
            if ((t.op == "==") != equal) {
                matches = false;
                break;
            }
        }
        if (!matches)
            continue;
        for (auto& t : rule) {
            if (t.key == "TAG" && t.op == "+=")
                o.tags.insert(t.value);
            else if (t.key == "GROUP")
                o.group = t.value;
            else if (t.key == "MODE")
                o.mode = t.value;
            else if (t.key == "ENV" && t.op == "=")
                o.env[t.attr] = t.value;
        }
    }
    return o;
}

std::vector<Rule> packageRules()
{
    std::string error;
    auto rules = parseRules(readFileBytes(kRuleFile), error);
    EXPECT_EQ(error, "") << kRuleFile;
    EXPECT_FALSE(rules.empty());
    return rules;
}

TEST(UdevRule, ParsesAndEveryValueIsSound)
{
    auto rules = packageRules();
    for (auto& rule : rules)
        for (auto& t : rule) {
            if (t.key == "MODE") {
                EXPECT_TRUE(t.value.size() == 4 && t.value.find_first_not_of("01234567") == std::string::npos)
                    << "MODE " << t.value;
            }
            if (t.key == "GROUP") {
                EXPECT_NE(::getgrnam(t.value.c_str()), nullptr) << "group " << t.value << " is not on Debian";
            }
            if (t.attr == "idVendor") {
                EXPECT_EQ(t.value, "5a3e") << "sysfs writes ids in lower case; a match is case-sensitive";
            }
        }
    // logind's seat rule (73-seat-late.rules) turns the uaccess tag into an ACL: ours must run before it.
    EXPECT_LT(kRuleFile.filename().string(), std::string("73-seat-late.rules"));
}

TEST(UdevRule, OurCheckerRejectsBrokenRules)
{
    std::string error;
    for (const char* broken : {
             "ATTRS{idVendor}=\"5a3e\", MODE=\"0660\"\n",                  // assignment to a match key
             "SUBSYSTEM==\"tty\", GROUP==\"lp\"\n",                        // match on an assign key
             "SUBSYSTEM==\"tty\", MODE=\"0660\n",                          // unclosed quote
             "SUBSYSTEM==\"tty\" MODE=\"0660\"\n",                         // no comma
             "SUBSYSTEM==\"tty\", ATTRS==\"5a3e\", MODE=\"0660\"\n",        // ATTRS without {attribute}
             "SUBSYSTEM==\"tty\", KERNEL==\"ttyACM*\"\n",                  // assigns nothing
             "SUBSYSTEMZ==\"tty\", MODE=\"0660\"\n",                       // unknown key
         }) {
        error.clear();
        parseRules(broken, error);
        EXPECT_NE(error, "") << "accepted: " << broken;
    }
}

TEST(UdevRule, GivesThePrintersNodesToTheSeatAndTheGroups)
{
    auto rules = packageRules();
    Device lp{"usbmisc", "lp0", {}, {{"idVendor", "5a3e"}, {"idProduct", "3302"}}};
    Outcome o = applyRules(rules, lp);
    EXPECT_TRUE(o.tags.count("uaccess"));
    EXPECT_EQ(o.group, "lp");
    EXPECT_EQ(o.mode, "0660");

    for (const char* tty : {"ttyACM0", "ttyACM12", "ttyUSB3"}) {
        Device acm{"tty", tty, {}, {{"idVendor", "5a3e"}}};
        o = applyRules(rules, acm);
        EXPECT_TRUE(o.tags.count("uaccess")) << tty;
        EXPECT_EQ(o.group, "dialout") << tty;
        EXPECT_EQ(o.mode, "0660") << tty;
        EXPECT_EQ(o.env["ID_MM_DEVICE_IGNORE"], "1") << tty << ": ModemManager must leave it alone";
    }

    Device usb{"usb", "1-1", {{"DEVTYPE", "usb_device"}}, {{"idVendor", "5a3e"}}};
    EXPECT_EQ(applyRules(rules, usb).env["ID_MM_DEVICE_IGNORE"], "1");
}

TEST(UdevRule, LeavesOtherDevicesAlone)
{
    auto rules = packageRules();
    std::vector<Device> others;
    others.push_back({"tty", "ttyACM0", {}, {{"idVendor", "1a86"}}});
    others.push_back({"tty", "ttyS0", {}, {}});
    others.push_back({"usbmisc", "lp0", {}, {{"idVendor", "04b8"}}});
    others.push_back({"usbmisc", "hiddev0", {}, {{"idVendor", "5a3e"}}});
    others.push_back({"tty", "tty1", {}, {{"idVendor", "5a3e"}}});
    others.push_back({"usb", "1-1:1.0", {{"DEVTYPE", "usb_interface"}}, {{"idVendor", "5a3e"}}});
    for (const Device& d : others) {
        Outcome o = applyRules(rules, d);
        EXPECT_TRUE(o.tags.empty() && o.group.empty() && o.mode.empty() && o.env.empty())
            << d.subsystem << "/" << d.kernel;
    }
}

TEST(UdevRule, UdevadmVerifyAcceptsIt)
{
    if (std::system("udevadm verify --help >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "this udevadm has no `verify` (systemd 253 and later have it); our own check ran above";
    std::string cmd = "udevadm verify --no-summary '" + kRuleFile.string() + "' 2>&1";
    EXPECT_EQ(std::system(cmd.c_str()), 0);
}

} // namespace
