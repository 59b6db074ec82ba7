#include "helper/ChildEnvironment.h"

#include <unistd.h>

#include <algorithm>

namespace tw {

ChildEnvironment ChildEnvironment::ofThisProcess() {
    ChildEnvironment environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        environment.entries_.emplace_back(*entry);
    }
    return environment;
}

void ChildEnvironment::set(std::string_view name, std::string_view value) {
    std::erase_if(entries_, [&](const std::string& entry) {
        return entry.size() > name.size() && entry.starts_with(name) && entry[name.size()] == '=';
    });
    entries_.push_back(std::string(name) + '=' + std::string(value));
}

}  // namespace tw
