#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tw {

// A login link of the application's URL scheme: "tarnwick:" (exactly so, case and all) with a
// query whose first "token" item carries a value.
class LoginLink {
public:
    // The first "token" item's decoded value; nothing when the text is no URL, the scheme is
    // another, or the item is missing or empty.
    static std::optional<std::string> token(std::string_view url, std::string_view scheme,
                                            std::string_view item);
};

}  // namespace tw
