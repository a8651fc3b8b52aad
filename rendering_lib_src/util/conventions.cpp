#include "util/conventions.h"

#include <cstdlib>
#include <cstring>

#include "util/error.h"

Conventions conventionsFromEnvironment() {
    const char *value = std::getenv("VORTAN_CLASSIC");
    if (value == nullptr || value[0] == '\0' || std::strcmp(value, "0") == 0)
        return Conventions::Format;
    if (std::strcmp(value, "1") == 0) return Conventions::Classic;
    Warning("Unknown VORTAN_CLASSIC value \"%s\", using the format's conventions", value);
    return Conventions::Format;
}
