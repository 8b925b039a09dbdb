#include "sim/PaperRoll.h"

#include <stb/stb_easy_font.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

namespace {

// stb_easy_font draws 6-dot cells; twice that is the 12-dot cell of Font A (48 columns).
constexpr int kFontScale = 2;
constexpr int kCellDots = 12;

} // namespace

PaperRoll::PaperRoll(const PrinterState& state, std::string folder, std::function<void(SimEvent)> log,
                     int maxRows)
    : m_state(state), m_folder(std::move(folder)), m_log(std::move(log)), m_maxRows(std::max(maxRows, 1))
{
}

void PaperRoll::full()
{
    if (m_droppedRows > 0 || m_droppedItems > 0)
        return; // told once a receipt
    SimEvent e("paper-full");
    e.num("receipt", m_receipts + 1).num("rows", int64_t(m_dots.size() / kWidthDots));
    e.str("note", "the rest of this receipt is taken but not kept");
    if (m_log)
        m_log(std::move(e));
}

int PaperRoll::addRows(int rows)
{
    const int have = int(m_dots.size() / kWidthDots);
    const int added = std::clamp(m_maxRows - have, 0, std::max(rows, 0));
    if (added < rows) {
        full();
        m_droppedRows += rows - added;
    }
    m_dots.resize(m_dots.size() + std::size_t(added) * kWidthDots, 255);
    return added;
}

void PaperRoll::addItem(std::string item)
{
    if (m_items.size() >= kMaxItems) {
        full();
        ++m_droppedItems;
        return;
    }
    m_items.push_back(std::move(item));
}

void PaperRoll::begin()
{
    if (m_started)
        return;
    m_started = true;
    const LogoSettings& s = m_state.logo;
    if (s.topEnable == 1)
        addPicture(s.topNumber, 0, s.topFlags & 0x03, "top");
}

void PaperRoll::text(const std::vector<uint8_t>& line, int justify)
{
    begin();
    std::string s(line.begin(), line.end());
    for (char& c : s)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E)
            c = '?';
    addItem("text:" + s);
    const int top = int(m_dots.size() / kWidthDots);
    const int rows = addRows(kLineDots);
    if (rows == 0)
        return;
    const int width = int(s.size()) * kCellDots;
    int x0 = 0;
    if (justify == 1 || justify == 49)
        x0 = std::max(0, (kWidthDots - width) / 2);
    else if (justify == 2 || justify == 50)
        x0 = std::max(0, kWidthDots - width);
    // Each character is drawn on its own so that the cell stays 12 dots whatever its glyph.
    static char quads[64 * 270];
    for (std::size_t i = 0; i < s.size(); ++i) {
        char one[2] = {s[i], 0};
        const int n = stb_easy_font_print(0, 0, one, nullptr, quads, sizeof quads);
        for (int q = 0; q < n; ++q) {
            const float* v = reinterpret_cast<const float*>(quads + q * 4 * 16);
            // Vertices of one quad, 16 bytes apart: x, y, z, colour.
            const int ax = int(v[0]), ay = int(v[1]), bx = int(v[8]), by = int(v[9]);
            for (int y = ay * kFontScale; y < by * kFontScale; ++y)
                for (int x = ax * kFontScale; x < bx * kFontScale; ++x) {
                    const int px = x0 + int(i) * kCellDots + x, py = top + 3 + y;
                    if (px >= 0 && px < kWidthDots && py >= top && py < top + rows)
                        m_dots[std::size_t(py) * kWidthDots + std::size_t(px)] = 0;
                }
        }
    }
}

void PaperRoll::addPicture(int number, int mode, int justify, const std::string& role)
{
    addItem(role + ":" + std::to_string(number));
    if (number < 1 || std::size_t(number) > m_state.pictures.size() || m_state.pictures[std::size_t(number - 1)].empty())
        return; // a number the printer does not hold prints nothing
    const NvPicture& p = m_state.pictures[std::size_t(number - 1)];
    const std::vector<uint8_t> img = p.toGrayImage();
    const int sx = (mode & 1) ? 2 : 1, sy = (mode & 2) ? 2 : 1;
    const int w = p.widthDots() * sx, h = p.heightDots() * sy;
    int x0 = 0;
    if (justify == 1)
        x0 = std::max(0, (kWidthDots - w) / 2);
    else if (justify == 2)
        x0 = std::max(0, kWidthDots - w);
    const int top = int(m_dots.size() / kWidthDots);
    const int rows = addRows(h);
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < w && x0 + x < kWidthDots; ++x)
            m_dots[std::size_t(top + y) * kWidthDots + std::size_t(x0 + x)] =
                img[std::size_t(y / sy) * std::size_t(p.widthDots()) + std::size_t(x / sx)];
}

void PaperRoll::picture(int number, int mode)
{
    begin();
    addPicture(number, mode, 0, "picture");
}

void PaperRoll::powerOn()
{
    const LogoSettings& s = m_state.logo;
    if (s.topEnable == 1 && (s.topFlags & 0x04)) {
        // The power-on logo is printed before anything else, as a receipt of its own.
        addItem("power-on");
        m_started = false;
        begin();
        cut();
    }
}

void PaperRoll::cut()
{
    begin();
    const LogoSettings& s = m_state.logo;
    if (s.bottomEnable == 1)
        addPicture(s.bottomNumber, 0, s.bottomJustify & 0x03, "bottom");
    addRows(24); // the feed to the cutter
    ++m_receipts;
    SimEvent e("receipt");
    e.num("number", m_receipts).num("height", int64_t(m_dots.size() / kWidthDots));
    SimEvent::Json items = SimEvent::Json::array();
    for (const std::string& item : m_items)
        items.push_back(SimEvent::latin1(item));
    e.json("items", std::move(items));
    if (m_droppedRows > 0 || m_droppedItems > 0)
        e.num("droppedRows", m_droppedRows).num("droppedItems", m_droppedItems);
    if (!m_folder.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(m_folder, ec);
        char name[32];
        std::snprintf(name, sizeof name, "receipt-%04d.png", m_receipts);
        const std::string path = (std::filesystem::path(m_folder) / name).string();
        const int rows = int(m_dots.size() / kWidthDots);
        if (NvPicture::writeGrayPng(path, kWidthDots, rows, m_dots.data()))
            e.str("file", path);
        else
            e.str("error", "cannot write " + path);
    }
    if (m_log)
        m_log(std::move(e));
    m_dots.clear();
    m_dots.shrink_to_fit();
    m_items.clear();
    m_droppedRows = 0;
    m_droppedItems = 0;
    m_started = false;
}
