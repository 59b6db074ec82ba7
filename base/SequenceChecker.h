#pragma once

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <source_location>

#include "base/MainQueue.h"

namespace tw {

// Checks that an object made for one sequence (the main queue) is used only there, as the model
// objects are: they hold no locks, so a call from another thread is a data race that no test
// would reliably catch. The check aborts with the caller's location; it costs nothing in builds
// without TW_SEQUENCE_CHECKS (the test builds have it on).
class SequenceChecker {
public:
    explicit SequenceChecker(std::shared_ptr<const MainQueue> queue) : queue_(std::move(queue)) {}

    void check(std::source_location where = std::source_location::current()) const {
#if TW_SEQUENCE_CHECKS
        if (queue_->isCurrent()) return;
        std::fprintf(stderr, "%s:%u: %s called off its sequence\n", where.file_name(),
                     static_cast<unsigned>(where.line()), where.function_name());
        std::abort();
#else
        (void)where;
#endif
    }

private:
    const std::shared_ptr<const MainQueue> queue_;
};

}  // namespace tw
