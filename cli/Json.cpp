#include "cli/Json.h"

#include <charconv>
#include <cmath>

namespace velk::cli {
namespace {

// Length of the well-formed UTF-8 sequence at the start of `text`, or 0 when
// its first byte does not start one: overlong forms, surrogates and code
// points past U+10FFFF are not well-formed.
std::size_t utf8SequenceLength(std::string_view text) {
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    auto continuation = [&](std::size_t i) { return i < text.size() && (byte(i) & 0xC0) == 0x80; };
    const unsigned char lead = byte(0);
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) return continuation(1) ? 2 : 0;
    if (lead >= 0xE0 && lead <= 0xEF) {
        if (!continuation(1) || !continuation(2)) return 0;
        if (lead == 0xE0 && byte(1) < 0xA0) return 0;  // overlong
        if (lead == 0xED && byte(1) >= 0xA0) return 0;  // a surrogate
        return 3;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        if (!continuation(1) || !continuation(2) || !continuation(3)) return 0;
        if (lead == 0xF0 && byte(1) < 0x90) return 0;  // overlong
        if (lead == 0xF4 && byte(1) >= 0x90) return 0;  // past U+10FFFF
        return 4;
    }
    return 0;
}

void appendString(std::string& out, std::string_view text) {
    static constexpr char Hex[] = "0123456789abcdef";
    out += '"';
    std::size_t i = 0;
    while (i < text.size()) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            out += "\\u00";
            out += Hex[c >> 4];
            out += Hex[c & 0x0F];
        } else if (c >= 0x80) {
            const std::size_t length = utf8SequenceLength(text.substr(i));
            if (length == 0) {
                out += "\xEF\xBF\xBD";  // U+FFFD, one per stray byte
                ++i;
                continue;
            }
            out.append(text.substr(i, length));
            i += length;
            continue;
        } else {
            out += static_cast<char>(c);
        }
        ++i;
    }
    out += '"';
}

}  // namespace

std::string jsonString(std::string_view text) {
    std::string out;
    appendString(out, text);
    return out;
}

void JsonWriter::separate() {
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (!hasMember_.empty()) {
        if (hasMember_.back()) text_ += ',';
        hasMember_.back() = true;
    }
}

JsonWriter& JsonWriter::beginObject() {
    separate();
    text_ += '{';
    hasMember_.push_back(false);
    return *this;
}

JsonWriter& JsonWriter::endObject() {
    text_ += '}';
    hasMember_.pop_back();
    return *this;
}

JsonWriter& JsonWriter::beginArray() {
    separate();
    text_ += '[';
    hasMember_.push_back(false);
    return *this;
}

JsonWriter& JsonWriter::endArray() {
    text_ += ']';
    hasMember_.pop_back();
    return *this;
}

JsonWriter& JsonWriter::key(std::string_view name) {
    separate();
    appendString(text_, name);
    text_ += ':';
    afterKey_ = true;
    return *this;
}

JsonWriter& JsonWriter::value(std::string_view text) {
    separate();
    appendString(text_, text);
    return *this;
}

JsonWriter& JsonWriter::value(bool flag) {
    separate();
    text_ += flag ? "true" : "false";
    return *this;
}

JsonWriter& JsonWriter::value(long long number) {
    separate();
    text_ += std::to_string(number);
    return *this;
}

JsonWriter& JsonWriter::value(unsigned long long number) {
    separate();
    text_ += std::to_string(number);
    return *this;
}

JsonWriter& JsonWriter::value(double number, int decimals) {
    if (!std::isfinite(number)) return null();
    const double scale = std::pow(10.0, decimals);
    double rounded = std::round(number * scale) / scale;
    if (rounded == 0) rounded = 0;  // no "-0"
    // The shortest text that reads back as the rounded number.
    char buffer[64];
    auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, rounded);
    if (error != std::errc()) return null();
    separate();
    text_.append(buffer, end);
    return *this;
}

JsonWriter& JsonWriter::null() {
    separate();
    text_ += "null";
    return *this;
}

JsonWriter& JsonWriter::field(std::string_view name, const std::vector<std::string>& texts) {
    key(name);
    beginArray();
    for (const std::string& text : texts) value(text);
    return endArray();
}

void printJson(const JsonWriter& json, std::FILE* out) {
    std::fputs(json.text().c_str(), out);
    std::fputc('\n', out);
    std::fflush(out);
}

void addJsonFlag(CLI::App* command, bool& json) {
    command->add_flag("--json", json,
                      "Print one JSON object on standard output instead of the text (its schema: velk-cli.schema.json)");
}

}  // namespace velk::cli
