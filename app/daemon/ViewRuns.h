#pragma once

#include <algorithm>
#include <cstddef>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

namespace tw {

// Runs of views, each contiguous, in chunks whose storage never moves: the lists of a
// notification. One run is open at a time; a run that outgrows its chunk moves, whole, to a new
// one. Chunks double in size, so a small notification allocates little and a large map few times.
class ViewRuns {
  public:
    void open() { start_ = chunks_.empty() ? 0 : chunks_.back().size(); }

    void add(std::string_view text) {
        if (chunks_.empty() || chunks_.back().size() == chunks_.back().capacity()) grow();
        chunks_.back().push_back(text);
    }

    std::span<const std::string_view> close() const {
        if (chunks_.empty()) return {};
        return std::span(chunks_.back()).subspan(start_);
    }

  private:
    static constexpr std::size_t kFirstChunkViews = 16;

    void grow() {
        std::vector<std::string_view> chunk;
        if (chunks_.empty()) {
            chunk.reserve(kFirstChunkViews);
        } else {
            // Moving a chunk's vector keeps its storage, which the closed runs point into.
            const auto& last = chunks_.back();
            const auto run = last.begin() + static_cast<std::ptrdiff_t>(start_);
            chunk.reserve(std::max(last.capacity(), last.size() - start_) * 2);
            chunk.insert(chunk.end(), run, last.end());
        }
        chunks_.push_back(std::move(chunk));
        start_ = 0;
    }

    std::vector<std::vector<std::string_view>> chunks_;
    std::size_t start_ = 0;
};

}  // namespace tw
