# gpsbridge: make run | make test | make demo | make package | make bench | make bench-load | make deps
# SAN=1 builds and tests with AddressSanitizer and UndefinedBehaviorSanitizer in build-san/.

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
           libbenchmark-dev libsystemd-dev prometheus-cpp-dev dpkg-dev file help2man haproxy
SUDO = $(if $(filter 0,$(shell id -u)),,sudo)

.PHONY: all deps configure build test run demo package bench bench-load clean format

all: build

deps:
	@missing=""; for p in $(PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  $(SUDO) apt-get update && \
	  DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y --no-install-recommends $$missing; \
	fi

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

# Builds only the gateway, not the tests and benchmarks.
run: configure run/gpsbridge.ini
	cmake --build $(BUILD_DIR) -j $(JOBS) --target gpsbridge
	$(BUILD_DIR)/app/gpsbridge --workdir run

run/gpsbridge.ini: gpsbridge.ini.sample
	mkdir -p run
	cp gpsbridge.ini.sample run/gpsbridge.ini

demo: build
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

# The whole gateway under load, from a release build of its own in build-bench/: a few minutes,
# run by hand. LOAD_ARGS passes options (--scenario, --limit; see load_bench --help).
bench-load: deps
	cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DGPSBRIDGE_BENCH=ON \
	  -DGPSBRIDGE_WERROR=$(if $(filter 1,$(WERROR)),ON,OFF)
	cmake --build build-bench -j $(JOBS) --target load_bench
	build-bench/bench/load_bench $(LOAD_ARGS)

clean:
	rm -rf build build-san build-pkg

# Formats every C++ file in the tree with the project's .clang-format.
format:
	@command -v clang-format >/dev/null || { echo "clang-format is missing (apt-get install clang-format)"; exit 1; }
	git ls-files '*.cpp' '*.h' | xargs clang-format -i
