// The JSON that velk-cli's --json prints: one object per run on stdout, its
// keys in a fixed order, numbers as numbers. docs/velk-cli.schema.json
// describes every command's object.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <CLI/CLI.hpp>

namespace velk::cli {

// A small streaming writer: objects and arrays nest, the commas come by
// themselves. Strings are written as valid UTF-8 whatever they hold: control
// characters are escaped and a byte that does not belong to a well-formed
// UTF-8 sequence (a file name in another encoding) becomes U+FFFD, so that
// every reader can parse what a disc's names happen to be.
class JsonWriter {
public:
    JsonWriter& beginObject();
    JsonWriter& endObject();
    JsonWriter& beginArray();
    JsonWriter& endArray();
    // The key of the next value in the current object.
    JsonWriter& key(std::string_view name);

    JsonWriter& value(std::string_view text);
    JsonWriter& value(const char* text) { return value(std::string_view(text)); }
    JsonWriter& value(const std::string& text) { return value(std::string_view(text)); }
    JsonWriter& value(bool flag);
    JsonWriter& value(long long number);
    JsonWriter& value(unsigned long long number);
    JsonWriter& value(int number) { return value(static_cast<long long>(number)); }
    JsonWriter& value(unsigned number) { return value(static_cast<unsigned long long>(number)); }
    JsonWriter& value(long number) { return value(static_cast<long long>(number)); }
    JsonWriter& value(unsigned long number) { return value(static_cast<unsigned long long>(number)); }
    // Rounded to `decimals` places; NaN and infinity, which JSON lacks, are
    // null.
    JsonWriter& value(double number, int decimals = 3);
    JsonWriter& null();

    // key(name).value(v), and null for an empty optional.
    template <typename T>
    JsonWriter& field(std::string_view name, const T& v) {
        key(name);
        return value(v);
    }
    template <typename T>
    JsonWriter& field(std::string_view name, const std::optional<T>& v) {
        key(name);
        return v ? value(*v) : null();
    }
    JsonWriter& field(std::string_view name, double v, int decimals) {
        key(name);
        return value(v, decimals);
    }
    JsonWriter& field(std::string_view name, const std::vector<std::string>& texts);

    const std::string& text() const { return text_; }

private:
    void separate();
    std::string text_;
    // One entry per open object or array: whether it has a member yet.
    std::vector<bool> hasMember_;
    bool afterKey_ = false;
};

// `text` as a JSON string, quotes included (see JsonWriter).
std::string jsonString(std::string_view text);

// Prints the finished object and a newline on `out`.
void printJson(const JsonWriter& json, std::FILE* out = stdout);

// --json on `command`.
void addJsonFlag(CLI::App* command, bool& json);

}  // namespace velk::cli
