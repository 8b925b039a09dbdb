#pragma once
// tavroctl's machine-readable output: one JSON object per line, keys in the order they are set.
#include <nlohmann/json.hpp>

#include <string>

using OrderedJson = nlohmann::ordered_json;

// `value` on one line without a newline. UTF-8 text (Korean names, for example) is written as it
// is; bytes that are not UTF-8 become U+FFFD, so the line is always valid JSON.
inline std::string toJsonLine(const OrderedJson& value)
{
    return value.dump(-1, ' ', false, OrderedJson::error_handler_t::replace);
}
