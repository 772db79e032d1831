// The official MCP TypeScript client against the real server binary:
// connect with the bearer header, initialise, list the tools, call one, close.
// Usage: node interop.mjs <velmora-mcp binary> <recording stub binary>
import { spawn } from "node:child_process";
import { mkdtempSync, mkdirSync, symlinkSync, writeFileSync, readFileSync, rmSync } from "node:fs";
import { createServer, connect } from "node:net";
import { tmpdir } from "node:os";
import { join } from "node:path";
import assert from "node:assert/strict";
import { Client } from "@modelcontextprotocol/sdk/client/index.js";
import { StreamableHTTPClientTransport } from "@modelcontextprotocol/sdk/client/streamableHttp.js";

const [binary, stub] = process.argv.slice(2);
const token = "interop-token-5f1c0d2e9a7b4c38";

const freePort = () =>
  new Promise((resolve) => {
    const probe = createServer().listen(0, "127.0.0.1", () => {
      const { port } = probe.address();
      probe.close(() => resolve(port));
    });
  });

const listening = (port) =>
  new Promise((resolve) => {
    const socket = connect(port, "127.0.0.1", () => { socket.end(); resolve(true); });
    socket.on("error", () => resolve(false));
  });

const root = mkdtempSync(join(tmpdir(), "velmora-interop-"));
const stubs = join(root, "stubs");
mkdirSync(join(root, "home", ".wendle"), { recursive: true });
mkdirSync(stubs);
symlinkSync(stub, join(stubs, "wendle"));
writeFileSync(join(stubs, "wendle.reply"), JSON.stringify({ out: '[{"node":"mac","status":"busy"}]\n' }));

const port = await freePort();
const server = spawn(binary, [], {
  env: {
    PATH: `${stubs}:${process.env.PATH}`,
    HOME: join(root, "home"),
    WENDLE_HOME: join(root, "home", ".wendle"),
    VELMORA_STUB_DIR: stubs,
    VELMORA_MCP_BEARER: token,
    VELMORA_MCP_ADDR: `127.0.0.1:${port}`,
  },
  stdio: ["ignore", "ignore", "inherit"],
});

try {
  for (let i = 0; i < 200 && !(await listening(port)); i++) await new Promise((r) => setTimeout(r, 50));

  const transport = new StreamableHTTPClientTransport(new URL(`http://127.0.0.1:${port}/mcp`), {
    requestInit: { headers: { Authorization: `Bearer ${token}` } },
  });
  const client = new Client({ name: "velmora-interop", version: "1.0.0" });
  await client.connect(transport);
  assert.equal(client.getServerVersion().name, "velmora");
  assert.ok(transport.sessionId, "the server issued a session id");

  const { tools } = await client.listTools();
  assert.ok(tools.length > 0, "the catalogue is not empty");
  const names = tools.map((tool) => tool.name);
  assert.ok(names.includes("sessions"), `sessions is listed: ${names.join(",")}`);

  const result = await client.callTool({ name: "sessions", arguments: { all: true } });
  assert.equal(result.isError, false);
  assert.deepEqual(result.content, [{ type: "text", text: '[{"node":"mac","status":"busy"}]' }]);
  const log = readFileSync(join(stubs, "wendle.log"), "utf8").trim().split("\n").map((l) => JSON.parse(l));
  assert.deepEqual(log.at(-1).args, ["sessions", "--all", "--json"]);

  await transport.terminateSession();
  assert.equal(transport.sessionId, undefined);
  await client.close();
  console.log(`interop: ok (${tools.length} tools)`);
} finally {
  server.kill("SIGKILL");
  rmSync(root, { recursive: true, force: true });
}
