# The two commands of a new user: `make run` and `make test`; then
# `make install` (PREFIX, DESTDIR) and `make package` (.deb and .tar.gz).
# For Windows: `make windows`, `make test-windows`, `make package-windows`.
BUILD   ?= build
ASAN    ?= build-asan
RELEASE ?= build-release
WINDOWS ?= build-windows
JOBS    ?= 2
PREFIX  ?= /usr/local
DESTDIR ?=
# Warnings are errors in the builds of `make test` and CI; a plain cmake
# build, and the release build below, only show them.
WERROR  := -DVENDRAK_WERROR=ON
GENERATOR := $(if $(shell command -v ninja 2>/dev/null),-G Ninja,)
# The sanitizer build uses clang when it is there, so every test run also
# proves the code warning-free under a second compiler.
ASAN_CXX  := $(or $(shell command -v clang++ 2>/dev/null),$(CXX))

# The main example: a flash job with its listing and summary line.
EXAMPLE ?= flash_job.vsc

.PHONY: all build asan release run test install package clean

all: build

build:
	cmake -S . -B $(BUILD) $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(WERROR)
	cmake --build $(BUILD) -j $(JOBS)

# The whole suite again under AddressSanitizer (with leak detection) and
# UndefinedBehaviorSanitizer; any report fails the run.
asan:
	CXX=$(ASAN_CXX) cmake -S . -B $(ASAN) $(GENERATOR) -DCMAKE_BUILD_TYPE=Debug -DVENDRAK_SANITIZE=ON $(WERROR)
	cmake --build $(ASAN) -j $(JOBS)

release:
	cmake -S . -B $(RELEASE) $(GENERATOR) -DCMAKE_BUILD_TYPE=Release -DVENDRAK_TESTS=OFF -DVENDRAK_TOOLS=ON
	cmake --build $(RELEASE) -j $(JOBS)

# Compiles the main example in examples/ (where its VBF files are) into
# $(RELEASE)/example.bin, shows its listing and summary line, and verifies
# the container with vendrak-inspect.
run: release
	cd examples && ../$(RELEASE)/vendrak -v -o ../$(RELEASE)/example.bin $(EXAMPLE) </dev/null
	$(RELEASE)/vendrak-inspect -q $(RELEASE)/example.bin

# The programs, man pages, manual, examples and shell completions under
# $(DESTDIR)$(PREFIX).
install: release
	DESTDIR="$(DESTDIR)" cmake --install $(RELEASE) --prefix "$(PREFIX)"

# $(RELEASE)/vendrak_<version>_<arch>.deb and vendrak-<version>-Linux-<arch>.tar.gz.
package: release
	cd $(RELEASE) && cpack

test: build asan
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --test-dir $(ASAN) --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD) $(ASAN) $(RELEASE) $(WINDOWS) $(MUTATE)

# libFuzzer harnesses (clang with ASan and UBSan) for the script compile, the
# VBF converter and the container inspector, each run for FUZZ_SECONDS
# seconds from seeds drawn from the e2e cases and the examples; the plain
# build's compiler makes the seed containers. Any finding fails the target.
FUZZ         ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_CXX     := $(or $(shell command -v clang++ 2>/dev/null),clang++)

.PHONY: fuzz
fuzz: build
	CXX=$(FUZZ_CXX) cmake -S . -B $(FUZZ) $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVENDRAK_FUZZ=ON -DVENDRAK_TESTS=OFF $(WERROR)
	cmake --build $(FUZZ) -j $(JOBS) --target fuzzers
	fuzz/run.sh $(FUZZ) $(BUILD)/vendrak $(FUZZ_SECONDS)

# Editor support. The TextMate grammar is tokenized by the engine VS Code
# runs it with (npm packages of tests/editors, installed by npm ci from its
# lock file); the Vim files are loaded by headless Neovim and Vim, whichever
# are installed (at least one must be); vendrak-lsp is driven by Neovim's
# language client (test-lsp, which needs Neovim).
EDITOR_TESTS := tests/editors
VSCODE_EXT   := editors/vscode

.PHONY: test-editors test-lsp vsix
test-editors: $(EDITOR_TESTS)/node_modules/.package-lock.json test-lsp
	cd $(EDITOR_TESTS) && node --test
	@ran=; \
	if command -v nvim >/dev/null; then \
	  nvim --headless -u NONE -i NONE -n -S $(EDITOR_TESTS)/vim_test.vim </dev/null || exit 1; ran=1; \
	fi; \
	if command -v vim >/dev/null; then \
	  vim -N -u NONE -i NONE -n -es -S $(EDITOR_TESTS)/vim_test.vim </dev/null || exit 1; ran=1; \
	fi; \
	test -n "$$ran" || { echo "test-editors: neither nvim nor vim is installed" >&2; exit 1; }

# vendrak-lsp under Neovim's built-in language client, headless: the
# diagnostics of an example with a planted error and slip, hover, definition,
# shutdown and exit. The -c after the test file ends Neovim when the file
# cannot even be loaded.
test-lsp:
	@command -v nvim >/dev/null || { echo "test-lsp: Neovim (nvim) is not installed" >&2; exit 1; }
	cmake -S . -B $(BUILD) $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(WERROR)
	cmake --build $(BUILD) -j $(JOBS) --target vendrak-lsp
	VENDRAK_LSP=$(BUILD)/vendrak-lsp nvim --headless -u NONE -i NONE -n \
	  -c 'luafile $(EDITOR_TESTS)/lsp_test.lua' -c 'cquit 1' </dev/null

# The VS Code extension as editors/vscode/vendrak-script-<version>.vsix, after
# a type check of the client against the VS Code and language client APIs.
vsix: $(VSCODE_EXT)/node_modules/.package-lock.json
	cd $(VSCODE_EXT) && npm run --silent check && npm run --silent package

%/node_modules/.package-lock.json: %/package-lock.json %/package.json
	cd $* && npm ci --no-audit --no-fund

# Windows: vendrak.exe and vendrak-inspect.exe cross-compiled with MinGW-w64
# (x86_64-w64-mingw32, POSIX threads) and linked statically, so that each
# runs on a bare Windows machine; `make package-windows` zips them with the
# README, the manual and the examples.
#
# `make test-windows` runs them under Wine, in a Wine prefix of their own
# inside $(WINDOWS): the unit tests cross-built (GoogleTest compiled from
# GTEST_SOURCE), then from the Linux build every e2e case with its round trip
# through the inspector, the stress faults and the Windows cases of windows_test, all
# starting the .exe files through tests/windows/launch.exe, and last the
# .zip, unpacked, on the bundled example.
GTEST_SOURCE ?= /usr/src/googletest
WINE_ENV     := WINEPREFIX=$(abspath $(WINDOWS))/wineprefix WINEDEBUG=-all
# Drive Z: is the root of the Linux file system in every Wine prefix.
wine_path     = Z:$(subst /,\,$(abspath $(1)))

.PHONY: windows windows-all test-windows package-windows
windows:
	cmake -S . -B $(WINDOWS) $(GENERATOR) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release \
	  $(WERROR) -DCMAKE_CROSSCOMPILING_EMULATOR=wine \
	  $(if $(wildcard $(GTEST_SOURCE)/CMakeLists.txt),-DVENDRAK_GTEST_SOURCE=$(GTEST_SOURCE))
	cmake --build $(WINDOWS) -j $(JOBS) --target vendrak vendrak-inspect vendrak-vbf

# The programs, the cross-built unit tests and launch.exe.
windows-all: windows
	cmake --build $(WINDOWS) -j $(JOBS)

$(WINDOWS)/wineprefix/system.reg:
	$(WINE_ENV) wineboot --init

test-windows: windows-all build $(WINDOWS)/wineprefix/system.reg
	cmake --build $(BUILD) -j $(JOBS) --target windows_test
	$(WINE_ENV) ctest --test-dir $(WINDOWS) --output-on-failure -j $(JOBS)
	set -e; export $(WINE_ENV) VENDRAK_LAUNCHER="wine $(abspath $(WINDOWS))/tests/windows/launch.exe" \
	  VENDRAK_PROGRAM='$(call wine_path,$(WINDOWS)/vendrak.exe)' \
	  VENDRAK_INSPECT_PROGRAM='$(call wine_path,$(WINDOWS)/vendrak-inspect.exe)'; \
	$(BUILD)/tests/e2e/e2e_test --gtest_brief=1; \
	$(BUILD)/tests/e2e/stress_test --gtest_brief=1; \
	$(BUILD)/tests/e2e/windows_test --gtest_brief=1
	$(WINE_ENV) tests/dist/package_windows.sh $(WINDOWS)

# $(WINDOWS)/vendrak-<version>-Windows-x86_64.zip
package-windows: windows
	cd $(WINDOWS) && cpack -G ZIP

# Mutation testing: MUTANTS one-token changes of src/ drawn from SEED (FILES
# narrows them to files or folders under src/), each rebuilt in $(MUTATE)/ and
# run against the plain suite; prints each verdict and the score.
MUTATE  ?= build-mutate
MUTANTS ?= 100
SEED    ?= 1
FILES   ?=

.PHONY: mutate
mutate:
	python3 devtools/mutate.py --build-dir $(MUTATE) --mutants $(MUTANTS) --seed $(SEED) --jobs $(JOBS) \
	  $(if $(FILES),--files $(FILES))
