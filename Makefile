# The two commands of the README:
#   make run    build the release binary and serve (needs VELMORA_MCP_BEARER)
#   make test   build with AddressSanitizer + UBSan and run the whole suite
.PHONY: run test deps check-token build-release build-asan bench

run: check-token build-release
	exec build/release/velmora-mcp

test: build-asan
	ctest --preset asan -j2 --timeout 300

deps:
	scripts/install-deps.sh

build-release: deps
	cmake --preset release >/dev/null
	cmake --build --preset release --target velmora-mcp

build-asan:
	scripts/install-deps.sh --with-interop
	cmake --preset asan >/dev/null
	cmake --build --preset asan

bench: deps
	cmake --preset release >/dev/null
	cmake --build --preset release
	bench/run.sh

check-token:
	@test -n "$$VELMORA_MCP_BEARER" || { echo "make run: set VELMORA_MCP_BEARER to a long random token first (see README.md)" >&2; exit 78; }
