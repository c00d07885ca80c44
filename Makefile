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

build-%: deps
	cmake -S . -B $(BUILD)/$* -DCMAKE_TOOLCHAIN_FILE=cmake/$*-w64-mingw32.cmake $(CMAKE_FLAGS)
	cmake --build $(BUILD)/$* -j$(JOBS)

build: build-i686 build-x86_64

test: build
	bash scripts/run-tests.sh $(BUILD)

demo: build-i686
	bash scripts/demo.sh $(BUILD)

clean:
	rm -rf $(BUILD)
