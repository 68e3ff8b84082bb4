#include <cstdio>

#include "build_info/build_constants.h"

int part();

int main() {
    std::printf("%s %d\n", veltrane::build::kBuildTimestamp, part());
    return 0;
}
