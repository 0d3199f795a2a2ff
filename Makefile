# The two commands of the README: `make demo` runs the programs against the
# clock simulator, `make test` runs every test. Both install what is missing.
BUILD ?= build
JOBS ?= 2

.PHONY: all deps build programas test suite unit e2e package-tests systemd fuzz sanitizers lint \
  soak demo demo-sender package capturas bench windows clean

all: build

# Targets after deps tell their scripts the packages are checked already.
YA = QUARVEL_DEPS_OK=1

deps:
	@bash scripts/instalar-dependencias.sh

# ccache when installed (looked for when configuring, as deps may have just
# installed it), so a second run rebuilds little; an empty launcher otherwise.
CONFIGURAR = cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_UNITY_BUILD=ON \
  "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG" \
  "-DCMAKE_CXX_COMPILER_LAUNCHER=$$(command -v ccache || true)" >/dev/null

build: deps
	@$(CONFIGURAR)
	@cmake --build $(BUILD) -j $(JOBS)

FUZZ_SECONDS ?= 8
SOAK_MINUTES ?= 60

# Every test: the CTest suite, the whole suite again under AddressSanitizer
# and UndefinedBehaviorSanitizer, a short fuzzing run of each target, and the
# format, clang-tidy and cppcheck checks, side by side
# (scripts/probar-todo.sh builds first, and installs the test packages
# beside the build).
test:
	@BUILD=$(BUILD) JOBS=$(JOBS) FUZZ_SECONDS=$(FUZZ_SECONDS) bash scripts/probar-todo.sh
	@bash scripts/windows.sh --estado

# The suite by tiers (ctest labels): unit = unidad and ventanas, seconds;
# e2e = extremo, the real programs against the simulator; package-tests =
# paquete; systemd = sistema, the unit under a booted systemd (as root).
PROBAR = cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

suite: build
	@$(PROBAR)

unit: build
	@$(PROBAR) -L 'unidad|ventanas'

e2e: build
	@$(PROBAR) -L extremo

package-tests: build
	@$(PROBAR) -L paquete

systemd: build
	@$(PROBAR) -L sistema

fuzz: deps
	@$(YA) bash scripts/fuzz-smoke.sh $(FUZZ_SECONDS)

sanitizers: deps
	@$(YA) JOBS=$(JOBS) bash scripts/sanitizers.sh

lint: build
	@$(YA) BUILD=$(BUILD) JOBS=$(JOBS) bash scripts/lint.sh

soak: build
	@bash bench/soak.sh $(SOAK_MINUTES)

# The demos build only what they run: the two programs and the simulator.
PROGRAMAS = Quarvel38 Quarvel430 simulador_reloj

programas: deps
	@$(CONFIGURAR)
	@cmake --build $(BUILD) -j $(JOBS) --target $(PROGRAMAS)

demo: programas
	@bash scripts/demo.sh checker $(BUILD)

demo-sender: programas
	@bash scripts/demo.sh sender $(BUILD)

package: build
	@cd $(BUILD) && cpack -G DEB

capturas: build
	@bash scripts/capturas.sh $(BUILD)

bench: build
	@cmake --build $(BUILD) -j $(JOBS) --target quarvel_bench
	@$(BUILD)/bench/quarvel_bench

# The Windows build, its installer and its tests under Wine (Qt for Windows
# is built once into ~/.cache/quarvel: about an hour the first time).
windows: programas
	@BUILD=$(BUILD) JOBS=$(JOBS) bash scripts/windows.sh

clean:
	rm -rf $(BUILD)
