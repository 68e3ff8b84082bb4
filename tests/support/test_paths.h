// Scratch folders for tests: a fresh folder under the test's own TEMP (under Wine the
// harness gives every test run its own TEMP), removed when the owner goes away.
#pragma once

#include <filesystem>
#include <string>

namespace veltrane::testing {

class ScratchDir {
public:
    explicit ScratchDir(const std::string& name);
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// Writes bytes as they are, with no temporary file: test set-up only.
void write_raw(const std::filesystem::path& path, const std::string& bytes);
std::string read_raw(const std::filesystem::path& path);

// Sets a file's or folder's modification time to `seconds` before now. (The standard
// library cannot set it on a folder under MinGW.)
void set_age(const std::filesystem::path& path, int seconds);

// A symbolic link to a folder. Wine cannot make one itself, so under Wine this is the Unix
// `ln -s`, which Wine shows as a reparse point (0x410).
bool make_folder_link(const std::filesystem::path& link, const std::filesystem::path& target);

}  // namespace veltrane::testing
