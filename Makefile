# The two commands of the desk:
#   make run    installs what is missing, builds, starts the desk in build/run
#   make test   installs what is missing, builds, runs the whole test suite offscreen, then the check
#               of the Debian package (PACKAGE_CHECK=0 leaves it out)
# SANITIZE=1 builds with AddressSanitizer and UndefinedBehaviorSanitizer (in build-sanitize/).
# make package          the Debian package build/zielkron_<version>_amd64.deb
# make package-check    the package built, checked by lintian, installed, tried and removed again
# make fuzz             builds the fuzz harnesses with clang and libFuzzer (in build-fuzz/) and runs each
#                       for FUZZ_SECONDS (120 by default), one after the other; FUZZERS= picks some

SANITIZE ?= 0
ifeq ($(SANITIZE),1)
BUILD_DIR ?= build-sanitize
CMAKE_FLAGS += -DZK_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
PACKAGE_CHECK ?= 0
else
BUILD_DIR ?= build
PACKAGE_CHECK ?= 1
endif
RUN_DIR := $(BUILD_DIR)/run
JOBS ?= $(shell nproc)

# Debian packages the desk needs to build, run and test (poppler-utils: the results lists read
# back from their PDFs; man-db: the check of the manual pages;
# the last line: the check of what assistive technology reads, an AT-SPI client against the desk
# under Xvfb; rtkit: real-time priority for the ports' threads of an ordinary user, and its check
# against the real daemon; libudev-dev: serial adapters pulled out and plugged in again).
PACKAGES := cmake ninja-build g++ pkg-config libudev-dev \
            qt6-base-dev qt6-multimedia-dev libgl-dev qt6-translations-l10n \
            libgtest-dev libbenchmark-dev \
            fonts-liberation shared-mime-info poppler-utils man-db \
            libzip-dev libpugixml-dev libfreexl-dev \
            xvfb xauth dbus-daemon at-spi2-core libglib2.0-bin python3-dbus python3-gi rtkit

# What making and checking the Debian package needs besides (dpkg-shlibdeps, lintian, and
# appstreamcli for the AppStream metadata, which the test suite checks too).
METAINFO_TOOLS := appstream
PACKAGE_TOOLS := dpkg-dev lintian $(METAINFO_TOOLS)

.PHONY: run test deps package-deps build rundir package package-check screenshots clean fuzz fuzz-deps

# Installs those of the given Debian packages that are missing (as root, or through sudo).
define install-missing
	@missing=""; \
	for p in $(1); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'install ok installed' || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  if [ "$$(id -u)" = 0 ]; then SUDO=""; else SUDO="sudo"; fi; \
	  $$SUDO apt-get update -qq && DEBIAN_FRONTEND=noninteractive $$SUDO apt-get install -y -qq $$missing; \
	fi
endef

deps:
	$(call install-missing,$(PACKAGES))

package-deps:
	$(call install-missing,$(PACKAGE_TOOLS))

build: deps
	cmake -S . -B $(BUILD_DIR) -G Ninja $(CMAKE_FLAGS)
	cmake --build $(BUILD_DIR) -j $(JOBS)

# The run folder: the desk reads its list files and sound cues from its working folder.
rundir: build
	mkdir -p $(RUN_DIR)
	cp -n resources/*.lst resources/*.wav $(RUN_DIR)/ 2>/dev/null || true

run: rundir
	cd $(RUN_DIR) && ../zielkron $(ARGS)

test: build
	$(call install-missing,$(METAINFO_TOOLS))
	cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)
ifeq ($(PACKAGE_CHECK),1)
	$(MAKE) package-check
endif

# The package is made from the build folder as it is (cpack runs its install rules).
package: build package-deps
	cd $(BUILD_DIR) && cpack -G DEB

package-check: package
	packaging/check-package.sh $(BUILD_DIR)

# Renders the pictures of the manual (docs/manual/bilder) anew from the real windows, offscreen.
screenshots: build
	cmake --build $(BUILD_DIR) --target screenshots

# Fuzzing: clang with libFuzzer and the sanitizers' runtime, installed by this target alone.
FUZZ_PACKAGES := clang-14 libclang-rt-14-dev
FUZZ_DIR := build-fuzz
FUZZ_SECONDS ?= 120
FUZZERS ?= xlsx ods xls export_target reader_answer journal text_list live_server

fuzz-deps:
	$(call install-missing,$(FUZZ_PACKAGES))

# New inputs go to build-fuzz/corpus/NAME, findings (a crash, a hang, a memory blow-up) to
# build-fuzz/findings/NAME; a finding ends the run. The seeds in tests/fuzz/corpus are read only.
fuzz: deps fuzz-deps
	CC=clang-14 CXX=clang++-14 cmake -S . -B $(FUZZ_DIR) -G Ninja -DZK_FUZZ=ON -DZK_BUILD_TESTS=OFF \
	  -DZK_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(FUZZ_DIR) -j $(JOBS) --target $(addprefix fuzz_,$(FUZZERS))
	@for f in $(FUZZERS); do \
	  mkdir -p $(FUZZ_DIR)/corpus/$$f $(FUZZ_DIR)/findings/$$f; \
	  echo "== fuzz_$$f for $(FUZZ_SECONDS) s"; \
	  QT_QPA_PLATFORM=offscreen $(FUZZ_DIR)/tests/fuzz/fuzz_$$f $(FUZZ_DIR)/corpus/$$f tests/fuzz/corpus/$$f \
	    -max_total_time=$(FUZZ_SECONDS) -timeout=10 -rss_limit_mb=2048 -max_len=65536 -print_final_stats=1 \
	    -artifact_prefix=$(FUZZ_DIR)/findings/$$f/ || exit 1; \
	done

clean:
	rm -rf build build-sanitize build-fuzz
