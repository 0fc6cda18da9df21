// QR codes in a build without the encoder library: none, and the server goes on without them.
#include "tools/web/qrcode.h"

bool QrCodesAvailable() { return false; }
std::string QrTerminalText(const std::string&, bool) { return {}; }
std::string QrPng(const std::string&) { return {}; }
