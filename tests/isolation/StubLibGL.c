/* A library that loads under the name libGL.so.1 but has none of GL's entry
 * points (tests/isolation/bare_machine.sh --gl-stand-in). */
int corvane_stub_libgl;
