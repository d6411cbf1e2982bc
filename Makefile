# The two commands of the desk:
#   make run    installs what is missing, builds, starts the desk in build/run
#   make test   installs what is missing, builds, runs the whole test suite offscreen, then the check
#               of the Debian package (PACKAGE_CHECK=0 leaves it out)
# SANITIZE=1 builds with AddressSanitizer and UndefinedBehaviorSanitizer (in build-sanitize/).
# make package          the Debian package build/zielkron_<version>_amd64.deb
# make package-check    the package built, checked by lintian, installed, tried and removed again

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

# Debian packages the desk needs to build, run and test (man-db: the check of the manual pages;
# the last line: the check of what assistive technology reads, an AT-SPI client against the desk
# under Xvfb).
PACKAGES := cmake ninja-build g++ pkg-config \
            qt6-base-dev qt6-multimedia-dev libgl-dev qt6-translations-l10n \
            libgtest-dev libbenchmark-dev \
            fonts-liberation shared-mime-info man-db \
            libzip-dev libpugixml-dev libfreexl-dev \
            xvfb xauth dbus-daemon at-spi2-core libglib2.0-bin python3-dbus python3-gi

# What making and checking the Debian package needs besides (dpkg-shlibdeps, lintian).
PACKAGE_TOOLS := dpkg-dev lintian

.PHONY: run test deps package-deps build rundir package package-check screenshots clean

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

clean:
	rm -rf build build-sanitize
