# Front door of the Tavrix build. Every target installs missing Debian packages first.
#   make deps       install what the build and the tests need (quiet when all is there)
#   make build      configure and build into build/
#   make test       build and run every test
#   make test-asan  unit tests built with AddressSanitizer + UndefinedBehaviorSanitizer
#   make test-tsan  unit tests built with ThreadSanitizer
#   make bench      build and run the benchmarks (Release build in build-bench/)
#   make fuzz       build the fuzz targets with clang and fuzz documents for FUZZ_SECONDS (60)
#   make demo       run the main job: a demo camera watched headless for about 30 seconds
#   make screenshot the desktop application with four test cameras on a virtual display, saved as
#                   build/screenshot.png
#   make install    build, then install under PREFIX (/usr/local), staged under DESTDIR when given
#   make package    the Debian package build-package/tavrix_VERSION_ARCH.deb
#   make package-test  builds the package, checks it with lintian, installs it with dpkg, runs the
#                   installed program and removes the package again (needs root)

JOBS ?= 2
CMAKE_FLAGS ?=
CTEST_FLAGS ?=
FUZZ_SECONDS ?= 60
PREFIX ?= /usr/local
DESTDIR ?=

.PHONY: all deps build test test-asan test-tsan bench fuzz demo screenshot format clean install package \
	package-test

all: build

deps:
	@scripts/deps.sh

build: deps
	@cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS) >/dev/null
	@cmake --build build -j $(JOBS)

test: build
	cd build && ctest --output-on-failure -j $(JOBS) $(CTEST_FLAGS)

test-asan: deps
	@cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTAVRIX_SANITIZE=address \
		-DTAVRIX_BUILD_APP=OFF $(CMAKE_FLAGS) >/dev/null
	@cmake --build build-asan -j $(JOBS)
	cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 \
		LSAN_OPTIONS=suppressions=$(CURDIR)/scripts/lsan.supp:print_suppressions=0 \
		UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		ctest --output-on-failure -j $(JOBS) -L unit $(CTEST_FLAGS)

test-tsan: deps
	@cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTAVRIX_SANITIZE=thread \
		-DTAVRIX_BUILD_APP=OFF $(CMAKE_FLAGS) >/dev/null
	@cmake --build build-tsan -j $(JOBS)
	cd build-tsan && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$(CURDIR)/scripts/tsan.supp \
		ctest --output-on-failure -j $(JOBS) -L unit $(CTEST_FLAGS)

bench:
	@scripts/deps.sh --bench
	@cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DTAVRIX_BUILD_BENCH=ON \
		-DTAVRIX_BUILD_TESTS=OFF $(CMAKE_FLAGS) >/dev/null
	@cmake --build build-bench -j $(JOBS)
	@scripts/run-benchmarks.sh build-bench

fuzz: deps
	@CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVRIX_BUILD_FUZZ=ON \
		-DTAVRIX_BUILD_TESTS=OFF -DTAVRIX_BUILD_APP=OFF $(CMAKE_FLAGS) >/dev/null
	@cmake --build build-fuzz -j $(JOBS) --target document_fuzz
	@mkdir -p build-fuzz/corpus build-fuzz/artifacts
	build-fuzz/bin/document_fuzz -max_total_time=$(FUZZ_SECONDS) -timeout=20 -rss_limit_mb=2048 \
		-artifact_prefix=build-fuzz/artifacts/ -print_final_stats=1 build-fuzz/corpus persistence/fuzz/corpus

install: build
	DESTDIR="$(DESTDIR)" cmake --install build --prefix "$(PREFIX)"

# The package is built in a folder of its own, for the prefix /usr and without the tests.
package: deps
	@cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVRIX_BUILD_TESTS=OFF \
		-DCMAKE_INSTALL_PREFIX=/usr \
		$(CMAKE_FLAGS) >/dev/null
	@cmake --build build-package -j $(JOBS)
	cd build-package && cpack -G DEB

package-test: package
	@dist/package-test.sh build-package

demo: build
	@scripts/demo.sh

screenshot: build
	@scripts/screenshot.sh build/bin/tavrix build/screenshot.png

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build build-asan build-tsan build-bench build-fuzz build-package
