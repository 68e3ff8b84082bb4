#include <cstdio>

#include "update/build_constants.h"

int part();

int main() {
    std::printf("%s %d\n", veltrane::build::kBuildTimestamp, part());
    return 0;
}
