// POSIX process settings.
#include "platform/process.h"

#include <cfenv>

namespace plat {

void MaskFloatingPointExceptions() {
#if defined(__GLIBC__)
    fedisableexcept(FE_ALL_EXCEPT);
#endif
    std::feclearexcept(FE_ALL_EXCEPT);
}

}  // namespace plat
