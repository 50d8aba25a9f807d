#include "support/test_env.h"

#include <cstdlib>
#include <string>

bool RunningInCi() {
    const char* ci = std::getenv("CI");
    return ci && std::string(ci) == "true";
}
