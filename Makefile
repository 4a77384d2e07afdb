# Two entry points for a newcomer on Debian 12: `make demo` and `make check`.
SHELL := /bin/bash
.PHONY: bootstrap build demo release check check-format check-ratio check-default check-i386 check-arm64 check-fuzz fuzz asan tsan bench clean format

bootstrap:
	scripts/bootstrap

build: bootstrap
	cmake --preset default
	cmake --build --preset default

# Only what the demo runs: the release launcher, the personalisation tool,
# the demo server and the log reader.
demo: bootstrap
	cmake --preset default
	cmake --build --preset default --target launcher_release personalise demo_server logreader
	scripts/demo

release: bootstrap
	scripts/release

check-default: bootstrap
	cmake --preset default
	cmake --build --preset default
	ctest --preset default

check-i386: bootstrap
	cmake --preset i386
	cmake --build --preset i386
	ctest --preset i386

format: bootstrap
	scripts/format

check-format: bootstrap
	scripts/format --check

# Test code at most half the product code, in non-blank lines.
check-ratio:
	scripts/test-ratio

check-arm64: bootstrap
	cmake --preset arm64
	cmake --build --preset arm64
	ctest --preset arm64

# The release first: the default tree's tests check what dist/ holds.
check: check-format check-ratio release check-default check-i386 check-arm64 check-fuzz

# The fuzz targets built with clang and libFuzzer, each run FUZZ_SECONDS (default 60).
fuzz: bootstrap
	cmake --preset fuzz
	cmake --build --preset fuzz
	scripts/fuzz

check-fuzz: bootstrap
	cmake --preset fuzz
	cmake --build --preset fuzz
	FUZZ_SECONDS=10 scripts/fuzz

asan: bootstrap
	cmake --preset asan
	cmake --build --preset asan
	ctest --preset asan

tsan: bootstrap
	cmake --preset tsan
	cmake --build --preset tsan
	ctest --preset tsan

# The benchmarks: a log line, the release sizes (after make release), a whole
# session against doing it by hand, and the windows' idle CPU and peak memory.
bench: bootstrap
	cmake --preset default
	cmake --build --preset default --target launcher_release personalise demo_server logreader bench_log
	bench/launcher_sizes
	build/default/bench/bench_log
	bench/session_cost
	bench/gui_cost

clean:
	rm -rf build dist
