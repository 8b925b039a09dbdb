#pragma once
// A JSON string literal for a text: quotes, backslashes and control characters escaped.
#include <string>
#include <string_view>

enum class JsonBytes {
    Utf8,  // bytes from 0x80 up pass through (UTF-8 text such as Korean names)
    Latin1 // bytes from 0x7F up are written as \u00XX (raw printer bytes, always valid JSON)
};

std::string jsonQuote(std::string_view text, JsonBytes bytes = JsonBytes::Utf8);
