#include "program_boxes.h"

// Apart from the shared fixtures: each test program names its own build of the program.
namespace veltrane::testing {

std::filesystem::path program_path() { return unix_file(VELTRANE_PROGRAM); }

}  // namespace veltrane::testing
