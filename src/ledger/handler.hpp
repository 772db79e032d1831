// Ledger tools answer from SQLite statements that run inline; this turns such
// a synchronous call into a tool handler.
#pragma once

#include <boost/asio/awaitable.hpp>
#include <toolport/toolport.hpp>

namespace ledger {

using InlineCall = toolport::ToolOutput (*)(const toolport::json& args);

// The result is kept in a named local: GCC 12 mishandles temporaries in a
// co_return expression.
inline boost::asio::awaitable<toolport::ToolOutput> run_inline(InlineCall call, toolport::json args) {
    toolport::ToolOutput output = call(args);
    co_return output;
}

inline toolport::Handler inline_handler(InlineCall call) {
    return [call](toolport::json args) { return run_inline(call, std::move(args)); };
}

}  // namespace ledger
