// Floating-point exception masking with glibc's trap control.
#include "platform/fpu.h"

#include <cfenv>

namespace plat {

void MaskFloatingPointExceptions() {
#if defined(__GLIBC__)
    fedisableexcept(FE_ALL_EXCEPT);
#endif
    std::feclearexcept(FE_ALL_EXCEPT);
}

}  // namespace plat
