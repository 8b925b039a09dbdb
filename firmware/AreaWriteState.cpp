#include "firmware/AreaWriteState.h"

#include "firmware/FirmwareChecks.h"

#include <array>
#include <utility>

namespace {

constexpr std::array<std::pair<AreaWriteState::Phase, std::string_view>, 4> kPhaseNames = {{
    {AreaWriteState::Phase::NotStarted, "not-started"},
    {AreaWriteState::Phase::Erasing, "erasing"},
    {AreaWriteState::Phase::Writing, "writing"},
    {AreaWriteState::Phase::Complete, "complete"},
}};

// How far the data got, in words: "up to 0x1D8000 (25 % of 0x1D0000 to 0x1EFFFF)".
std::string progressText(const AreaWriteState& s, bool korean)
{
    const std::uint64_t length = s.end > s.start ? s.end - s.start : 0;
    const std::uint64_t done = s.reached > s.start ? s.reached - s.start : 0;
    const std::string percent = std::to_string(length ? done * 100 / length : 0) + " %";
    const std::string range = hexOffset(s.start) + (korean ? " ~ " : " to ") + hexOffset(s.end ? s.end - 1 : 0);
    if (korean)
        return hexOffset(s.reached) + "까지 기록되었습니다(" + range + "의 " + percent + ")";
    return "it was written up to " + hexOffset(s.reached) + " (" + percent + " of " + range + ")";
}

} // namespace

std::string_view writePhaseName(AreaWriteState::Phase phase)
{
    for (const auto& [p, name] : kPhaseNames)
        if (p == phase)
            return name;
    return "not-started";
}

std::optional<AreaWriteState::Phase> writePhaseFromName(std::string_view name)
{
    for (const auto& [p, n] : kPhaseNames)
        if (n == name)
            return p;
    return std::nullopt;
}

std::string earlyEndMessage(const AreaWriteState& state, const DownloadPlace& place, const std::string& reason,
                            bool korean)
{
    using Phase = AreaWriteState::Phase;
    const std::string& area = place.areaName;
    std::string text = reason.empty() ? std::string() : reason + "\n";
    if (state.phase == Phase::NotStarted) {
        text += korean ? area + "의 어떤 데이터도 프린터에 전달되지 않았습니다: 프린터는 변경되지 않았으며 이전처럼 동작합니다."
                       : "Nothing of the " + area + " reached the printer: the printer is unchanged and works as before.";
        return text;
    }
    if (state.phase == Phase::Complete)
        return text + (korean ? area + "의 다운로드가 완료되었습니다." : "The " + area + " is complete.");

    const std::string range = hexOffset(state.start) + (korean ? " ~ " : " to ") + hexOffset(state.end ? state.end - 1 : 0);
    if (state.phase == Phase::Erasing) {
        text += korean ? area + "이(가) 완전하지 않습니다: 프린터가 이 영역(이미지의 " + range +
                             " 바이트)을 지우기 시작했으며 아직 데이터가 기록되지 않았습니다."
                       : "The " + area + " is incomplete: the printer began erasing it (bytes " + range +
                             " of the image) and no data was written yet.";
    } else if (state.reached >= state.end) {
        // Every byte left, but the printer never said it took the last of them.
        text += korean ? area + "이(가) 완전하지 않을 수 있습니다: " + hexOffset(state.end) +
                             "까지 모든 바이트를 보냈지만, 프린터가 기록을 마쳤다는 확인을 받지 못했습니다."
                       : "The " + area + " may be incomplete: every byte up to " + hexOffset(state.end) +
                             " was sent, but the printer did not confirm that it finished writing them.";
    } else {
        text += korean ? area + "이(가) 완전하지 않습니다: " + progressText(state, true) + "."
                       : "The " + area + " is incomplete: " + progressText(state, false) + ".";
    }
    text += "\n";
    if (korean) {
        text += area + "을(를) 다시 다운로드할 때까지 프린터는 인쇄하지 않습니다.\n";
        text += "지금 할 일: 같은 파일(" + place.imageFile + ")로 같은 연결(" + place.connection + ")을 통해 " + area +
                "을(를) 다시 다운로드하십시오.";
    } else {
        text += "The printer will not print until the " + area + " is downloaded again.\n";
        text += "What to do now: download the " + area + " again with the same file (" + place.imageFile +
                ") over the same connection (" + place.connection + ").";
    }
    return text;
}
