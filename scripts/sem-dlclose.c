/* Preloaded into the tests under the sanitizers: libraries are never unloaded, so that
   LeakSanitizer can still tell which library a block came from (Mesa's driver, loaded and
   dropped with every OpenGL context, would otherwise leave nameless reports). */
int dlclose(void* biblioteca) {
  (void)biblioteca;
  return 0;
}
