// The user's decimal separator from the desktop's regional settings.
#include "platform/locale.h"

#include "platform/win32/win32_common.h"

namespace plat {

char DecimalSeparator() {
    char text[8] = {};
    const int n = ::GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, text, sizeof text);
    // Only a one-byte separator can be used by single-byte number texts.
    return (n == 2 && text[0] != '\0') ? text[0] : '.';
}

}  // namespace plat
