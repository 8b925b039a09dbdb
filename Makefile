# The two commands of the README:
#   make run   installs, builds and runs the tool against the virtual printer
#   make test  installs, builds and runs every test
# and for installing: make deb (Debian packages in $(BUILD)/packages), make deb-check,
# make collection (the Ansible collection's tarball in $(BUILD)/collection).
# make soak: the whole suite SOAK_RUNS times with SOAK_JOBS tests at once (more than the cores),
# every test that failed even once listed; SOAK_DEB=1 repeats the package check too.
BUILD ?= build
JOBS  ?= $(shell nproc)
# make fuzz: the libFuzzer harnesses in their own clang build, each run for FUZZ_SECONDS.
FUZZ_BUILD   ?= build-fuzz
FUZZ_SECONDS ?= 60
SOAK_RUNS    ?= 5
SOAK_JOBS    ?= $(shell echo $$(( $(JOBS) * 2 )))

.PHONY: all deps build run test soak fuzz clean deb deb-check collection

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

soak: build $(if $(SOAK_DEB),deb)
	bash scripts/soak.sh $(BUILD) $(SOAK_RUNS) $(SOAK_JOBS) $(if $(SOAK_DEB),--deb-check) $(SOAK_CTEST_ARGS)

$(FUZZ_BUILD)/build.ninja:
	cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
	      -DTAVRO_FUZZ=ON -DTAVRO_WITH_GUI=OFF

fuzz: deps $(FUZZ_BUILD)/build.ninja
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzzers
	bash tests/fuzz/run-fuzzers.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

# make collection: the tavro.printer Ansible collection's tarball in $(BUILD)/collection.
collection: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) --target collection
	@ls $(BUILD)/collection/*.tar.gz

deb: build
	rm -f $(BUILD)/packages/*.deb
	cd $(BUILD) && cpack -G DEB
	@ls $(BUILD)/packages/*.deb

deb-check: deb
	bash packaging/check-debs.sh $(BUILD)/packages

clean:
	rm -rf $(BUILD) $(FUZZ_BUILD)
