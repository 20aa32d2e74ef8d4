# orbelo: `make demo` runs it against the reference sender, `make test` runs every test,
# `make asan` runs them again under the sanitizers and `make fuzz` runs every fuzz target.
.PHONY: deps build release test asan fuzz demo clean

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

asan: deps
	cmake --preset asan
	cmake --build --preset asan
	cc -shared -fPIC -O2 -o build/asan/sem-dlclose.so scripts/sem-dlclose.c
	@eval "$$(scripts/servicos-teste.sh)"; export DISPLAY; \
	  ctest --preset asan

fuzz: deps
	scripts/fuzz.sh 60

demo: release
	scripts/demo.sh

clean:
	rm -rf build
