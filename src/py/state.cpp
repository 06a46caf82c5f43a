#include "state.hpp"

namespace kestrane::py {

ProcessState process;

}  // namespace kestrane::py
