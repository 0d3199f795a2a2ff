# The two commands of the README: `make demo` runs the programs against the
# clock simulator, `make test` runs every test. Both install what is missing.
BUILD ?= build
JOBS ?= 2

.PHONY: all deps build test demo demo-sender package capturas bench clean

all: build

deps:
	@bash scripts/instalar-dependencias.sh

build: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	@cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

demo: build
	@bash scripts/demo.sh checker $(BUILD)

demo-sender: build
	@bash scripts/demo.sh sender $(BUILD)

package: build
	@cd $(BUILD) && cpack -G DEB

capturas: build
	@bash scripts/capturas.sh $(BUILD)

bench: build
	@$(BUILD)/bench/quarvel_bench

clean:
	rm -rf $(BUILD)
