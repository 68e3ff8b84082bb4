#include "file_util/file_util.h"

#include <sodium.h>

#include <algorithm>
#include <atomic>
#include <new>
#include <stdexcept>

#include "file_util/native_file.h"
#include "file_util/text.h"

namespace veltrane {
namespace {

std::atomic<std::uint64_t> g_temp_counter{0};

Error invalid_data(std::string text) { return make_error(std::move(text)); }

// The growing read: never asks the file for more than limit + 1 bytes in total.
Result<Bytes> read_bounded(native::File& file, std::uint64_t limit) {
    const std::uint64_t cap = limit == UINT64_MAX ? limit : limit + 1;
    Bytes buffer;
    buffer.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(limit, 65536)));
    std::size_t chunk = 8192;
    while (buffer.size() < cap) {
        const std::uint64_t left = cap - buffer.size();
        if (buffer.size() == buffer.capacity()) {
            // A small probe first, so a file that fits its reservation exactly never grows it.
            std::array<std::uint8_t, 32> probe;
            auto got = file.read(std::span(probe).first(static_cast<std::size_t>(std::min<std::uint64_t>(32, left))));
            if (!got) return got.take_error();
            if (*got == 0) break;
            buffer.insert(buffer.end(), probe.begin(), probe.begin() + static_cast<std::ptrdiff_t>(*got));
            continue;
        }
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(chunk, left));
        const std::size_t at = buffer.size();
        buffer.resize(at + want);
        auto got = file.read(std::span(buffer).subspan(at, want));
        if (!got) return got.take_error();
        buffer.resize(at + *got);
        if (*got == 0) break;
        if (*got == want && chunk < (std::size_t{1} << 22)) chunk *= 2;
    }
    if (buffer.size() > limit) return invalid_data(kSizeLimitMessage);
    return buffer;
}

Status write_and_flush(const std::filesystem::path& path, std::span<const std::span<const std::uint8_t>> parts) {
    auto file = native::File::create(path);
    if (!file) return file.take_error();
    for (const auto part : parts) {
        if (auto w = file->write_all(part); !w) return w;
    }
    return file->flush();
}

Status write_and_flush(const std::filesystem::path& path, std::span<const std::uint8_t> bytes) {
    const std::span<const std::uint8_t> parts[] = {bytes};
    return write_and_flush(path, parts);
}

// Fills the whole buffer unless the file ends first.
Result<bool> read_fully(native::File& file, std::span<std::uint8_t> buffer) {
    while (!buffer.empty()) {
        auto got = file.read(buffer);
        if (!got) return got.take_error();
        if (*got == 0) return false;
        buffer = buffer.subspan(*got);
    }
    return true;
}

Status copy_into(const std::filesystem::path& source, const std::filesystem::path& temp) {
    auto in = native::File::open_read(source);
    if (!in) return in.take_error();
    auto out = native::File::create(temp);
    if (!out) return out.take_error();
    std::array<std::uint8_t, 8192> buffer;
    for (;;) {
        auto got = in->read(buffer);
        if (!got) return got.take_error();
        if (*got == 0) break;
        if (auto w = out->write_all(std::span(buffer).first(*got)); !w) return w;
    }
    return out->flush();
}

}  // namespace

Result<Bytes> read_limited(const std::filesystem::path& path, std::uint64_t limit) {
    auto file = native::File::open_read(path);
    if (!file) return file.take_error();
    return read_bounded(*file, limit);
}

Result<bool> read_after_head(const std::filesystem::path& path, std::span<const std::uint8_t> head,
                             std::span<std::uint8_t> body) {
    auto file = native::File::open_read(path);
    if (!file) return file.take_error();
    Bytes found(head.size());
    auto read = read_fully(*file, found);
    if (!read || !*read || !std::equal(found.begin(), found.end(), head.begin())) return read ? false : read;
    read = read_fully(*file, body);
    if (!read || !*read) return read;
    std::array<std::uint8_t, 1> more;
    auto got = file->read(more);
    if (!got) return got.take_error();
    return *got == 0;
}

Result<std::string> utf8_text(std::span<const std::uint8_t> bytes) {
    std::string text(bytes.begin(), bytes.end());
    if (auto bad = utf8_error(text)) return invalid_data(*bad);
    return text;
}

Result<std::string> read_text_limited(const std::filesystem::path& path, std::uint64_t limit) {
    auto bytes = read_limited(path, limit);
    if (!bytes) return bytes.take_error();
    return utf8_text(*bytes);
}

std::filesystem::path temp_path_for(const std::filesystem::path& target) {
    const std::string name = target.has_filename() ? path_to_utf8(target.filename()) : std::string();
    const std::uint64_t n = g_temp_counter.fetch_add(1);
    const std::string temp =
        "." + name + ".tmp-" + std::to_string(native::current_process_id()) + "-" + std::to_string(n);
    std::filesystem::path out = target;
    out.replace_filename(utf8_to_path(temp));
    return out;
}

Status replace_file(const std::filesystem::path& source, const std::filesystem::path& target) {
    return native::move_replacing(source, target);
}

Status remove_tree(const std::filesystem::path& path) { return native::remove_tree(path); }

Status write_file_atomic(const std::filesystem::path& target, std::span<const std::uint8_t> bytes) {
    const std::span<const std::uint8_t> parts[] = {bytes};
    return write_file_atomic(target, parts);
}

Status write_file_atomic(const std::filesystem::path& target, std::span<const std::span<const std::uint8_t>> parts) {
    const auto temp = temp_path_for(target);
    Status status = write_and_flush(temp, parts);
    if (status) status = replace_file(temp, target);
    if (!status) native::remove_quietly(temp);
    return status;
}

Status write_file_atomic(const std::filesystem::path& target, std::string_view text) {
    return write_file_atomic(target, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

Status copy_file_atomic(const std::filesystem::path& source, const std::filesystem::path& target) {
    const auto temp = temp_path_for(target);
    Status status = copy_into(source, temp);
    if (status) status = replace_file(temp, target);
    if (!status) native::remove_quietly(temp);
    return status;
}

Result<std::filesystem::path> copy_to_temporary(const std::filesystem::path& source,
                                                const std::filesystem::path& target) {
    auto temp = temp_path_for(target);
    if (Status copied = copy_into(source, temp); !copied) {
        native::remove_quietly(temp);
        return copied.take_error();
    }
    return temp;
}

Status write_file_synced(const std::filesystem::path& path, std::span<const std::uint8_t> bytes) {
    return write_and_flush(path, bytes);
}

Result<bool> file_matches_digest(const std::filesystem::path& path, const ExpectedDigest& expected) {
    auto file = native::File::open_read(path);
    if (!file) return file.take_error();
    auto size = file->size_from_metadata();
    if (!size) return size.take_error();
    crypto_hash_sha256_state state;
    crypto_hash_sha256_init(&state);
    std::vector<std::uint8_t> buffer(65536);
    for (;;) {
        auto got = file->read(buffer);
        if (!got) return got.take_error();
        if (*got == 0) break;
        crypto_hash_sha256_update(&state, buffer.data(), *got);
    }
    std::array<std::uint8_t, 32> digest;
    crypto_hash_sha256_final(&state, digest.data());
    return *size == expected.size && sodium_memcmp(digest.data(), expected.sha256.data(), digest.size()) == 0;
}

Error file_system_error(const std::error_code& ec) {
    const auto code = static_cast<std::uint32_t>(ec.value());
    if (ec.category() == std::system_category()) return native::os_error(code);
    return Error{ec.message() + " (os error " + std::to_string(code) + ")", code};
}

bool try_resize(Bytes& bytes, std::size_t size) noexcept {
    try {
        bytes.resize(size);
        return true;
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
    return false;
}

std::array<std::uint8_t, 32> sha256(std::span<const std::uint8_t> bytes) {
    std::array<std::uint8_t, 32> digest;
    crypto_hash_sha256(digest.data(), bytes.data(), bytes.size());
    return digest;
}

}  // namespace veltrane
