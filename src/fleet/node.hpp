// This machine's node name in the fleet.
#pragma once

#include <string>

#include <boost/asio/awaitable.hpp>

namespace fleet {

// WENDLE_NODE, then config/node under the configuration root, then the
// output of `hostname`, then "localhost". Never empty.
boost::asio::awaitable<std::string> fleet_node_id();

}  // namespace fleet
