#include "errors.hpp"

namespace kestrane {

void panic(std::string message) { throw Panic{std::move(message)}; }

void index_panic(uint64_t len, uint64_t index) {
    panic("index out of bounds: the len is " + std::to_string(len) + " but the index is " +
          std::to_string(index));
}

}  // namespace kestrane
