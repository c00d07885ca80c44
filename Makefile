# make test: install what is missing, build both Windows targets and the native
#            sanitizer build, run every test (under Wine) and a bounded fuzz run.
# make demo: the program at work under Wine, as a service and standalone.
BUILD := build
JOBS := 2
CMAKE_FLAGS := -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: all deps build build-i686 build-x86_64 test demo clean

all: build

deps:
	bash scripts/install-deps.sh

# One configure-and-build recipe per Windows target.
define build_target
	cmake -S . -B $(BUILD)/$(1) -DCMAKE_TOOLCHAIN_FILE=cmake/$(1)-w64-mingw32.cmake $(CMAKE_FLAGS)
	cmake --build $(BUILD)/$(1) -j$(JOBS)
endef

build-i686: deps
	$(call build_target,i686)

build-x86_64: deps
	$(call build_target,x86_64)

build: build-i686 build-x86_64

test: build
	bash scripts/run-tests.sh $(BUILD)

demo: build-i686
	bash scripts/demo.sh $(BUILD)

clean:
	rm -rf $(BUILD)

# make bench: the host measured beside its floors under Wine; the table goes to
# $(BUILD)/bench.md.
.PHONY: bench
bench: build
	bash scripts/bench.sh $(BUILD)
