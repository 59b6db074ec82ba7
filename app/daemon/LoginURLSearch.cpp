#include "app/daemon/LoginURLSearch.h"

#include <simdjson.h>

#include <algorithm>
#include <array>
#include <vector>

namespace tw {

namespace {

namespace dom = simdjson::dom;

// Daemon versions have spelled the key differently; the earlier spellings are preferred.
constexpr std::array<std::string_view, 5> kURLKeys = {
    "interactive_login_url", "interactiveLoginURL", "interactiveLoginUrl",
    "InteractiveLoginURL",   "InteractiveLoginUrl",
};

bool isURLKey(std::string_view key) { return std::ranges::find(kURLKeys, key) != kURLKeys.end(); }

std::optional<std::string> nonEmptyString(dom::element value) {
    std::string_view text;
    if (value.get(text) != simdjson::SUCCESS || text.empty()) return std::nullopt;
    return std::string(text);
}

std::optional<std::string> topLevelURL(dom::object object) {
    for (std::string_view key : kURLKeys) {
        dom::element value;
        if (object[key].get(value) != simdjson::SUCCESS) continue;
        if (auto url = nonEmptyString(value)) return url;
    }
    return std::nullopt;
}

// A value still to visit, with the member name it sits under (empty for array elements).
struct Pending {
    std::string_view key;
    dom::element value;
};

// Pushes the children of `value` so that they pop in document order.
void pushChildren(std::vector<Pending>& stack, dom::element value) {
    const auto first = stack.size();
    dom::object object;
    dom::array array;
    if (value.get(object) == simdjson::SUCCESS) {
        for (auto [key, member] : object) stack.push_back({key, member});
    } else if (value.get(array) == simdjson::SUCCESS) {
        for (dom::element item : array) stack.push_back({{}, item});
    }
    std::reverse(stack.begin() + static_cast<std::ptrdiff_t>(first), stack.end());
}

// Depth first, in document order, on a heap stack so no nesting depth can exhaust the thread's.
std::optional<std::string> nestedURL(dom::element root) {
    std::vector<Pending> stack;
    pushChildren(stack, root);
    while (!stack.empty()) {
        const Pending next = stack.back();
        stack.pop_back();
        if (isURLKey(next.key)) {
            if (auto url = nonEmptyString(next.value)) return url;
        }
        pushChildren(stack, next.value);
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> extractInteractiveLoginURL(std::string_view body) {
    thread_local dom::parser parser;
    dom::element root;
    dom::object object;
    if (parser.parse(body.data(), body.size()).get(root) != simdjson::SUCCESS) return std::nullopt;
    if (root.get(object) != simdjson::SUCCESS) return std::nullopt;
    if (auto url = topLevelURL(object)) return url;
    return nestedURL(root);
}

}  // namespace tw
