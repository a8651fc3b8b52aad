// The tests that pin pictures and numbers were written against the classic
// conventions: every test runs under them unless it asks for the format's
// own (ScopedEnv("VORTAN_CLASSIC", "0")). Programs the tests start inherit it.
#include <cstdlib>

namespace {

const bool kClassicByDefault = setenv("VORTAN_CLASSIC", "1", 1) == 0;

} // namespace
