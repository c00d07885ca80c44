# make test: install what is missing, build both Windows targets and the native
#            sanitizer build, run every test (under Wine) and a bounded fuzz run.
# make demo: the program at work under Wine, as a service and standalone (the i686
#            build where this machine runs 32-bit programs, else the x86_64 build).
# REQUIRE_I686=1 make test: fail, instead of skipping, where i686 cannot run.
# make soak: the endurance test of the service's controls at full count, on each
#            target that runs here.
# make dist: Release builds of both targets, one zip and one MSI per target and
#            SHA256SUMS in dist/ (README, "Building a release"). VERSION=x.y.z overrides
#            the project's version; SIGN_CERT=... SIGN_KEY=... [SIGN_TIMESTAMP_URL=...]
#            sign the binaries and packages. The MSI packages beside the zips take an
#            organisation's defaults: LOGDIR=... JAVA_VM=... MAXHEAPSIZE=...
#            SERVICE_START=auto|demand JARS=DIR (the daemon's four archives).
BUILD := build
DIST := dist
JOBS := 2
VERSION :=
CMAKE_FLAGS := -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: all deps build build-i686 build-x86_64 test demo soak clean dist

all: build

deps:
	bash scripts/install-deps.sh $(BUILD)

# One configure-and-build recipe per Windows target.
define build_target
	cmake -S . -B $(BUILD)/$(1) -DCMAKE_TOOLCHAIN_FILE=cmake/$(1)-w64-mingw32.cmake $(CMAKE_FLAGS) \
		-DTESSALY_VERSION='$(VERSION)'
	cmake --build $(BUILD)/$(1) -j$(JOBS)
endef

build-i686: deps
	$(call build_target,i686)

build-x86_64: deps
	$(call build_target,x86_64)

build: build-i686 build-x86_64

test: build
	bash scripts/run-tests.sh $(BUILD)

demo: build
	bash scripts/demo.sh $(BUILD)

soak: build
	bash scripts/soak.sh $(BUILD)

clean:
	rm -rf $(BUILD) $(DIST)

# The packages' own defaults: the properties that packaging/msi-package.txt builds in.
MSI_DEFAULTS := $(shell sed 's/\#.*//' packaging/msi-package.txt | awk '$$1 == "property" && $$4 == "yes" { print $$2 }')

dist: deps
	VERSION='$(VERSION)' JOBS='$(JOBS)' SIGN_CERT='$(SIGN_CERT)' SIGN_KEY='$(SIGN_KEY)' \
		SIGN_TIMESTAMP_URL='$(SIGN_TIMESTAMP_URL)' \
		$(foreach name,$(MSI_DEFAULTS),$(name)='$($(name))') JARS='$(JARS)' \
		bash packaging/dist.sh $(BUILD) $(DIST)

# make bench: the host measured beside its floors under Wine; the table goes to
# $(BUILD)/bench.md.
.PHONY: bench
bench: build
	bash scripts/bench.sh $(BUILD)
