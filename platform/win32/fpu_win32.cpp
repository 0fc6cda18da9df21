// Floating-point exception masking with the C runtime's control word (x87 and SSE alike).
#include "platform/fpu.h"

#include <cfenv>
#include <float.h>

namespace plat {

void MaskFloatingPointExceptions() {
    _controlfp(_MCW_EM, _MCW_EM);
    std::feclearexcept(FE_ALL_EXCEPT);
}

}  // namespace plat
