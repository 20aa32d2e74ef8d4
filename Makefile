# orbelo: `make demo` runs it against the reference sender, `make test` runs every test.
.PHONY: deps build release test demo clean

deps:
	scripts/instalar-dependencias.sh

build: deps
	cmake --preset debug
	cmake --build --preset debug

release: deps
	cmake --preset release
	cmake --build --preset release

test: build
	@eval "$$(scripts/servicos-teste.sh)"; export DISPLAY; \
	  ctest --preset debug

demo: release
	scripts/demo.sh

clean:
	rm -rf build
