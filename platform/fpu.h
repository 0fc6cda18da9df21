// Floating-point behaviour of the run.
// Backends:
// - posix: glibc's trap control.
// - win32: the C runtime's control word, x87 and SSE alike.
#pragma once

namespace plat {

// Invalid operations, division by zero and overflow give NaN or infinity instead of trapping.
void MaskFloatingPointExceptions();

}  // namespace plat
