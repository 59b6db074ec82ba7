#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>

namespace tw {

// Writes one event-stream line carrying a whole network map, shaped like the daemon's: each peer
// with its ids, name, two addresses, keys, allowed IPs, endpoints, OS and a few members the client
// ignores, and a user profile for every ten peers. The same seed always gives the same bytes
// (the engine's output is fixed by the standard; no distribution is used).
class NetworkMapGenerator {
public:
    explicit NetworkMapGenerator(std::uint64_t seed) : random_(seed) {}

    // The line without its line feed.
    std::string line(std::size_t peers);

    // The line every benchmark uses for this many peers, made once from a fixed seed.
    static const std::string& standardLine(std::size_t peers);

private:
    void appendNode(std::string& out, std::size_t index, std::size_t users);
    void appendUserProfile(std::string& out, std::size_t user);
    void appendAddresses(std::string& out, std::string_view key, std::uint32_t host,
                         bool withRoute);
    void appendEndpoints(std::string& out);
    std::string key(std::string_view kind);
    std::uint32_t below(std::uint32_t bound) { return static_cast<std::uint32_t>(random_() % bound); }

    std::mt19937_64 random_;
};

}  // namespace tw
