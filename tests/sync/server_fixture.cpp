#include "server_fixture.h"

#include <fstream>
#include <sstream>

#include "build_info/build_constants.h"

namespace veltrane::testing {
namespace {

std::filesystem::path unix_to_windows(const std::string& unix_path) {
    std::string p = "Z:" + unix_path;
    for (char& c : p) {
        if (c == '/') c = '\\';
    }
    return p;
}

void write_whole(const std::filesystem::path& path, const std::string& bytes) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

ContentServer::ContentServer() : root_(unix_to_windows(VELTRANE_TEST_SERVER_ROOT)) {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(root_, ec)) std::filesystem::remove_all(entry.path(), ec);
}

ContentServer::~ContentServer() { set_faults("{}"); }

std::string ContentServer::origin() const { return build::kContentServerOrigin; }

std::string ContentServer::untrusted_origin() const {
    return "https://localhost:" + std::to_string(VELTRANE_TEST_UNTRUSTED_PORT);
}

void ContentServer::put(const std::string& relative, const std::string& bytes) const { write_whole(root_ / relative, bytes); }

void ContentServer::set_faults(const std::string& json) const { write_whole(root_ / "faults.json", json); }

std::vector<std::string> ContentServer::requests() const {
    std::ifstream in(root_ / "requests.log");
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

}  // namespace veltrane::testing
