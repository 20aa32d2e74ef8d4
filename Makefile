# orbelo: `make demo` runs it against the reference sender, `make test` runs every test,
# `make asan` runs them again under the sanitizers, `make tsan` runs all but the hostile ones
# under ThreadSanitizer and `make fuzz` runs every fuzz target.
.PHONY: deps build release test asan tsan fuzz demo clean

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

tsan: deps
	cmake --preset tsan
	cmake --build --preset tsan
	@eval "$$(scripts/servicos-teste.sh)"; export DISPLAY; \
	  ctest --preset tsan

fuzz: deps
	scripts/fuzz.sh 60

demo: release
	scripts/demo.sh

clean:
	rm -rf build
