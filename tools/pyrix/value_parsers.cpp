// pyrix's value parsers: the text of an option to the values it stands for, or nothing.
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/pyrix/command_line.h"

namespace pyrix::preview {
namespace {

std::optional<int32_t> ParseInt(const std::string& text) {
    int32_t value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end) return std::nullopt;
    return value;
}

std::optional<double> ParseFiniteDouble(const std::string& text) {
    if (text.empty() || std::isspace(static_cast<unsigned char>(text[0]))) return std::nullopt;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size() || !std::isfinite(value)) return std::nullopt;
    return value;
}

}  // namespace

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (true) {
        const size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end - start));
        if (end == std::string::npos) return parts;
        start = end + 1;
    }
}

std::optional<std::pair<int32_t, int32_t>> ParseSize(const std::string& text) {
    const size_t x = text.find_first_of("xX");
    if (x == std::string::npos) return std::nullopt;
    const auto w = ParseInt(text.substr(0, x));
    const auto h = ParseInt(text.substr(x + 1));
    if (!w || !h || *w < 1 || *h < 1 || *w > kMaxLayerDimension || *h > kMaxLayerDimension) {
        return std::nullopt;
    }
    return std::make_pair(*w, *h);
}

std::optional<std::pair<int32_t, int32_t>> ParseFrameRange(const std::string& text) {
    const auto parts = Split(text, '-');
    if (parts.size() > 2) return std::nullopt;
    const auto a = ParseInt(parts[0]);
    const auto b = parts.size() == 2 ? ParseInt(parts[1]) : a;
    if (!a || !b || *a < 1 || *b < *a || *b > kMaxFrameNumber) return std::nullopt;
    return std::make_pair(*a, *b);
}

std::optional<std::pair<double, double>> ParsePosition(const std::string& text) {
    const auto parts = Split(text, ',');
    if (parts.size() != 2) return std::nullopt;
    const auto x = ParseFiniteDouble(parts[0]);
    const auto y = ParseFiniteDouble(parts[1]);
    if (!x || !y) return std::nullopt;
    return std::make_pair(*x, *y);
}

std::optional<PF_LRect> ParseRect(const std::string& text) {
    const auto parts = Split(text, ',');
    if (parts.size() != 4) return std::nullopt;
    int32_t v[4];
    for (int i = 0; i < 4; ++i) {
        const auto n = ParseInt(parts[static_cast<size_t>(i)]);
        if (!n) return std::nullopt;
        v[i] = *n;
    }
    const PF_LRect rect = {v[0], v[1], v[2], v[3]};
    const int64_t width = static_cast<int64_t>(rect.right) - rect.left;
    const int64_t height = static_cast<int64_t>(rect.bottom) - rect.top;
    if (width < 1 || height < 1 || width > kMaxLayerDimension || height > kMaxLayerDimension) {
        return std::nullopt;
    }
    return rect;
}

std::optional<std::vector<double>> ParseStripValues(const std::string& text, std::string* error) {
    if (text.empty()) {
        *error = "give at least one value, e.g. 0,1,2";
        return std::nullopt;
    }
    std::vector<double> values;
    for (const std::string& part : Split(text, ',')) {
        const auto value = ParseFiniteDouble(part);
        if (!value) {
            *error = "expected finite numbers separated by commas, got '" + part + "'";
            return std::nullopt;
        }
        if (!values.empty() && *value <= values.back()) {
            *error = "the values must increase from left to right; '" + part +
                     "' follows a value at least as large";
            return std::nullopt;
        }
        values.push_back(*value);
    }
    if (values.size() > kMaxStripValues) {
        *error = "a strip holds at most " + std::to_string(kMaxStripValues) + " values, got " +
                 std::to_string(values.size());
        return std::nullopt;
    }
    return values;
}

}  // namespace pyrix::preview
