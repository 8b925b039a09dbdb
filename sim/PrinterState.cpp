#include "sim/PrinterState.h"

#include "common/FileIo.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

bool writeAtomic(const fs::path& file, const std::string& content, std::string* error)
{
    FileOutcome saved = writeFileAtomically(file, content);
    if (!saved && error)
        *error = "cannot write " + saved.message;
    return saved.ok();
}

std::vector<std::string> readLines(const fs::path& file)
{
    std::vector<std::string> lines;
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line))
        if (!line.empty() && line[0] != '#')
            lines.push_back(line);
    return lines;
}

} // namespace

PrinterState::PrinterState(int family)
    : settings(SettingTable::factoryValues(family)), m_family(family)
{
    NetworkRecord r;
    r.ip = {127, 0, 0, 1};
    r.mask = {255, 0, 0, 0};
    r.gateway = {127, 0, 0, 1};
    r.mac = {0x02, 0x5C, 0x3A, 0x00, 0x00, 0x01};
    network.push_back(r);
}

void PrinterState::markAllDirty()
{
    settingsDirty = picturesDirty = logoDirty = networkDirty = flashDirty = incompleteDirty = true;
}

std::string PrinterState::incompleteAreas() const
{
    std::string out;
    for (auto& [area, detail] : incomplete)
        out += (out.empty() ? "" : ", ") + area;
    return out;
}

bool PrinterState::load(const std::string& dirName, std::vector<std::string>* warnings)
{
    fs::path dir(dirName);
    std::error_code ec;
    if (!fs::exists(dir, ec))
        return true;
    if (!fs::is_directory(dir, ec))
        return false;
    auto warn = [&](const std::string& w) {
        if (warnings)
            warnings->push_back(w);
    };

    for (auto& line : readLines(dir / "settings.txt")) {
        std::istringstream in(line);
        int number = 0;
        if (!(in >> number) || number < 1 || number > 255) {
            warn("settings.txt: bad line '" + line + "'");
            continue;
        }
        SettingBytes bytes;
        std::string h;
        bool ok = true;
        while (in >> h) {
            char* end = nullptr;
            long v = std::strtol(h.c_str(), &end, 16);
            if (!end || *end || v < 0 || v > 255) {
                ok = false;
                break;
            }
            bytes.push_back(static_cast<uint8_t>(v));
        }
        if (!ok || bytes.size() != SettingTable::valueLength(number)) {
            warn("settings.txt: bad value for setting " + std::to_string(number));
            continue;
        }
        settings[number] = bytes;
    }

    if (auto lines = readLines(dir / "logo.txt"); !lines.empty()) {
        unsigned v[6];
        char tail;
        if (std::sscanf(lines[0].c_str(), "%u %u %u %u %u %u %c", &v[0], &v[1], &v[2], &v[3], &v[4],
                        &v[5], &tail) == 6 &&
            v[0] < 256 && v[1] < 256 && v[2] < 256 && v[3] < 256 && v[4] < 256 && v[5] < 256) {
            logo = {uint8_t(v[0]), uint8_t(v[1]), uint8_t(v[2]), uint8_t(v[3]), uint8_t(v[4]), uint8_t(v[5])};
        } else {
            warn("logo.txt: bad line");
        }
    }

    if (auto lines = readLines(dir / "network.txt"); !lines.empty()) {
        std::vector<NetworkRecord> recs;
        for (auto& line : lines) {
            if (auto r = NetworkRecord::fromLine(line))
                recs.push_back(*r);
            else
                warn("network.txt: bad line '" + line + "'");
        }
        if (!recs.empty())
            network = recs;
    }

    for (auto& line : readLines(dir / "firmware.txt")) {
        std::istringstream in(line);
        FlashAreaRecord r;
        if (in >> r.area >> r.code >> r.size >> r.checksum && std::getline(in >> std::ws, r.verdict)) {
            // Lines written before the digest was kept go straight on with the verdict.
            if (r.verdict.rfind("fnv64-", 0) == 0 || r.verdict.rfind("- ", 0) == 0) {
                const auto space = r.verdict.find(' ');
                r.digest = r.verdict.substr(0, space);
                r.verdict = space == std::string::npos ? "" : r.verdict.substr(space + 1);
            }
            flash[r.area] = r;
        }
        else
            warn("firmware.txt: bad line '" + line + "'");
    }

    for (auto& line : readLines(dir / "incomplete.txt")) {
        std::istringstream in(line);
        std::string area, detail;
        if (in >> area && std::getline(in >> std::ws, detail))
            incomplete[area] = detail;
        else if (!area.empty())
            incomplete[area] = "-";
        else
            warn("incomplete.txt: bad line '" + line + "'");
    }

    for (auto& line : readLines(dir / "nv" / "index.txt")) {
        int k = 0, x = 0, y = 0;
        std::string kind;
        std::istringstream in(line);
        if (!(in >> k >> x >> y >> kind) || k < 1 || k > 255 || x < 0 || x > 1023 || y < 0 || y > 288 ||
            (kind != "mono" && kind != "gray")) {
            warn("nv/index.txt: bad line '" + line + "'");
            continue;
        }
        NvPicture p;
        p.xBytes = x;
        p.yBytes = y;
        p.gray = kind == "gray";
        if (!p.empty()) {
            std::ifstream raw(dir / "nv" / (std::to_string(k) + ".raw"), std::ios::binary);
            p.data.assign(std::istreambuf_iterator<char>(raw), std::istreambuf_iterator<char>());
            if (p.data.size() != NvPicture::dataSize(x, y, p.gray)) {
                warn("nv/" + std::to_string(k) + ".raw: wrong size, picture dropped");
                continue;
            }
        }
        if (pictures.size() < static_cast<size_t>(k))
            pictures.resize(static_cast<size_t>(k));
        pictures[static_cast<size_t>(k) - 1] = std::move(p);
    }
    return true;
}

bool PrinterState::save(const std::string& dirName, std::string* error)
{
    fs::path dir(dirName);
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) {
        if (error)
            *error = "cannot create " + dir.string() + ": " + ec.message();
        return false;
    }
    if (settingsDirty) {
        std::string out;
        char buf[8];
        for (auto& [n, bytes] : settings) {
            out += std::to_string(n);
            for (uint8_t b : bytes) {
                std::snprintf(buf, sizeof buf, " %02X", b);
                out += buf;
            }
            out += '\n';
        }
        if (!writeAtomic(dir / "settings.txt", out, error))
            return false;
        settingsDirty = false;
    }
    if (logoDirty) {
        std::ostringstream out;
        out << int(logo.topEnable) << ' ' << int(logo.topNumber) << ' ' << int(logo.topFlags) << ' '
            << int(logo.bottomEnable) << ' ' << int(logo.bottomNumber) << ' ' << int(logo.bottomJustify) << '\n';
        if (!writeAtomic(dir / "logo.txt", out.str(), error))
            return false;
        logoDirty = false;
    }
    if (networkDirty) {
        std::string out;
        for (auto& r : network)
            out += r.toLine() + '\n';
        if (!writeAtomic(dir / "network.txt", out, error))
            return false;
        networkDirty = false;
    }
    if (flashDirty) {
        std::string out;
        for (auto& [name, r] : flash)
            out += r.area + ' ' + std::to_string(r.code) + ' ' + std::to_string(r.size) + ' ' +
                   std::to_string(r.checksum) + ' ' + (r.digest.empty() ? "-" : r.digest) + ' ' + r.verdict + '\n';
        if (!writeAtomic(dir / "firmware.txt", out, error))
            return false;
        flashDirty = false;
    }
    if (incompleteDirty) {
        std::string out;
        for (auto& [area, detail] : incomplete)
            out += area + ' ' + (detail.empty() ? "-" : detail) + '\n';
        if (!writeAtomic(dir / "incomplete.txt", out, error))
            return false;
        incompleteDirty = false;
    }
    if (picturesDirty) {
        fs::path nv = dir / "nv";
        fs::remove_all(nv, ec);
        fs::create_directories(nv, ec);
        if (ec) {
            if (error)
                *error = "cannot create " + nv.string() + ": " + ec.message();
            return false;
        }
        std::string index;
        for (size_t i = 0; i < pictures.size(); ++i) {
            const NvPicture& p = pictures[i];
            std::string k = std::to_string(i + 1);
            index += k + ' ' + std::to_string(p.xBytes) + ' ' + std::to_string(p.yBytes) + ' ' +
                     (p.gray ? "gray" : "mono") + '\n';
            if (p.empty())
                continue;
            std::string raw(p.data.begin(), p.data.end());
            if (!writeAtomic(nv / (k + ".raw"), raw, error))
                return false;
            if (!p.writePng((nv / (k + ".png")).string(), error))
                return false;
        }
        if (!writeAtomic(nv / "index.txt", index, error))
            return false;
        picturesDirty = false;
    }
    return true;
}
