// The key=value record format shared by the settings file and the program's small records
// (sync retry, update state, Spotlight status, wallpaper backup). This module owns only the
// line syntax; each record's owner keeps its keys, its byte limit and its field order.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "file_util/result.h"

namespace veltrane {

struct RecordField {
    std::string key;
    std::string value;
};

enum class RecordTrim {
    None,       // key and value exactly as written on each side of "="
    Whitespace  // the settings file: trimmed lines, keys and values, and "#" comments
};

// The fields in file order, duplicates kept, so that an owner applying them in order lets
// the later line win. Lines without "=" (and, when trimming, blank and comment lines) are
// skipped; the first "=" splits, so values may hold "=".
std::vector<RecordField> parse_record(std::string_view text, RecordTrim trim = RecordTrim::None);

// The value of the last line with exactly this key, since a later line wins.
std::optional<std::string> last_value(const std::vector<RecordField>& fields, std::string_view key);

// One "key=value\n" line per field, in the order given; a line break inside a key or value
// is written as a blank so that no field can add lines of its own.
std::string format_record(const std::vector<RecordField>& fields);

// The file read whole under the owner's byte limit and parsed; a file that is too large or
// not valid UTF-8 is an error like a missing one, and the caller decides what each means.
Result<std::vector<RecordField>> read_record(const std::filesystem::path& path, std::uint64_t limit,
                                             RecordTrim trim = RecordTrim::None);

// Replaces the whole file atomically; a failed write leaves the previous file as it was.
Status write_record(const std::filesystem::path& path, const std::vector<RecordField>& fields);


}  // namespace veltrane
