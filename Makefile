# The two commands of the README:
#   make run   installs, builds and runs the tool against the virtual printer
#   make test  installs, builds and runs every test
# and for installing: make deb (Debian packages in $(BUILD)/packages), make deb-check.
BUILD ?= build
JOBS  ?= $(shell nproc)

.PHONY: all deps build run test clean deb deb-check

all: build

deps:
	@bash scripts/install-deps.sh

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_ARGS)

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

run: build
	@bash scripts/run-demo.sh $(BUILD)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 300

deb: build
	rm -f $(BUILD)/packages/*.deb
	cd $(BUILD) && cpack -G DEB
	@ls $(BUILD)/packages/*.deb

deb-check: deb
	bash packaging/check-debs.sh $(BUILD)/packages

clean:
	rm -rf $(BUILD)
