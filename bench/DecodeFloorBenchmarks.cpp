#include <benchmark/benchmark.h>
#include <simdjson.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/daemon/OwnedLine.h"
#include "bench/NetworkMapGenerator.h"

// How fast any decoder of a network map could be on this parser: the parse, then one read of
// every value the records keep (ids, names, keys, OS, the three address lists of every node), each
// string taken as a view where the parser left it and appended to one pool reused across runs.
// Nothing is allocated or copied, so no record layout, arena or view scheme does better. The same
// reads over the library's On-Demand front, which builds no tape, show whether skipping the tape
// pays here; it does not even validate the members it skips, so it is the more favourable of the
// two.

namespace tw {
namespace {

namespace dom = simdjson::dom;
namespace ondemand = simdjson::ondemand;

using Pool = std::vector<std::string_view>;

enum class Kind { ignored, text, number, list };

// One length test and at most two comparisons a member.
Kind kindOf(std::string_view key) {
    switch (key.size()) {
        case 2:
            return key == "ID" ? Kind::number : key == "OS" ? Kind::text : Kind::ignored;
        case 3:
            return key == "Key" ? Kind::text : Kind::ignored;
        case 4:
            return key == "Name" ? Kind::text : Kind::ignored;
        case 6:
            return key == "UserID" ? Kind::number : Kind::ignored;
        case 7:
            return key == "NodeKey" ? Kind::text : Kind::ignored;
        case 9:
            return key == "Addresses" || key == "Endpoints" ? Kind::list : Kind::ignored;
        case 10:
            return key == "AllowedIPs" ? Kind::list : Kind::ignored;
        default:
            return Kind::ignored;
    }
}

bool readNode(dom::object node, Pool& pool, std::int64_t& sum) {
    for (auto [key, value] : node) {
        std::string_view text;
        std::int64_t number = 0;
        const Kind kind = kindOf(key);
        if (kind == Kind::text) {
            if (value.get(text)) return false;
            pool.push_back(text);
        } else if (kind == Kind::number) {
            if (value.get(number)) return false;
            sum += number;
        } else if (kind == Kind::list) {
            dom::array list;
            if (value.get(list)) return false;
            for (dom::element item : list) {
                if (item.get(text)) return false;
                pool.push_back(text);
            }
        }
    }
    return true;
}

bool readPeers(dom::element root, Pool& pool, std::int64_t& sum) {
    dom::array peers;
    if (root["NetMap"]["Peers"].get(peers)) return false;
    for (dom::element peer : peers) {
        dom::object node;
        if (peer["Node"].get(node) || !readNode(node, pool, sum)) return false;
    }
    return true;
}

// The string between a token's quotes: the generated map has no escapes.
bool quoted(ondemand::value value, std::string_view& text) {
    const std::string_view token = value.raw_json_token();
    if (token.size() < 2 || token.front() != '"') return false;
    text = token.substr(1, token.find_last_of('"') - 1);
    return true;
}

bool readNode(ondemand::object node, Pool& pool, std::int64_t& sum) {
    for (auto member : node) {
        std::string_view key;
        ondemand::value value;
        if (member.unescaped_key().get(key) || member.value().get(value)) return false;
        std::string_view text;
        std::int64_t number = 0;
        const Kind kind = kindOf(key);
        if (kind == Kind::text) {
            if (!quoted(value, text)) return false;
            pool.push_back(text);
        } else if (kind == Kind::number) {
            if (value.get_int64().get(number)) return false;
            sum += number;
        } else if (kind == Kind::list) {
            ondemand::array list;
            if (value.get_array().get(list)) return false;
            for (auto item : list) {
                ondemand::value element;
                if (item.get(element) || !quoted(element, text)) return false;
                pool.push_back(text);
            }
        }
    }
    return true;
}

bool readPeers(ondemand::document& document, Pool& pool, std::int64_t& sum) {
    ondemand::array peers;
    if (document["NetMap"]["Peers"].get_array().get(peers)) return false;
    for (auto peer : peers) {
        ondemand::object node;
        if (peer["Node"].get_object().get(node) || !readNode(node, pool, sum)) return false;
    }
    return true;
}

void report(benchmark::State& state, const std::string& line) {
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(line.size()));
    state.counters["line_bytes"] = static_cast<double>(line.size());
}

void DomParseAndRead(benchmark::State& state) {
    const auto& line = NetworkMapGenerator::standardLine(static_cast<std::size_t>(state.range(0)));
    const auto buffer = OwnedLine::copyOf(line).buffer;
    dom::parser parser;
    Pool pool;
    for (auto _ : state) {
        pool.clear();
        std::int64_t sum = 0;
        dom::element root;
        if (parser.parse(buffer.data(), line.size(), false).get(root) || !readPeers(root, pool, sum)) {
            state.SkipWithError("the map did not read");
            return;
        }
        benchmark::DoNotOptimize(sum);
    }
    report(state, line);
}
BENCHMARK(DomParseAndRead)->Arg(10000)->UseRealTime();

void OnDemandRead(benchmark::State& state) {
    const auto& line = NetworkMapGenerator::standardLine(static_cast<std::size_t>(state.range(0)));
    const auto buffer = OwnedLine::copyOf(line).buffer;
    const simdjson::padded_string_view text(buffer.data(), line.size(), buffer.size());
    ondemand::parser parser;
    Pool pool;
    for (auto _ : state) {
        pool.clear();
        std::int64_t sum = 0;
        ondemand::document document;
        if (parser.iterate(text).get(document) || !readPeers(document, pool, sum)) {
            state.SkipWithError("the map did not read");
            return;
        }
        benchmark::DoNotOptimize(sum);
    }
    report(state, line);
}
BENCHMARK(OnDemandRead)->Arg(10000)->UseRealTime();

}  // namespace
}  // namespace tw
