#pragma once
// The user setting commands, GS ( E: Function 1 enters user setting mode (answers the mode
// notice 37 20 00), Function 2 ends it (the printer restarts), Function 5 writes setting values
// (honoured only inside the mode), Function 6 reads one back (answers 37 27 <n> 1F <value> 00).
//
// Threads: as the interpreter that owns it.
#include "sim/PrinterState.h"
#include "sim/ProtocolDecoder.h"

#include <set>

class UserSetupDecoder final : public ProtocolDecoder {
public:
    UserSetupDecoder(PrinterState& state, InterpreterSink& sink, std::set<int> noAnswerSettings,
                     std::set<int> refuseSettings = {})
        : ProtocolDecoder(sink), m_state(state), m_noAnswer(std::move(noAnswerSettings)),
          m_refuse(std::move(refuseSettings))
    {
    }

    // The Function 6 answer for a setting, or empty when the printer does not know it.
    static std::vector<uint8_t> settingReply(const PrinterState& state, int number);

private:
    void complete() override;
    void function(uint8_t fn, const std::vector<uint8_t>& body);
    void functionFive(const std::vector<uint8_t>& body);
    void functionSix(const std::vector<uint8_t>& body);

    PrinterState& m_state;
    std::set<int> m_noAnswer; // Function 6 requests left unanswered (a fault)
    std::set<int> m_refuse;   // Function 5 items not stored (a fault: the value stays as it was)
};
