#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tw {

// Builds compact JSON text in order, placing the commas itself. The caller keeps objects and
// arrays balanced and puts a key before every value inside an object. Strings must be UTF-8.
class JsonWriter {
public:
    JsonWriter& beginObject();
    JsonWriter& endObject();
    JsonWriter& beginArray();
    JsonWriter& endArray();

    JsonWriter& key(std::string_view name);
    JsonWriter& string(std::string_view text);
    JsonWriter& number(std::int64_t value);
    JsonWriter& boolean(bool value);
    JsonWriter& strings(const std::vector<std::string>& texts);

    const std::string& text() const { return text_; }

private:
    void beforeValue();
    void open(char bracket);
    void close(char bracket);
    void quote(std::string_view text);

    std::string text_;
    std::vector<bool> containerEmpty_;
    bool afterKey_ = false;
};

}  // namespace tw
