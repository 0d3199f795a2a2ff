# The two commands of the README: `make demo` runs the programs against the
# clock simulator, `make test` runs every test. Both install what is missing.
BUILD ?= build
JOBS ?= 2

.PHONY: all deps build programas test unit fuzz sanitizers lint soak demo demo-sender package capturas bench windows clean

all: build

deps:
	@bash scripts/instalar-dependencias.sh

build: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_UNITY_BUILD=ON \
	  "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG" >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

FUZZ_SECONDS ?= 8
SOAK_MINUTES ?= 60

# Every test: the suite, a short fuzzing run of each target, the whole suite
# again under AddressSanitizer and UndefinedBehaviorSanitizer, and the
# format, clang-tidy and cppcheck checks; half the static checks run beside
# each suite, and the fuzzing beside the sanitized one (scripts/probar-todo.sh).
test: build
	@BUILD=$(BUILD) JOBS=$(JOBS) FUZZ_SECONDS=$(FUZZ_SECONDS) bash scripts/probar-todo.sh
	@bash scripts/windows.sh --estado

unit: build
	@cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

fuzz: deps
	@bash scripts/fuzz-smoke.sh $(FUZZ_SECONDS)

sanitizers: deps
	@bash scripts/sanitizers.sh

lint: build
	@bash scripts/lint.sh

soak: build
	@bash bench/soak.sh $(SOAK_MINUTES)

# The demos build only what they run: the two programs and the simulator.
PROGRAMAS = Quarvel38 Quarvel430 simulador_reloj

programas: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_UNITY_BUILD=ON \
	  "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG" >/dev/null
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
