// Signal polling for long loops. The hook is installed by the Python layer;
// the core only asks it. Pure C++.
#pragma once

#include <cstdint>

#include "errors.hpp"

namespace kestrane {

// Long loops tick an InterruptPoll; every so many ticks it asks the hook,
// which the Python layer installs: it runs pending signal handlers (and the
// host's other pending work, see ARCHITECTURE.md) and returns true when one of
// them raised. Without a hook a poll does nothing.
using InterruptHook = bool (*)();
extern InterruptHook interrupt_hook;

class InterruptPoll {
public:
    // Units of work between two questions to the hook, unless said otherwise:
    // a poll of its own that ticks fewer times never asks.
    static constexpr int64_t kEvery = 4096;

    // Asks the hook once the ticks add up to `every` units of work.
    explicit InterruptPoll(int64_t every = kEvery) : every_(every), left_(every) {}
    // One unit of work, or `cost` units for a step that does that much.
    void tick(int64_t cost = 1) {
        left_ -= cost;
        if (left_ <= 0) {
            left_ = every_;
            if (interrupt_hook && interrupt_hook()) throw Interrupted{};
        }
    }

private:
    int64_t every_;
    int64_t left_;
};

}  // namespace kestrane
