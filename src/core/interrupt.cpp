#include "interrupt.hpp"

namespace kestrane {

InterruptHook interrupt_hook = nullptr;

}  // namespace kestrane
