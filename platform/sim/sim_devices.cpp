// The simulated device setup functions, service control manager and kernel
// graphics adapters: not simulated yet, so the libraries export nothing.
#include "world.h"

namespace sim {

Exports ServiceExports() { return {}; }
Exports SetupApiExports() { return {}; }
Exports KernelGraphicsExports() { return {}; }

}  // namespace sim
