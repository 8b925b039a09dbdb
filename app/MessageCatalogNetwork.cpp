#include "app/MessageCatalogNetwork.h"

#include "app/MessageCatalog.h"

namespace {

struct Pair {
    const char* english;
    const char* korean;
};

Pair textOf(NetText which)
{
    switch (which) {
    case NetText::FieldIp: return {"IP address", "IP 주소"};
    case NetText::FieldMask: return {"subnet mask", "서브넷 마스크"};
    case NetText::FieldGateway: return {"gateway", "게이트웨이"};
    case NetText::NotAnAddress:
        return {"The %1 \"%2\" is not an address: enter four numbers from 0 to 255 separated by dots, "
                "such as 192.168.0.254.",
                "%1 \"%2\"은(는) 올바른 주소가 아닙니다. 0~255 사이의 숫자 네 개를 점으로 구분하여 "
                "입력하십시오 (예: 192.168.0.254)."};
    case NetText::MaskNotContiguous:
        return {"The subnet mask %1 is not a mask: its bits must be ones from the left followed by zeros, "
                "such as 255.255.255.0.",
                "서브넷 마스크 %1은(는) 올바른 마스크가 아닙니다. 255.255.255.0처럼 왼쪽부터 1인 비트가 "
                "이어지고 나머지는 0이어야 합니다."};
    case NetText::GatewayOutsideSubnet:
        return {"The gateway %1 is outside the subnet of %2 with mask %3, so the printer cannot reach it.",
                "게이트웨이 %1은(는) IP %2, 서브넷 마스크 %3의 네트워크 밖에 있어 프린터가 게이트웨이에 "
                "연결할 수 없습니다."};
    case NetText::SendAnyway: return {"Send these settings anyway?", "그래도 이 설정을 보내시겠습니까?"};
    case NetText::ConnectFailed: return {"%1 did not accept the connection: %2.", "%1에 연결하지 못했습니다: %2."};
    case NetText::ReasonRefused:
        return {"the connection was refused (nothing listens on that port)",
                "연결이 거부되었습니다 (해당 포트에서 응답하는 장치가 없습니다)"};
    case NetText::ReasonTimedOut:
        return {"no answer within the connect time (the printer is off or the address is wrong)",
                "연결 시간 안에 응답이 없습니다 (프린터가 꺼져 있거나 주소가 잘못되었습니다)"};
    case NetText::ReasonUnreachable:
        return {"this computer has no route to that address", "이 컴퓨터에서 해당 주소로 가는 경로가 없습니다"};
    case NetText::ReasonBadAddress: return {"the address is not valid", "주소가 올바르지 않습니다"};
    case NetText::ReasonUnknown: return {"the reason is not known", "원인을 알 수 없습니다"};
    }
    return {"", ""};
}

} // namespace

const char* networkText(NetText which, bool korean)
{
    const Pair p = textOf(which);
    return korean ? p.korean : p.english;
}

const char* networkText(NetText which)
{
    return networkText(which, g_pMsg == &koreanCatalog());
}

std::string fillText(std::string_view format, std::initializer_list<std::string_view> values)
{
    std::string out;
    for (size_t i = 0; i < format.size(); ++i) {
        const char c = format[i];
        if (c == '%' && i + 1 < format.size() && format[i + 1] >= '1' && format[i + 1] <= '9') {
            const size_t n = static_cast<size_t>(format[i + 1] - '1');
            if (n < values.size()) {
                out += *(values.begin() + n);
                ++i;
                continue;
            }
        }
        out += c;
    }
    return out;
}
