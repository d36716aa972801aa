# The two ways in: `make run` and `make test`. Both install what they need first.
# `make package` builds the Debian package into $(BUILD).
BUILD ?= build
ASAN_BUILD ?= build-asan
JOBS ?= $(shell nproc)

.PHONY: deps configure build run test package sanitize clean bench format

deps:
	@scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	@scripts/run-main $(BUILD)

test: build
	@scripts/with-pulse ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS) --timeout 300

package: build
	@cd $(BUILD) && cpack -G DEB

sanitize: deps
	@cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUIL_SANITIZE=ON >/dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS)
	@ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
		scripts/with-pulse ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS) --timeout 600

# `make bench`: quilgrab against ffmpeg and tcpdump; BENCH_RUNS=N runs per side and row.
bench: build
	@scripts/run-benchmarks $(BUILD)

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) $(ASAN_BUILD)
