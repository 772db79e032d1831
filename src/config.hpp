// Start-up configuration read from the environment.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <boost/asio/ip/tcp.hpp>

#include "catalogue.hpp"

inline constexpr std::string_view default_addr = "127.0.0.1:9611";
// The token the server once shipped with; it is public knowledge now.
inline constexpr std::string_view former_default_token = "velmora-dev-token";

// The refusal reason for a bearer token, or none when it is acceptable.
std::optional<std::string> bearer_refusal(const char* value);
std::string refusal_text(std::string_view reason);

// An IP literal and a port ("127.0.0.1:9611", "[::1]:9611"); no host names.
std::optional<boost::asio::ip::tcp::endpoint> parse_addr(std::string_view text, std::string& error);

CatalogueSwitches switches_from_env();

extern const char* const instructions;
