# zoompanel: the set-up commands. `make run` and `make test` install what is
# missing, configure, build and go; see README.md.

SHELL := /bin/bash
ARGS ?=
FUZZ_SECONDS ?= 600
SOAK_SECONDS ?= 180
GENERATOR := -G Ninja
RELEASE := -DCMAKE_BUILD_TYPE=RelWithDebInfo
CLANG := -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++

.PHONY: all setup build build-asan build-tsan build-blackbox test run bench fuzz blackbox soak format clean package

all: build

setup:
	@scripts/setup.sh

build: setup
	@cmake -S . -B build $(GENERATOR) $(RELEASE) --log-level=WARNING
	@cmake --build build

# Address and undefined-behaviour sanitizers, with clang, plus the fuzz targets.
# The sanitizer builds build only what the tests run (target zp_check).
build-asan: setup
	@cmake -S . -B build-asan $(GENERATOR) $(RELEASE) $(CLANG) -DZP_SANITIZE=address -DZP_FUZZ=ON --log-level=WARNING
	@cmake --build build-asan --target zp_check

# Thread sanitizer, with clang.
build-tsan: setup
	@cmake -S . -B build-tsan $(GENERATOR) $(RELEASE) $(CLANG) -DZP_SANITIZE=thread --log-level=WARNING
	@cmake --build build-tsan --target zp_check

# tsan.supp names frames inside Qt only (see the file); halt_on_error turns a
# report into a failed test.
TSAN_OPTIONS := suppressions=$(CURDIR)/tsan.supp halt_on_error=1 second_deadlock_stack=1

test: build build-asan build-tsan
	@export QT_QPA_PLATFORM=offscreen; \
	ctest --test-dir build --output-on-failure -j2 && \
	ctest --test-dir build-asan --output-on-failure -j2 && \
	TSAN_OPTIONS="$(TSAN_OPTIONS)" ctest --test-dir build-tsan --output-on-failure -j2

# The Debian package, in build-pkg/: CPack's DEB generator (cmake/packaging.cmake)
# over the install rules, the programs built with Debian's compiler and
# hardening flags (dpkg-buildflags; the file prefix map keeps the checkout's
# path out of them). Only the packaged programs are built.
package: setup
	@export DEB_BUILD_MAINT_OPTIONS=hardening=+all; \
	cmake -S . -B build-pkg $(GENERATOR) $(RELEASE) -DZP_BENCH=OFF --log-level=WARNING \
	    "-DCMAKE_C_FLAGS=$$(dpkg-buildflags --get CFLAGS) $$(dpkg-buildflags --get CPPFLAGS)" \
	    "-DCMAKE_CXX_FLAGS=$$(dpkg-buildflags --get CXXFLAGS) $$(dpkg-buildflags --get CPPFLAGS)" \
	    "-DCMAKE_EXE_LINKER_FLAGS=$$(dpkg-buildflags --get LDFLAGS)"
	@cmake --build build-pkg --target zoompanel zoomctl camsim zp_packaging_files
	@rm -f build-pkg/zoompanel_*.deb
	@cd build-pkg && cpack -G DEB
	@dpkg-deb -I build-pkg/zoompanel_*.deb | sed -n '/Package:/p;/Version:/p;/Depends:/p'

# Without ARGS the panel talks to the built-in virtual camera.
run: build
	./build/zoompanel $(if $(strip $(ARGS)),$(ARGS),--simulate)

bench: build
	@for b in build/*_bench; do echo "== $$b"; $$b; done

# A longer fuzzing session than the one make test runs: each target for
# FUZZ_SECONDS, keeping its corpus under fuzz/.
fuzz: build-asan
	@for t in reply_parser dispatch; do \
	    mkdir -p fuzz/corpus-$$t; \
	    ./build-asan/fuzz_$$t -max_total_time=$(FUZZ_SECONDS) -max_len=512 fuzz/corpus-$$t || exit 1; \
	done

# The black-box checks need only the panel and the virtual camera.
build-blackbox: setup
	@cmake -S . -B build $(GENERATOR) $(RELEASE) --log-level=WARNING
	@cmake --build build --target zoompanel camsim

# The real window on a virtual screen, the mouse driven by xdotool; then the
# status bar as a screen reader hears it, and the desktop's ping answered
# throughout (the system's python3, for pyatspi and python3-xlib).
blackbox: build-blackbox
	@python3 tests/blackbox/cable_check.py
	@tests/blackbox/a11y_check.py
	@tests/blackbox/ping_check.py
	@tests/blackbox/traffic_check.py

# The pairing test checks the soak's own checker first.
soak: build-blackbox
	@python3 tests/blackbox/pairing_test.py
	@python3 tests/blackbox/soak.py --duration $(SOAK_SECONDS)

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build build-asan build-tsan build-pkg
