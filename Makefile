# The two commands of the desk:
#   make run    installs what is missing, builds, starts the desk in build/run
#   make test   installs what is missing, builds, runs the whole test suite offscreen
# SANITIZE=1 builds with AddressSanitizer and UndefinedBehaviorSanitizer (in build-sanitize/).

SANITIZE ?= 0
ifeq ($(SANITIZE),1)
BUILD_DIR ?= build-sanitize
CMAKE_FLAGS += -DZK_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
else
BUILD_DIR ?= build
endif
RUN_DIR := $(BUILD_DIR)/run
JOBS ?= $(shell nproc)

# Debian packages the desk needs to build, run and test.
PACKAGES := cmake ninja-build g++ pkg-config \
            qt6-base-dev qt6-multimedia-dev libgl-dev \
            libgtest-dev libbenchmark-dev libcpp-httplib-dev \
            fonts-liberation shared-mime-info poppler-utils \
            libzip-dev libpugixml-dev libfreexl-dev

.PHONY: run test deps build rundir screenshots clean

deps:
	@missing=""; \
	for p in $(PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'install ok installed' || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  if [ "$$(id -u)" = 0 ]; then SUDO=""; else SUDO="sudo"; fi; \
	  $$SUDO apt-get update -qq && DEBIAN_FRONTEND=noninteractive $$SUDO apt-get install -y -qq $$missing; \
	fi

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

# Renders the pictures of the manual (docs/manual/bilder) anew from the real windows, offscreen.
screenshots: build
	cmake --build $(BUILD_DIR) --target screenshots

clean:
	rm -rf build build-sanitize
