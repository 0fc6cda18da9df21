// The user's decimal separator from the environment's LC_NUMERIC, without touching the global locale.
#include "platform/locale.h"

#include <langinfo.h>
#include <locale.h>

namespace plat {

char DecimalSeparator() {
    locale_t user = newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(0));
    if (user == static_cast<locale_t>(0)) return '.';
    const char* radix = nl_langinfo_l(RADIXCHAR, user);
    const char separator = (radix != nullptr && radix[0] != '\0' && radix[1] == '\0') ? radix[0] : '.';
    freelocale(user);
    return separator;
}

}  // namespace plat
