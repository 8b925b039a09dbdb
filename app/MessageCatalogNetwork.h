#pragma once
// The texts of the network dialogs and `tavroctl net` that are not numbered catalog entries,
// in English and Korean: the address rules and the reason a connection test failed.
// "%1", "%2", "%3" stand for values the caller fills in with fillText().
#include <initializer_list>
#include <string>
#include <string_view>

enum class NetText {
    FieldIp,                // the name of each address field, for NotAnAddress
    FieldMask,
    FieldGateway,
    NotAnAddress,           // %1 field, %2 the text typed
    MaskNotContiguous,      // %1 the mask
    GatewayOutsideSubnet,   // %1 gateway, %2 IP address, %3 mask
    SendAnyway,             // the question after GatewayOutsideSubnet
    ConnectFailed,          // %1 "address:port", %2 the reason
    ReasonRefused,
    ReasonTimedOut,
    ReasonUnreachable,
    ReasonBadAddress,
    ReasonUnknown,
};

// The text in the active catalog's language (Korean when g_pMsg is the Korean table).
const char* networkText(NetText which);
const char* networkText(NetText which, bool korean);

// The format with "%1", "%2", ... replaced by the values in order.
std::string fillText(std::string_view format, std::initializer_list<std::string_view> values);
