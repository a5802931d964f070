# gpsbridge: make run | make test | make demo | make package | make bench | make bench-load |
#            make powercut-check | make fuzz | make windows | make windows-test |
#            make windows-system-test | make deps | make windows-deps
# SAN=1 builds and tests with AddressSanitizer and UndefinedBehaviorSanitizer in build-san/.
# make fuzz builds the fuzz targets with clang, libFuzzer, ASan and UBSan in build-fuzz/ and runs
# each for FUZZ_SECONDS (60 by default).

SAN ?= 0
WERROR ?= $(if $(CI),1,0)
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

ifeq ($(SAN),1)
BUILD_DIR ?= build-san
CMAKE_FLAGS = -DCMAKE_BUILD_TYPE=Debug -DGPSBRIDGE_SANITIZE=ON
else
BUILD_DIR ?= build
CMAKE_FLAGS = -DCMAKE_BUILD_TYPE=RelWithDebInfo
endif
CMAKE_FLAGS += -DGPSBRIDGE_WERROR=$(if $(filter 1,$(WERROR)),ON,OFF)

PACKAGES = cmake ninja-build g++ make pkg-config qt6-base-dev libgtest-dev libgmock-dev \
           libbenchmark-dev libsystemd-dev prometheus-cpp-dev dpkg-dev file help2man haproxy \
           prometheus fonts-liberation
# The Windows cross build (MinGW-w64 with posix threads, GoogleTest's sources) and Wine to run it.
WINDOWS_PACKAGES = g++-mingw-w64-x86-64-posix googletest wine64
FUZZ_PACKAGES = clang libclang-rt-14-dev
SUDO = $(if $(filter 0,$(shell id -u)),,sudo)

.PHONY: all deps windows-deps fuzz-deps configure build test run demo package bench bench-load bench-baseline \
        powercut-check \
        fuzz windows windows-test windows-system-test clean format

all: build

# $(call install_missing,<packages>): installs those of the Debian packages that are missing.
define install_missing
	@missing=""; for p in $(1); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  $(SUDO) apt-get update && \
	  DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y --no-install-recommends $$missing; \
	fi
endef

deps:
	$(call install_missing,$(PACKAGES))

windows-deps: deps
	$(call install_missing,$(WINDOWS_PACKAGES))

fuzz-deps: deps
	$(call install_missing,$(FUZZ_PACKAGES))

configure: deps
	@if [ ! -f $(BUILD_DIR)/build.ninja ] || [ CMakeLists.txt -nt $(BUILD_DIR)/build.ninja ]; then \
	  cmake -S . -B $(BUILD_DIR) -G Ninja $(CMAKE_FLAGS); \
	else \
	  cmake $(BUILD_DIR) $(CMAKE_FLAGS) >/dev/null; \
	fi

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS) --timeout 300

# Builds only the gateway, not the tests and benchmarks, says where things are, and runs it.
run: configure run/gpsbridge.ini
	cmake --build $(BUILD_DIR) -j $(JOBS) --target gpsbridge
	@echo "gpsbridge: working directory run/, settings run/gpsbridge.ini; check them with"
	@echo "  $(BUILD_DIR)/app/gpsbridge --check-config --workdir run"
	@echo "  trackers connect to this machine's TCP port [main] DefaultPort (21000 unless set);"
	@echo "  messages go to [ServerHost] Address:Port (127.0.0.1:12543 unless set)"
	@echo "  stop: Ctrl-C here, or close the window with the password it shows"
	@echo "  make demo runs it with a test message server and simulated trackers"
	$(BUILD_DIR)/app/gpsbridge --workdir run

run/gpsbridge.ini: gpsbridge.ini.sample
	mkdir -p run
	cp gpsbridge.ini.sample run/gpsbridge.ini

# The three programs only. Ctrl-C ends the demo: the script stops them and exits 0. The script
# is the recipe's whole command, run without a shell between: a shell there would die of the
# Ctrl-C itself and make would report the recipe as interrupted.
demo: configure
	cmake --build $(BUILD_DIR) -j $(JOBS) --target gpsbridge msgserver gt20sim
	tools/demo.sh $(BUILD_DIR)

# The Debian package, from a release build of its own with Debian's hardening flags (fortify,
# stack protector, relro and bind-now); cpack strips the programs.
PKG_CXXFLAGS = $(shell DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get CXXFLAGS) \
               $(shell DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get CPPFLAGS)
PKG_LDFLAGS = $(shell DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get LDFLAGS)
package: deps
	cmake -S . -B build-pkg -G Ninja -DCMAKE_BUILD_TYPE=Release -DGPSBRIDGE_BENCH=OFF \
	  -DGPSBRIDGE_PACKAGE=ON -DCMAKE_CXX_FLAGS="$(PKG_CXXFLAGS)" \
	  -DCMAKE_EXE_LINKER_FLAGS="$(PKG_LDFLAGS)" \
	  -DGPSBRIDGE_WERROR=$(if $(filter 1,$(WERROR)),ON,OFF)
	cmake --build build-pkg -j $(JOBS) --target gpsbridge gt20sim msgserver package_extras
	cd build-pkg && cpack -G DEB
	@ls -1 build-pkg/gpsbridge*.deb

bench: build
	for b in $(BUILD_DIR)/bench/*_bench; do $$b; done

# Power cuts simulated from outside: the gateway killed at random moments with the backlog's
# files put back to what their last flushes made durable; nothing acknowledged may be missing
# once it drains (tools/powercut-check.sh; CUTS=5).
CUTS ?= 5
powercut-check: configure
	cmake --build $(BUILD_DIR) -j $(JOBS) --target gpsbridge gt20sim msgserver delivery_check \
	  sync_recorder
	tools/powercut-check.sh $(BUILD_DIR) $(CUTS)

# The whole gateway under load, from a release build of its own in build-bench/: a few minutes,
# run by hand. LOAD_ARGS passes options (--scenario, --limit; see load_bench --help).
# BASELINE=<git revision> also runs every scenario against that revision's gpsbridge, built by
# bench-baseline, and compares: make bench-load BASELINE=c3d531b.
bench-load: deps $(if $(BASELINE),bench-baseline)
	cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DGPSBRIDGE_BENCH=ON \
	  -DGPSBRIDGE_WERROR=$(if $(filter 1,$(WERROR)),ON,OFF)
	cmake --build build-bench -j $(JOBS) --target load_bench
	build-bench/bench/load_bench $(if $(BASELINE),--baseline $(BASELINE_BUILD)/app/gpsbridge) \
	  $(LOAD_ARGS)

# The gateway of revision BASELINE: checked out in a scratch worktree (build-bench/baseline-src,
# reused by later runs; --force takes the place back after make clean removed it) and built
# alone, release, in build-bench/baseline/.
BASELINE_SRC = build-bench/baseline-src
BASELINE_BUILD = build-bench/baseline
bench-baseline: deps
	@test -n "$(BASELINE)" || { echo "bench-baseline: set BASELINE=<git revision>"; exit 1; }
	@rev=$$(git rev-parse --verify --quiet "$(BASELINE)^{commit}") || \
	  { echo "bench-baseline: $(BASELINE) is no revision of this repository"; exit 1; }; \
	if [ -e $(BASELINE_SRC)/.git ]; then git -C $(BASELINE_SRC) checkout --quiet --detach $$rev; \
	else git worktree add --force --detach $(BASELINE_SRC) $$rev; fi
	cmake -S $(BASELINE_SRC) -B $(BASELINE_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release \
	  -DGPSBRIDGE_BENCH=OFF
	cmake --build $(BASELINE_BUILD) -j $(JOBS) --target gpsbridge

# Each target starts from its corpus in the tree plus what earlier runs found (kept in
# build-fuzz/corpus/); a failing input lands in build-fuzz/crashes/. The fast targets first.
FUZZ_DIR = build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_TARGETS ?= record_reader settings_reader tracker_stream link_replies backlog_store
# A smaller quarantine and no filling of new blocks: the targets allocate in every run, and the
# page faults of the defaults would halve the runs.
FUZZ_ASAN_OPTIONS ?= quarantine_size_mb=64:max_malloc_fill_size=0
FUZZ_CMAKE_FLAGS = -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGPSBRIDGE_FUZZ=ON -DGPSBRIDGE_BENCH=OFF \
                   -DGPSBRIDGE_WERROR=$(if $(filter 1,$(WERROR)),ON,OFF)
fuzz: fuzz-deps
	@if [ ! -f $(FUZZ_DIR)/build.ninja ] || [ CMakeLists.txt -nt $(FUZZ_DIR)/build.ninja ]; then \
	  CC=clang CXX=clang++ cmake -S . -B $(FUZZ_DIR) -G Ninja $(FUZZ_CMAKE_FLAGS); \
	else \
	  cmake $(FUZZ_DIR) $(FUZZ_CMAKE_FLAGS) >/dev/null; \
	fi
	cmake --build $(FUZZ_DIR) -j $(JOBS) --target $(addprefix fuzz_,$(FUZZ_TARGETS))
	@for t in $(FUZZ_TARGETS); do \
	  case $$t in settings_reader|tracker_stream) len=2048;; backlog_store) len=8192;; *) len=4096;; esac; \
	  mkdir -p $(FUZZ_DIR)/corpus/$$t $(FUZZ_DIR)/crashes $(FUZZ_DIR)/logs; \
	  log=$(FUZZ_DIR)/logs/$$t.log; \
	  echo "fuzz_$$t: $(FUZZ_SECONDS) s (log in $$log)"; \
	  if ! ASAN_OPTIONS=$(FUZZ_ASAN_OPTIONS) $(FUZZ_DIR)/fuzz/fuzz_$$t \
	       -max_total_time=$(FUZZ_SECONDS) -timeout=10 -max_len=$$len -rss_limit_mb=2048 \
	       -print_final_stats=1 -dict=fuzz/dict/$$t.dict -artifact_prefix=$(FUZZ_DIR)/crashes/$$t- \
	       $(FUZZ_DIR)/corpus/$$t fuzz/corpus/$$t >$$log 2>&1; then \
	    tail -n 60 $$log; echo "fuzz_$$t FAILED: the input is in $(FUZZ_DIR)/crashes/"; exit 1; \
	  fi; \
	  grep -E '^#[0-9]+[[:space:]]+DONE|^stat::(number_of_exec|average_exec)' $$log; \
	done

# Windows, cross-built in build-win/: the core libraries, the gateway without a window
# (gpsbridge.exe, in a console or as a Windows service), the tools, the core's tests and
# build-win/gpsbridge-<version>-win64.zip with the programs, a sample gpsbridge.ini and a readme.
# Qt, systemd and prometheus-cpp have no Windows builds here, so neither have the gateway's
# window, its systemd glue and its metrics.
WIN_BUILD_DIR = build-win
WIN_CMAKE_FLAGS = -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
                  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
                  -DGPSBRIDGE_WERROR=$(if $(filter 1,$(WERROR)),ON,OFF)
windows: windows-deps
	@if [ ! -f $(WIN_BUILD_DIR)/build.ninja ]; then \
	  cmake -S . -B $(WIN_BUILD_DIR) -G Ninja $(WIN_CMAKE_FLAGS); \
	else \
	  cmake $(WIN_BUILD_DIR) $(WIN_CMAKE_FLAGS) >/dev/null; \
	fi
	cmake --build $(WIN_BUILD_DIR) -j $(JOBS)
	@ls -1 $(WIN_BUILD_DIR)/gpsbridge-*-win64.zip

# The core's tests and a check of the tools, all under Wine (no display needed).
windows-test: windows
	tools/wine-tests.sh $(WIN_BUILD_DIR)

# Under Wine: gt20sim.exe, gpsbridge.exe and msgserver.exe on loopback; dd8 written by one build
# and sent by the other, both ways; gpsbridge.exe as a service through sc.exe
# (tools/wine-system-test.sh). Needs the Linux gateway, test server and delivery check too.
windows-system-test: windows configure
	cmake --build $(BUILD_DIR) -j $(JOBS) --target gpsbridge msgserver delivery_check
	tools/wine-system-test.sh $(WIN_BUILD_DIR) $(BUILD_DIR)

clean:
	rm -rf build build-san build-pkg build-bench build-fuzz build-win

# Formats every C++ file in the tree with the project's .clang-format.
format:
	@command -v clang-format >/dev/null || { echo "clang-format is missing (apt-get install clang-format)"; exit 1; }
	git ls-files '*.cpp' '*.h' | xargs clang-format -i
