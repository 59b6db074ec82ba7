#pragma once

#include <algorithm>
#include <cstddef>
#include <deque>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

namespace tw {

// Runs of views, each contiguous, in chunks that never move: the lists of a notification. One run
// is open at a time; a run that outgrows its chunk moves, whole, to a larger one.
class ViewRuns {
  public:
    void open() { start_ = chunk_ ? chunk_->size() : 0; }

    void add(std::string_view text) {
        if (!chunk_ || chunk_->size() == chunk_->capacity()) grow();
        chunk_->push_back(text);
    }

    std::span<const std::string_view> close() const {
        if (!chunk_) return {};
        return std::span(*chunk_).subspan(start_);
    }

  private:
    static constexpr std::size_t kChunkViews = 4096;

    void grow() {
        const std::size_t run = chunk_ ? chunk_->size() - start_ : 0;
        std::vector<std::string_view> chunk;
        chunk.reserve(std::max(kChunkViews, run * 2));
        if (chunk_) {
            chunk.insert(chunk.end(), chunk_->begin() + static_cast<std::ptrdiff_t>(start_),
                         chunk_->end());
        }
        chunk_ = &chunks_.emplace_back(std::move(chunk));
        start_ = 0;
    }

    std::deque<std::vector<std::string_view>> chunks_;
    std::vector<std::string_view>* chunk_ = nullptr;
    std::size_t start_ = 0;
};

}  // namespace tw
