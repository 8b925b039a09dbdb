#include "sim/FleetPlan.h"

#include <cerrno>
#include <cstdlib>
#include <sstream>

namespace {

bool parseNumber(const std::string& text, long low, long high, long* out)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(text.c_str(), &end, 10);
    if (!end || *end || errno || v < low || v > high)
        return false;
    *out = v;
    return true;
}

std::vector<std::string> split(const std::string& text, char sep)
{
    std::vector<std::string> out;
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, sep))
        out.push_back(item);
    if (!text.empty() && text.back() == sep)
        out.emplace_back();
    return out;
}

// "3,5,10-20": inclusive ranges of numbers in low..high.
bool parseRanges(const std::string& text, long low, long high, std::vector<std::pair<int, int>>* out)
{
    for (const std::string& item : split(text, ',')) {
        auto dash = item.find('-');
        long a = 0, b = 0;
        if (dash == std::string::npos) {
            if (!parseNumber(item, low, high, &a))
                return false;
            b = a;
        } else if (!parseNumber(item.substr(0, dash), low, high, &a) ||
                   !parseNumber(item.substr(dash + 1), low, high, &b) || b < a) {
            return false;
        }
        out->emplace_back(static_cast<int>(a), static_cast<int>(b));
    }
    return !out->empty();
}

struct KindName {
    const char* name;
    FleetFault::Kind kind;
};
constexpr KindName kKinds[] = {
    {"stall", FleetFault::Kind::Stall},
    {"hangup", FleetFault::Kind::Hangup},
    {"silent", FleetFault::Kind::Silent},
    {"no-answer", FleetFault::Kind::NoAnswer},
    {"refuse-setting", FleetFault::Kind::RefuseSetting},
    {"delay", FleetFault::Kind::Delay},
    {"noise", FleetFault::Kind::Noise},
    {"net-silent-set", FleetFault::Kind::NetSilentSet},
    {"net-duplicate", FleetFault::Kind::NetDuplicate},
    {"net-long-answer", FleetFault::Kind::NetLongAnswer},
};

} // namespace

std::optional<FleetFault> FleetFault::parse(const std::string& text, std::string* error)
{
    auto fail = [&](const std::string& why) -> std::optional<FleetFault> {
        *error = "--fleet-fault " + text + ": " + why;
        return std::nullopt;
    };
    const std::vector<std::string> fields = split(text, ':');
    if (fields.size() < 2)
        return fail("expected KIND:WHICH[:NAME=VALUE...], e.g. stall:every=7 or hangup:k=3");
    FleetFault f;
    bool known = false;
    for (const KindName& k : kKinds) {
        if (fields[0] == k.name) {
            f.kind = k.kind;
            f.name = k.name;
            known = true;
        }
    }
    if (!known) {
        std::string names;
        for (const KindName& k : kKinds)
            names += std::string(names.empty() ? "" : ", ") + k.name;
        return fail("unknown fault \"" + fields[0] + "\" (one of " + names + ")");
    }

    const std::string& which = fields[1];
    long every = 0;
    if (which == "all") {
        f.all = true;
    } else if (which.rfind("every=", 0) == 0) {
        if (!parseNumber(which.substr(6), 1, 1000000, &every))
            return fail("every= takes a number from 1");
        f.every = static_cast<int>(every);
    } else if (which.rfind("k=", 0) == 0) {
        if (!parseRanges(which.substr(2), 1, 1000000, &f.ranges))
            return fail("k= takes printer numbers from 1 and ranges, e.g. k=3 or k=1,4-6");
    } else {
        return fail("which printers: k=LIST, every=N or all, not \"" + which + "\"");
    }

    for (size_t i = 2; i < fields.size(); ++i) {
        const std::string& field = fields[i];
        const auto eq = field.find('=');
        const std::string name = field.substr(0, eq);
        const std::string value = eq == std::string::npos ? "" : field.substr(eq + 1);
        long v = 0;
        const bool takesBytes = f.kind == Kind::Stall || f.kind == Kind::Hangup;
        const bool takesMs = f.kind == Kind::Stall || f.kind == Kind::Delay;
        const bool takesSettings = f.kind == Kind::NoAnswer || f.kind == Kind::RefuseSetting;
        if (name == "after" && takesBytes) {
            if (!parseNumber(value, 0, 1L << 40, &v))
                return fail("after= takes a byte count");
            f.after = v;
        } else if (name == "ms" && takesMs) {
            if (!parseNumber(value, 0, 600000, &v))
                return fail("ms= takes 0..600000");
            f.ms = static_cast<int>(v);
        } else if (name == "settings" && takesSettings) {
            std::vector<std::pair<int, int>> ranges;
            if (!parseRanges(value, 1, 255, &ranges))
                return fail("settings= takes setting numbers 1..255, e.g. settings=250,255");
            for (auto [a, b] : ranges)
                for (int n = a; n <= b; ++n)
                    f.settings.insert(n);
        } else {
            return fail("\"" + field + "\" is not a parameter of " + f.name);
        }
    }
    return f;
}

bool FleetFault::hits(int k) const
{
    if (all)
        return true;
    if (every > 0)
        return k % every == 0;
    for (auto [a, b] : ranges)
        if (k >= a && k <= b)
            return true;
    return false;
}

void FleetFault::applyTo(SimSettings& s, NetModuleOptions& net) const
{
    auto allSettings = [] {
        std::set<int> out;
        for (int n = 1; n <= 255; ++n)
            out.insert(n);
        return out;
    };
    switch (kind) {
    case Kind::Stall:
        s.linkFaults.stallAfter = after;
        s.linkFaults.stallMs = ms >= 0 ? ms : 3000;
        break;
    case Kind::Hangup:
        s.linkFaults.hangupAfter = after;
        break;
    case Kind::Silent:
        s.linkFaults.silent = true;
        net.silent = true;
        break;
    case Kind::NoAnswer:
        s.interpreterFaults.noAnswerSettings = settings.empty() ? allSettings() : settings;
        break;
    case Kind::RefuseSetting:
        s.interpreterFaults.refuseSettings = settings.empty() ? allSettings() : settings;
        break;
    case Kind::Delay:
        s.linkFaults.answerDelayMs = ms >= 0 ? ms : 1000;
        break;
    case Kind::Noise:
        s.linkFaults.noise = true;
        break;
    case Kind::NetSilentSet:
        net.silentSet = true;
        break;
    case Kind::NetDuplicate:
        net.duplicate = true;
        break;
    case Kind::NetLongAnswer:
        net.longAnswer = true;
        break;
    }
}

namespace FleetPlan {

std::optional<std::array<uint8_t, 4>> address(const std::array<uint8_t, 4>& first, int k)
{
    if (k < 1 || first[0] != 127 || first[3] < 1 || first[3] > 254)
        return std::nullopt;
    // The last byte runs 1..254 (254 slots); what passes it carries into bytes 2 and 3.
    const long slot = (first[3] - 1) + static_cast<long>(k - 1);
    const long upper = first[1] * 256L + first[2] + slot / 254;
    if (upper > 255L * 256 + 255)
        return std::nullopt;
    return std::array<uint8_t, 4>{127, static_cast<uint8_t>(upper / 256), static_cast<uint8_t>(upper % 256),
                                  static_cast<uint8_t>(slot % 254 + 1)};
}

std::array<uint8_t, 6> mac(const std::array<uint8_t, 6>& base, int k)
{
    uint32_t low = (uint32_t(base[3]) << 16 | uint32_t(base[4]) << 8 | base[5]) + static_cast<uint32_t>(k - 1);
    return {base[0], base[1], base[2], static_cast<uint8_t>(low >> 16), static_cast<uint8_t>(low >> 8),
            static_cast<uint8_t>(low)};
}

int family(const std::vector<int>& models, int k, int fallback)
{
    if (models.empty() || k < 1)
        return fallback;
    return models[static_cast<size_t>(k - 1) % models.size()];
}

std::string text(const std::array<uint8_t, 4>& a)
{
    return std::to_string(a[0]) + "." + std::to_string(a[1]) + "." + std::to_string(a[2]) + "." + std::to_string(a[3]);
}

} // namespace FleetPlan
