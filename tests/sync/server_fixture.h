// Drives the content-server stand-in from a test: its folder of served files, its fault
// table and its request log. The server itself is a ctest fixture (tools/content-server).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace veltrane::testing {

class ContentServer {
public:
    // Clears the served folder, the faults and the request log.
    ContentServer();
    ~ContentServer();

    std::string origin() const;
    std::string untrusted_origin() const;

    // Writes a served file, relative to the stand-in's folder (for example "current.json").
    void put(const std::string& relative, const std::string& bytes) const;
    // Replaces the fault table with this JSON object text.
    void set_faults(const std::string& json) const;
    std::vector<std::string> requests() const;

private:
    std::filesystem::path root_;
};

}  // namespace veltrane::testing
