-- wrk script: JSON-RPC "ping" POSTs with the bearer token.
wrk.method = "POST"
wrk.path = "/mcp"
wrk.headers["Content-Type"] = "application/json"
wrk.headers["Authorization"] = "Bearer " .. os.getenv("VELMORA_MCP_BEARER")
wrk.body = '{"jsonrpc":"2.0","id":1,"method":"ping"}'
