// Floating-point behaviour of the run.
#pragma once

namespace plat {

// Invalid operations, division by zero and overflow give NaN or infinity instead of trapping.
void MaskFloatingPointExceptions();

}  // namespace plat
