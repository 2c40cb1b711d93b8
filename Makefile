# The two commands of the README: `make demo` and `make check`; and
# `make package` for a Debian package.
# `make check SANITIZE=1` builds with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer in build-asan/ and runs the same tests there,
# plus bounded fuzz runs of the address parser, the site list readers and
# the FileZilla writer read back.

SANITIZE ?=
ifeq ($(SANITIZE),1)
BUILD := build-asan
CMAKE_FLAGS := -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
               -DKELVO_SANITIZE=address,undefined
TEST_ENV := ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:halt_on_error=1:suppressions=$(CURDIR)/tests/asan.supp \
            LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp:print_suppressions=0 \
            UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
else
BUILD := build
CMAKE_FLAGS := -DCMAKE_BUILD_TYPE=RelWithDebInfo
TEST_ENV :=
endif

.PHONY: deps configure build check demo package clean
deps:
	@bash scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD) -G Ninja -DKELVO_WERROR=ON $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD)

check: build
	cd $(BUILD) && env $(TEST_ENV) ctest --output-on-failure -j2

# The demo needs the host, the store tool, the module and the sample
# workers; tests, fuzzers and benchmarks are built by make check.
DEMO_TARGETS := ostrel-host kelvo-book Kelvo FtpWorker GopherWorker HttpWorker HttpsWorker FileWorker

demo: configure
	cmake --build $(BUILD) --target $(DEMO_TARGETS)
	@bash scripts/demo.sh $(BUILD)

# A Debian package of the installed tree, in $(BUILD)/.
package: build
	cd $(BUILD) && cpack -G DEB

clean:
	rm -rf build build-asan
