#pragma once

#include <memory>
#include <utility>

namespace tw {

// Shares ownership of the buffers a record's views point into. It is no part of the record's
// value: records holding equal texts are equal wherever the texts lie.
class KeptBuffers {
  public:
    KeptBuffers() = default;
    explicit KeptBuffers(std::shared_ptr<const void> buffers) : buffers_(std::move(buffers)) {}

    bool operator==(const KeptBuffers&) const { return true; }

  private:
    std::shared_ptr<const void> buffers_;
};

}  // namespace tw
