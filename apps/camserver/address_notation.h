// IPv4 and MAC addresses of camera features in their usual notation ("192.168.1.5",
// "00:30:53:12:34:56"), for the features whose description gives that representation.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <mirva/d_fct.h>

namespace mirva::camserver {

// Dotted notation of the low 32 bits ("169.254.0.1").
std::string format_ipv4(int64_t value);
// Six bytes in upper-case hex separated by colons, of the low 48 bits ("00:30:53:AB:CD:EF").
std::string format_mac(int64_t value);
// The address of four numbers 0..255 separated by dots; nothing for another text.
std::optional<int64_t> parse_ipv4(const std::string& text);
// Six hex bytes separated by ':' or '-'; nothing for another text.
std::optional<int64_t> parse_mac(const std::string& text);

// The text of value in the notation of representation ("IPV4Address", "MACAddress");
// nothing for another representation.
std::optional<std::string> address_text(const std::string& representation, int64_t value);

// A client's text written to a feature of that representation: an address in its
// notation becomes its number; a plain number (or any value that is no text) passes as it
// is; another text is refused with *error naming it and the notation.
std::optional<ClientValue> address_write(const std::string& representation, const ClientValue& value,
                                         std::string* error);

} // namespace mirva::camserver
