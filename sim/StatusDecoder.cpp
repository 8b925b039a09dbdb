#include "sim/StatusDecoder.h"

#include <string>

void StatusDecoder::complete()
{
    if (m_frame.size() < 3) {
        needBytes(3);
        return;
    }
    const std::vector<uint8_t> cmd = takeFrame();
    if (cmd[1] == 0x49) {
        printerId(cmd[2]);
        return;
    }
    const bool on = cmd[2] != 0;
    emit(SimEvent("asb").num("n", cmd[2]).flag("enabled", on));
    m_sink.asbEnabled(on);
}

void StatusDecoder::printerId(int n)
{
    std::vector<uint8_t> answer;
    if (n == 1 || n == 49)
        answer = {static_cast<uint8_t>(0x20 + m_state.family())}; // model ID
    else if (n == 2 || n == 50)
        answer = {0x02}; // type ID: auto-cutter fitted, no multi-byte font
    else if (n == 3 || n == 51)
        answer = {0x10}; // ROM version ID
    else if (n == 0x42)
        answer = {'_', 'T', 'A', 'V', 'R', 'O', 0x00};
    else if (n == 0x43) {
        static const char* names[] = {"TAVRO25", "TAVRO15", "TAVRO25II", "TAVRO44i", "TAVRO36/38", "TAVRO46/48"};
        std::string name = std::string("_") + names[(m_state.family() - 1) % 6];
        answer.assign(name.begin(), name.end());
        answer.push_back(0x00);
    }
    SimEvent e("printer-id");
    e.num("n", n);
    if (answer.empty()) {
        e.str("note", "no answer for this n");
    } else {
        e.hex("reply", answer);
        m_sink.reply(answer);
    }
    emit(std::move(e));
}
