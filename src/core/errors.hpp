// The failures the core reports. Pure C++: the Python layer maps each to its
// exception in one place (py/border.cpp).
//
// exact text: callers match it. The message of every Panic, ValueError and
// TooLarge the core throws is read by callers as it stands; reword none.
#pragma once

#include <cstdint>
#include <new>
#include <string>
#include <utility>

namespace kestrane {

using NodeId = uint64_t;

// A broken precondition inside an operation. The Python layer raises it as
// PanicException with `message` as its only argument.
struct Panic {
    std::string message;
};

// An ordinary failure that the Python layer raises as ValueError.
struct ValueError {
    std::string message;
};

// A result, a working set or a count too large to hold; `message` says which.
// The Python layer raises it as MemoryError with that message. It is a
// bad_alloc, so a handler of allocation failures that does not know it still
// reports a MemoryError.
struct TooLarge : std::bad_alloc {
    explicit TooLarge(std::string m) : message(std::move(m)) {}
    const char* what() const noexcept override { return message.c_str(); }
    std::string message;
};

// Thrown by InterruptPoll::tick() when the host has a pending error to report
// (a signal handler raised KeyboardInterrupt, say); the error is already set.
struct Interrupted {};

[[noreturn]] void panic(std::string message);
// "index out of bounds: the len is {len} but the index is {index}" (exact text)
[[noreturn]] void index_panic(uint64_t len, uint64_t index);

}  // namespace kestrane
