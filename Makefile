# orbelo: `make demo` runs it against the reference sender, `make tidy` checks braces and names,
# `make test` runs every test,
# `make asan` runs them again under the sanitizers, `make tsan` runs all but the hostile ones
# under ThreadSanitizer and `make fuzz` runs every fuzz target. `make deb` builds the Debian
# package and `make pacote-teste` checks it, installs it, tries it and removes it again.
.PHONY: deps build release tidy test asan tsan fuzz demo deb pacote-teste clean

deps:
	scripts/instalar-dependencias.sh

build: deps
	cmake --preset debug
	cmake --build --preset debug

release: deps
	cmake --preset release
	cmake --build --preset release

tidy: deps
	scripts/tidy.sh

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

# Built with Debian's own hardening flags, all of them (they count on a fresh build folder).
deb: deps
	export DEB_BUILD_MAINT_OPTIONS=hardening=+all; \
	CFLAGS="$$(dpkg-buildflags --get CFLAGS) $$(dpkg-buildflags --get CPPFLAGS)" \
	CXXFLAGS="$$(dpkg-buildflags --get CXXFLAGS) $$(dpkg-buildflags --get CPPFLAGS)" \
	LDFLAGS="$$(dpkg-buildflags --get LDFLAGS)" \
	  cmake --preset pacote
	cmake --build --preset pacote
	cd build/pacote && cpack

pacote-teste: deb
	scripts/pacote.sh

clean:
	rm -rf build
