# The two commands of a new user: `make run` and `make test`; then
# `make install` (PREFIX, DESTDIR) and `make package` (.deb and .tar.gz).
# For Windows: `make windows`, `make test-windows`, `make package-windows`.
BUILD   ?= build
ASAN    ?= build-asan
RELEASE ?= build-release
WINDOWS ?= build-windows
# Parallel jobs of every build: `make -jN` passes N on, JOBS=N sets it.
JOBS    ?= $(or $(patsubst -j%,%,$(filter -j%,$(MAKEFLAGS))),2)
PREFIX  ?= /usr/local
# The version, defined once as the project() version of CMakeLists.txt.
version := $(shell sed -n '/^project/s/.*VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
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

# The tree of `make run` and `make test`: optimized, with line tables for
# backtraces. Full debug information would make its build about half again
# as long; the sanitizer tree of `make asan` is a Debug build for a debugger.
build_configure = cmake -S . -B $(BUILD) $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG" $(WERROR)

build:
	$(build_configure)
	cmake --build $(BUILD) -j $(JOBS)

# The whole suite again under AddressSanitizer (with leak detection) and
# UndefinedBehaviorSanitizer; any report fails the run.
asan:
	CXX=$(ASAN_CXX) cmake -S . -B $(ASAN) $(GENERATOR) -DCMAKE_BUILD_TYPE=Debug -DVENDRAK_SANITIZE=ON $(WERROR)
	cmake --build $(ASAN) -j $(JOBS)

# The release build is hardened as distribution packages are; MAINTAINER
# ("Name <address>") names the packages' maintainer.
MAINTAINER ?=
VSIX       ?= build-vsix
release_configure = cmake -S . -B $(RELEASE) $(GENERATOR) -DCMAKE_BUILD_TYPE=Release -DVENDRAK_TESTS=OFF \
  -DVENDRAK_TOOLS=ON -DVENDRAK_HARDEN=ON -DVENDRAK_VSIX_DIR=$(abspath $(VSIX)) \
  $(if $(MAINTAINER),"-DVENDRAK_MAINTAINER=$(MAINTAINER)")
release:
	$(release_configure)
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

# $(RELEASE)/vendrak_<version>_<arch>.deb and vendrak-<version>-Linux-<arch>.tar.gz,
# with the linux-x64 VS Code extension; compressed with JOBS threads.
package: release vsix-linux
	cd $(RELEASE) && cpack -D CPACK_THREADS=$(JOBS)

# The packages of `make package` checked: their contents, the unpacked
# programs, and the .deb under lintian --pedantic (tests/dist/lintian.sh).
.PHONY: test-package
test-package: package
	tests/dist/package.sh $(RELEASE) $(version)
	tests/dist/lintian.sh $(RELEASE)/vendrak_$(version)_$(shell dpkg --print-architecture).deb

test: build asan
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --test-dir $(ASAN) --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD) $(ASAN) $(RELEASE) $(WINDOWS) $(MUTATE) $(VSIX) $(FUZZ) $(WEB) $(WEB)-test $(WASM)

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
	cmake --build $(BUILD) -j $(JOBS) --target vocabulary_files
	cd $(EDITOR_TESTS) && VENDRAK_EDITOR_FILES=$(abspath $(BUILD))/editors node --test
	@ran=; \
	if command -v nvim >/dev/null; then \
	  VENDRAK_EDITOR_FILES=$(abspath $(BUILD))/editors nvim --headless -u NONE -i NONE -n -S $(EDITOR_TESTS)/vim_test.vim </dev/null || exit 1; ran=1; \
	fi; \
	if command -v vim >/dev/null; then \
	  VENDRAK_EDITOR_FILES=$(abspath $(BUILD))/editors vim -N -u NONE -i NONE -n -es -S $(EDITOR_TESTS)/vim_test.vim </dev/null || exit 1; ran=1; \
	fi; \
	test -n "$$ran" || { echo "test-editors: neither nvim nor vim is installed" >&2; exit 1; }

# vendrak-lsp under Neovim's built-in language client, headless: the
# diagnostics of an example with a planted error and slip, hover, definition,
# shutdown and exit. The -c after the test file ends Neovim when the file
# cannot even be loaded.
test-lsp:
	@command -v nvim >/dev/null || { echo "test-lsp: Neovim (nvim) is not installed" >&2; exit 1; }
	$(build_configure)
	cmake --build $(BUILD) -j $(JOBS) --target vendrak-lsp
	VENDRAK_LSP=$(BUILD)/vendrak-lsp nvim --headless -u NONE -i NONE -n \
	  -c 'luafile $(EDITOR_TESTS)/lsp_test.lua' -c 'cquit 1' </dev/null

# The VS Code extension, bundled into one file (esbuild) and packaged once
# per platform with that platform's vendrak-lsp, after a type check of the
# client against the VS Code and language client APIs:
# $(VSIX)/vendrak-script-<version>-linux-x64.vsix (server from the release
# build) and -win32-x64.vsix (from the Windows build). `make test-vsix` opens
# both and checks what they hold and which server each starts.
.PHONY: vsix vsix-linux vsix-windows vsix-bundle test-vsix
vsix: vsix-linux vsix-windows

vsix-bundle: $(VSCODE_EXT)/node_modules/.package-lock.json
	cd $(VSCODE_EXT) && npm run --silent check && npm run --silent bundle

vsix-linux: vsix-bundle
	$(release_configure)
	cmake --build $(RELEASE) -j $(JOBS) --target vendrak-lsp vocabulary_files
	SYNTAXES=$(RELEASE)/editors/vscode/syntaxes STRIP=strip $(VSCODE_EXT)/package.sh linux-x64 $(RELEASE)/vendrak-lsp $(VSIX)

vsix-windows: vsix-bundle windows
	SYNTAXES=$(WINDOWS)/editors/vscode/syntaxes STRIP=x86_64-w64-mingw32-strip $(VSCODE_EXT)/package.sh win32-x64 $(WINDOWS)/vendrak-lsp.exe $(VSIX)

test-vsix: vsix
	cd $(VSCODE_EXT) && VSIX_DIR=$(abspath $(VSIX)) node --test test/

%/node_modules/.package-lock.json: %/package-lock.json %/package.json
	cd $* && npm ci --no-audit --no-fund

# Windows: vendrak.exe, vendrak-inspect.exe, vendrak-check.exe and
# vendrak-lsp.exe cross-compiled with MinGW-w64 (x86_64-w64-mingw32, POSIX
# threads) and linked statically, so that each runs on a bare Windows
# machine; vendrak-lsp.exe takes nlohmann-json's headers from the build
# machine. `make package-windows` builds the .zip and the installer
# (vendrak-<version>-x64.msi, with wixl and msibuild of msitools).
#
# `make test-windows` runs them under Wine, in a Wine prefix of their own
# inside $(WINDOWS): the unit tests cross-built (GoogleTest compiled from
# GTEST_SOURCE), then from the Linux build every e2e case with its round trip
# through the inspector, the stress faults and the Windows cases of windows_test, all
# starting the .exe files through tests/windows/launch.exe; vendrak-check.exe
# against the Linux checker on the scripts of CHECK_SCRIPTS (tests/windows/check_compare.sh),
# a scripted exchange with vendrak-lsp.exe and the Linux server
# (tests/windows/lsp_exchange.py); the .zip, unpacked, on the bundled
# example; and last the installer, in a fresh prefix of its own
# ($(WINDOWS)/msi-prefix): install, PATH, upgrade and uninstall
# (tests/windows/msi_test.sh).
GTEST_SOURCE  ?= /usr/src/googletest
CHECK_SCRIPTS ?= examples tests/windows/check $(wildcard tests/e2e/cases/parse/*/in tests/e2e/cases/vbf/*/in)
WINE_ENV      := WINEPREFIX=$(abspath $(WINDOWS))/wineprefix WINEDEBUG=-all
WINDOWS_PROGRAMS := vendrak vendrak-inspect vendrak-check vendrak-lsp vendrak-fmt vendrak-vbf
# Drive Z: is the root of the Linux file system in every Wine prefix.
wine_path     = Z:$(subst /,\,$(abspath $(1)))

.PHONY: windows windows-all test-windows package-windows msi
# The build's own helpers (the language server's help table) run under Wine
# in the build's prefix.
windows: $(WINDOWS)/wineprefix/system.reg
	cmake -S . -B $(WINDOWS) $(GENERATOR) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release \
	  $(WERROR) -DCMAKE_CROSSCOMPILING_EMULATOR=wine -DVENDRAK_VSIX_DIR=$(abspath $(VSIX)) \
	  $(if $(wildcard $(GTEST_SOURCE)/CMakeLists.txt),-DVENDRAK_GTEST_SOURCE=$(GTEST_SOURCE))
	$(WINE_ENV) cmake --build $(WINDOWS) -j $(JOBS) --target $(WINDOWS_PROGRAMS) vendrak_man_pages vocabulary_files

# The programs, the cross-built unit tests and launch.exe.
windows-all: windows
	$(WINE_ENV) cmake --build $(WINDOWS) -j $(JOBS)

$(WINDOWS)/wineprefix/system.reg:
	mkdir -p $(WINDOWS)
	$(WINE_ENV) wineboot --init

# The installer's test spends most of its time waiting on Wine in its own
# prefix, so it runs beside the others (test-windows-msi), each target's
# output kept together.
test-windows: windows-all build msi
	cmake --build $(BUILD) -j $(JOBS) --target windows_test vendrak-check vendrak-lsp
	$(MAKE) --no-print-directory -j2 --output-sync=target JOBS=$(JOBS) test-windows-runs test-windows-msi

.PHONY: test-windows-runs test-windows-msi
# The e2e cases and stress faults through ctest, JOBS runs at a time; the
# console events of windows_test one after the other.
test-windows-runs:
	$(WINE_ENV) ctest --test-dir $(WINDOWS) --output-on-failure -j $(JOBS)
	set -e; export $(WINE_ENV) VENDRAK_LAUNCHER="wine $(abspath $(WINDOWS))/tests/windows/launch.exe" \
	  VENDRAK_PROGRAM='$(call wine_path,$(WINDOWS)/vendrak.exe)' \
	  VENDRAK_INSPECT_PROGRAM='$(call wine_path,$(WINDOWS)/vendrak-inspect.exe)'; \
	ctest --test-dir $(BUILD) -L '^(e2e|stress)$$' --output-on-failure -j $(JOBS); \
	$(BUILD)/tests/e2e/windows_test --gtest_brief=1
	$(WINE_ENV) tests/windows/check_compare.sh $(BUILD)/vendrak-check $(WINDOWS)/vendrak-check.exe $(CHECK_SCRIPTS)
	$(WINE_ENV) tests/windows/lsp_exchange.py examples/key_menu.vsc $(BUILD)/vendrak-lsp \
	  "wine $(abspath $(WINDOWS))/vendrak-lsp.exe"
	$(WINE_ENV) tests/dist/package_windows.sh $(WINDOWS)

test-windows-msi:
	tests/windows/msi_test.sh $(WINDOWS)/vendrak-$(version)-x64.msi $(WINDOWS)/msi-test/older.msi \
	  $(WINDOWS)/msi-test/tree $(WINDOWS)/msi-prefix $(version) $(WINDOWS_PROGRAMS)

# The installer from the files the .zip holds: $(WINDOWS)/vendrak-<version>-x64.msi;
# for the upgrade test also the same files as release 0.0.0.
msi: windows
	rm -rf $(WINDOWS)/msi-test
	cmake --install $(WINDOWS) --prefix $(WINDOWS)/msi-test/tree --strip >/dev/null
	cmake/msi/make_msi.sh $(WINDOWS)/msi-test/tree $(version) $(WINDOWS)/vendrak-$(version)-x64.msi
	cmake/msi/make_msi.sh $(WINDOWS)/msi-test/tree 0.0.0 $(WINDOWS)/msi-test/older.msi

# $(WINDOWS)/vendrak-<version>-Windows-x86_64.zip and vendrak-<version>-x64.msi,
# each with the win32-x64 VS Code extension.
package-windows: windows vsix-windows
	cd $(WINDOWS) && cpack -G ZIP
	$(MAKE) msi

# Mutation testing: MUTANTS one-token changes of src/ drawn from SEED (FILES
# narrows them to files or folders under src/), each rebuilt in $(MUTATE)/ and
# run against the plain suite; prints each verdict and the score.
# FILES may also name files under tools/, and TESTS (a regular expression of
# test names) narrows the suite to the tests that cover them.
MUTATE  ?= build-mutate
MUTANTS ?= 100
SEED    ?= 1
FILES   ?=
TESTS   ?=

.PHONY: mutate
mutate:
	python3 devtools/mutate.py --build-dir $(MUTATE) --mutants $(MUTANTS) --seed $(SEED) --jobs $(JOBS) \
	  $(if $(FILES),--files $(FILES)) $(if $(TESTS),--tests '$(TESTS)')

# The page: vendrak, its checker, inspector and formatter in WebAssembly
# (Debian's emscripten, whose tools need node-acorn from NODE_PATH, with the
# settings of cmake/web.cmake) behind a CodeMirror editor, bundled by
# web/build.mjs with the npm packages of web/package-lock.json into $(WEB)/,
# a folder any static host can serve or a browser can open as a file.
# `make test-web` drives it in headless Chromium (Debian's /usr/bin/chromium
# through playwright-core, which never downloads a browser), served on
# 127.0.0.1 and as a file, against the native programs of the release build;
# its screenshot goes to $(WEB)-test/.
WEB       ?= build-web
WASM      ?= build-wasm
EM_ENV    := NODE_PATH=$(or $(NODE_PATH),/usr/share/nodejs)

.PHONY: web test-web
web: web/node_modules/.package-lock.json
	$(EM_ENV) emcmake cmake -S . -B $(WASM) $(GENERATOR) -C cmake/web.cmake $(WERROR)
	$(EM_ENV) cmake --build $(WASM) -j $(JOBS) --target vendrak_web
	node web/build.mjs $(WASM) $(WEB)

test-web: web
	$(release_configure)
	cmake --build $(RELEASE) -j $(JOBS) --target vendrak vendrak-inspect vendrak-check vendrak-vbf vendrak-fmt
	node web/test/run.mjs $(WEB) $(RELEASE) $(WEB)-test
