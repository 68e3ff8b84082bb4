// Hand-made TrueType naming tables for the family-name search, and a way to give a real
// font a family name no installed font has.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace veltrane::testing {

struct NameRecord {
    std::uint16_t platform = 3, encoding = 1, language = 0x0409, name_id = 1;
    std::string bytes;  // the stored string, usually UTF-16 big-endian
    std::uint32_t offset_override = 0xFFFFFFFF;
};

inline std::string utf16be(const std::u16string& s) {
    std::string out;
    for (char16_t c : s) {
        out += static_cast<char>(c >> 8);
        out += static_cast<char>(c & 0xFF);
    }
    return out;
}

inline std::string be16s(std::uint32_t v) { return {static_cast<char>(v >> 8), static_cast<char>(v)}; }
inline std::string be32s(std::uint32_t v) { return be16s(v >> 16) + be16s(v & 0xFFFF); }

// An sfnt with a dummy "head" record first and then "name"; count_extra claims records
// that are not there.
inline std::string make_font(const std::vector<NameRecord>& records, std::uint16_t count_extra = 0) {
    std::string storage, entries;
    for (const auto& r : records) {
        const std::uint32_t offset = r.offset_override != 0xFFFFFFFF ? r.offset_override : static_cast<std::uint32_t>(storage.size());
        entries += be16s(r.platform) + be16s(r.encoding) + be16s(r.language) + be16s(r.name_id) +
                   be16s(static_cast<std::uint32_t>(r.bytes.size())) + be16s(offset);
        storage += r.bytes;
    }
    const auto count = static_cast<std::uint32_t>(records.size());
    std::string name = be16s(0) + be16s(count + count_extra) + be16s(6 + 12 * count) + entries + storage;
    const std::uint32_t name_offset = 12 + 2 * 16;
    std::string font = be32s(0x00010000) + be16s(2) + be16s(0) + be16s(0) + be16s(0);
    font += "head" + be32s(0) + be32s(0) + be32s(0);
    font += "name" + be32s(0) + be32s(name_offset) + be32s(static_cast<std::uint32_t>(name.size()));
    return font + name;
}

// Replaces a name everywhere in the file, as UTF-16 and as single-byte text, by one of
// the same length. Checksums are not kept: font loaders do not check them.
inline void rename_family(std::string& font, const std::string& from, const std::string& to) {
    const auto u16 = [](const std::string& s) {
        std::string out;
        for (char c : s) out += std::string{'\0', c};
        return out;
    };
    for (const auto& [a, b] : {std::pair{from, to}, std::pair{u16(from), u16(to)}}) {
        for (std::size_t at = font.find(a); at != std::string::npos; at = font.find(a, at + 1)) font.replace(at, a.size(), b);
    }
}

}  // namespace veltrane::testing
