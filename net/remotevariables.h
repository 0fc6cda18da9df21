// Simulator variables fetched from the network server, one request and one reply each.
#pragma once

#include <cstdint>
#include <string>

class TVqTcpBlockClient;

// The value at an FSUIPC offset as the server reads it; 0 while there is no client or it is not connected.
// Raises "No connection established" when the connection is lost while waiting, and
// "'%s' is not a valid floating point value" for a reply that is not a number.
double RequestRemoteVariable(TVqTcpBlockClient* client, std::uint32_t offset, const std::string& size,
                             const std::string& kind);

// A number text with optional blanks, sign, one decimal separator and exponent. The separator is a
// full stop or the user's regional one (the texts carry no thousands separators, so either reading
// is plain). A number too large for a double reads as 0.
double TextToFloat(const std::string& text, char decimalSeparator);
