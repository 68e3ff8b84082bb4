#include "file_util/file_util.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "file_util/worker.h"
#include "support/test_paths.h"

#ifdef _WIN32
#include <windows.h>
#endif

using namespace veltrane;
using veltrane::testing::read_raw;
using veltrane::testing::ScratchDir;
using veltrane::testing::write_raw;

namespace {

std::size_t entries_in(const std::filesystem::path& dir) {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir)) ++n;
    return n;
}

Bytes bytes_of(const std::string& s) { return Bytes(s.begin(), s.end()); }

}  // namespace

TEST(ReadLimited, AcceptsExactlyTheLimitAndRejectsOneByteMore) {
    ScratchDir dir("read");
    for (std::uint64_t size : {0ull, 1ull, 31ull, 32ull, 33ull, 8192ull, 65536ull, 65537ull, 200000ull}) {
        write_raw(dir / "f", std::string(size, 'x'));
        auto exact = read_limited(dir / "f", size);
        ASSERT_TRUE(exact.ok()) << size << ": " << exact.error().message;
        EXPECT_EQ(exact->size(), size);
        if (size > 0) {
            auto over = read_limited(dir / "f", size - 1);
            ASSERT_FALSE(over.ok()) << size;
            EXPECT_EQ(over.error().message, kSizeLimitMessage);
            EXPECT_EQ(over.error().os_code, 0u);
        }
        auto roomy = read_limited(dir / "f", size + 100000);
        ASSERT_TRUE(roomy.ok());
        EXPECT_EQ(*roomy, Bytes(size, 'x'));
    }
}

TEST(ReadLimited, MissingFileIsAnOsErrorWithItsCode) {
    ScratchDir dir("missing");
    auto r = read_limited(dir / "absent", 10);
    ASSERT_FALSE(r.ok());
    EXPECT_TRUE(is_not_found(r.error()));
    EXPECT_NE(r.error().message.find("(os error 2)"), std::string::npos) << r.error().message;
    EXPECT_TRUE(is_not_found(read_limited(dir / "no-dir" / "f", 10).error()));
}

TEST(ReadTextLimited, KeepsTheByteOrderMarkAndRejectsMalformedUtf8) {
    ScratchDir dir("text");
    write_raw(dir / "bom", "\xEF\xBB\xBF" "항생제");
    auto bom = read_text_limited(dir / "bom", 100);
    ASSERT_TRUE(bom.ok());
    EXPECT_EQ(*bom, "\xEF\xBB\xBF" "항생제");

    write_raw(dir / "empty", "");
    auto empty = read_text_limited(dir / "empty", 0);
    ASSERT_TRUE(empty.ok());
    EXPECT_EQ(*empty, "");

    write_raw(dir / "bad", "ok\xC3(");
    auto bad = read_text_limited(dir / "bad", 100);
    ASSERT_FALSE(bad.ok());
    EXPECT_NE(bad.error().message.find("index 2"), std::string::npos) << bad.error().message;
}

TEST(TempPath, IsAHiddenSiblingWithProcessIdAndARisingCounter) {
    const auto target = std::filesystem::path("dir") / "Veltrane_Desktop.config";
    const auto a = temp_path_for(target).filename().string();
    const auto b = temp_path_for(target).filename().string();
    ASSERT_EQ(a.rfind(".Veltrane_Desktop.config.tmp-", 0), 0u) << a;
    EXPECT_EQ(temp_path_for(target).parent_path(), target.parent_path());
    const auto counter = [](const std::string& s) { return std::stoull(s.substr(s.rfind('-') + 1)); };
    const auto pid = [](const std::string& s) {
        const auto end = s.rfind('-');
        const auto begin = s.rfind('-', end - 1);
        return s.substr(begin + 1, end - begin - 1);
    };
    EXPECT_EQ(counter(b), counter(a) + 1);
    EXPECT_EQ(pid(a), pid(b));
    EXPECT_FALSE(pid(a).empty());
}

TEST(WriteFileAtomic, ReplacesWholeAndLeavesNothingBehind) {
    ScratchDir dir("atomic");
    const auto target = dir / "record";
    ASSERT_TRUE(write_file_atomic(target, std::string_view("first")).ok());
    ASSERT_TRUE(write_file_atomic(target, std::string_view("second, longer")).ok());
    EXPECT_EQ(read_raw(target), "second, longer");
    EXPECT_EQ(entries_in(dir.path()), 1u);

    ASSERT_TRUE(write_file_atomic(target, std::string_view("")).ok());
    EXPECT_EQ(read_raw(target), "");
}

TEST(ReadAfterHead, ReadsTheBodyOnlyBehindItsOwnHeadAndExactSize) {
    ScratchDir dir("head");
    const auto target = dir / "record";
    const Bytes head = bytes_of("key 1\n"), body = bytes_of("pixels");
    const std::span<const std::uint8_t> parts[] = {head, body};
    ASSERT_TRUE(write_file_atomic(target, parts).ok());
    EXPECT_EQ(read_raw(target), "key 1\npixels");
    Bytes out(body.size());
    EXPECT_TRUE(*read_after_head(target, head, out));
    EXPECT_EQ(out, body);
    EXPECT_FALSE(*read_after_head(target, bytes_of("key 2\n"), out));
    Bytes shorter(body.size() - 1), longer(body.size() + 1);
    EXPECT_FALSE(*read_after_head(target, head, shorter));
    EXPECT_FALSE(*read_after_head(target, head, longer));
    EXPECT_TRUE(is_not_found(read_after_head(dir / "absent", head, out).error()));
}

TEST(WriteFileAtomic, IntoAMissingFolderFailsAndCreatesNothing) {
    ScratchDir dir("nofolder");
    auto r = write_file_atomic(dir / "absent" / "record", std::string_view("x"));
    ASSERT_FALSE(r.ok());
    EXPECT_TRUE(is_not_found(r.error())) << r.error().message;
    EXPECT_EQ(entries_in(dir.path()), 0u);
}

TEST(WriteFileAtomic, FailedRenameKeepsTheOldTargetAndRemovesTheTemporary) {
    ScratchDir dir("rename");
    // A folder in the target's place cannot be replaced by a file.
    std::filesystem::create_directories(dir / "target" / "inside");
    auto r = write_file_atomic(dir / "target", std::string_view("x"));
    EXPECT_FALSE(r.ok());
    EXPECT_TRUE(std::filesystem::is_directory(dir / "target" / "inside"));
    EXPECT_EQ(entries_in(dir.path()), 1u);
}

#ifdef _WIN32
// A file a process held until a moment ago (an ended program's image, a virus scanner's
// look) refuses a rename for a short while; the replacement waits that out.
TEST(Replacing, WaitsOutAShortLivedHandleOnTheTarget) {
    ScratchDir dir("held");
    write_raw(dir / "target", "old");
    write_raw(dir / "source", "new");
    HANDLE held = CreateFileW((dir / "target").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    std::thread closer([held] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        CloseHandle(held);
    });
    const auto r = replace_file(dir / "source", dir / "target");
    closer.join();
    EXPECT_TRUE(r.ok()) << r.error().message;
    EXPECT_EQ(read_raw(dir / "target"), "new");
}
#endif

TEST(WriteFileAtomic, ConcurrentWritersNeverTearTheTarget) {
    ScratchDir dir("race");
    const auto target = dir / "record";
    const std::string a(100000, 'a'), b(100000, 'b');
    ASSERT_TRUE(write_file_atomic(target, std::string_view(a)).ok());
    // On Windows a rename may be refused while another process has the target open; that is
    // reported, not retried. What must never happen is a reader seeing a mixed file.
    auto writer = [&](const std::string& text) {
        for (int i = 0; i < 20; ++i) (void)write_file_atomic(target, std::string_view(text));
    };
    std::thread t1(writer, a);
    std::thread t2(writer, b);
    for (int i = 0; i < 50; ++i) {
        auto now = read_limited(target, 200000);
        if (!now.ok()) continue;
        EXPECT_TRUE(*now == bytes_of(a) || *now == bytes_of(b)) << "torn read of " << now->size() << " bytes";
    }
    t1.join();
    t2.join();
    const std::string last = read_raw(target);
    EXPECT_TRUE(last == a || last == b);
    EXPECT_EQ(entries_in(dir.path()), 1u);
}

TEST(CopyFileAtomic, CopiesAndFailsCleanly) {
    ScratchDir dir("copy");
    std::string big(50000, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
    write_raw(dir / "src", big);
    write_raw(dir / "dst", "old");
    ASSERT_TRUE(copy_file_atomic(dir / "src", dir / "dst").ok());
    EXPECT_EQ(read_raw(dir / "dst"), big);

    auto missing = copy_file_atomic(dir / "absent", dir / "dst");
    ASSERT_FALSE(missing.ok());
    EXPECT_TRUE(is_not_found(missing.error()));
    EXPECT_EQ(read_raw(dir / "dst"), big);
    EXPECT_EQ(entries_in(dir.path()), 2u);
}

TEST(WriteFileSynced, CreatesOrTruncatesInPlace) {
    ScratchDir dir("synced");
    write_raw(dir / "f", "a much longer old content");
    const Bytes data = bytes_of("new");
    ASSERT_TRUE(write_file_synced(dir / "f", data).ok());
    EXPECT_EQ(read_raw(dir / "f"), "new");
    EXPECT_EQ(entries_in(dir.path()), 1u);
}

TEST(RemoveTree, RemovesALinkAsOneEntryAndNeverWhatItPointsAt) {
    namespace fs = std::filesystem;
    ScratchDir dir("tree");
    fs::create_directories(dir / "user" / "photos");
    write_raw(dir / "user" / "photos" / "keep.jpg", "user's");
    fs::create_directories(dir / "tree" / "a" / "b");
    write_raw(dir / "tree" / "a" / "b" / "f", "x");
    write_raw(dir / "tree" / "top", "x");
    ASSERT_TRUE(veltrane::testing::make_folder_link(dir / "tree" / "a" / "link", dir / "user"));
    ASSERT_TRUE(veltrane::testing::make_folder_link(dir / "link", dir / "user"));

    // Wine cannot delete a Unix link itself (Windows deletes a junction or link with
    // RemoveDirectoryW), so only what must hold everywhere is checked: all else goes, and
    // nothing behind a link, also when the link is the tree itself.
    (void)remove_tree(dir / "tree");
    EXPECT_FALSE(fs::exists(dir / "tree" / "top"));
    EXPECT_FALSE(fs::exists(dir / "tree" / "a" / "b"));
    (void)remove_tree(dir / "link");
    EXPECT_EQ(read_raw(dir / "user" / "photos" / "keep.jpg"), "user's");
    EXPECT_TRUE(remove_tree(dir / "missing").ok());
}

TEST(FileMatchesDigest, NeedsBothSizeAndDigest) {
    ScratchDir dir("digest");
    const std::string content = "Veltrane release";
    write_raw(dir / "f", content);
    const Bytes bytes = bytes_of(content);
    ExpectedDigest expected{content.size(), sha256(bytes)};

    auto match = file_matches_digest(dir / "f", expected);
    ASSERT_TRUE(match.ok());
    EXPECT_TRUE(*match);

    ExpectedDigest wrong_size = expected;
    wrong_size.size += 1;
    EXPECT_FALSE(*file_matches_digest(dir / "f", wrong_size));

    ExpectedDigest wrong_digest = expected;
    wrong_digest.sha256[31] ^= 1;
    EXPECT_FALSE(*file_matches_digest(dir / "f", wrong_digest));

    auto missing = file_matches_digest(dir / "absent", expected);
    ASSERT_FALSE(missing.ok());
    EXPECT_TRUE(is_not_found(missing.error()));
}

TEST(Sha256, MatchesTheKnownDigestOfAbc) {
    const Bytes abc = bytes_of("abc");
    const auto d = sha256(abc);
    EXPECT_EQ(d[0], 0xba);
    EXPECT_EQ(d[1], 0x78);
    EXPECT_EQ(d[31], 0xad);
}

TEST(OutOfMemory, IsAnAnswerNotAnException) {
    Bytes buffer{1, 2, 3};
    EXPECT_FALSE(try_resize(buffer, buffer.max_size() + 1));
#ifdef _WIN32
    EXPECT_FALSE(try_resize(buffer, std::size_t{1} << 60));  // 1 EiB: the allocation itself fails
#endif
    EXPECT_EQ(buffer, (Bytes{1, 2, 3}));
    ASSERT_TRUE(try_resize(buffer, 5));
    EXPECT_EQ(buffer, (Bytes{1, 2, 3, 0, 0}));
}

TEST(Worker, OneOfAKindAndAStartThatFailsLeavesTheFlagClear) {
    std::atomic<bool> running{false};
    ASSERT_TRUE(claim_worker(running));
    EXPECT_FALSE(claim_worker(running));
    bool ran = false;
    EXPECT_FALSE(start_claimed_worker(running, [&] { ran = true; }, [](std::function<void()>&) { return false; }));
    EXPECT_FALSE(running.load());
    EXPECT_FALSE(ran);

    ASSERT_TRUE(claim_worker(running));
    // Shared, so the worker may still be leaving set_value when the test goes on.
    auto done = std::make_shared<std::promise<void>>();
    auto finished = done->get_future();
    ASSERT_TRUE(start_claimed_worker(running, [&running, done] {
        running.store(false);
        done->set_value();
    }));
    finished.wait();
    EXPECT_FALSE(running.load());

    // A failed allocation inside the work ends the work, not the process.
    ASSERT_TRUE(claim_worker(running));
    ASSERT_TRUE(start_claimed_worker(running, [] { throw std::bad_alloc(); }));
    for (int i = 0; i < 500 && running.load(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_FALSE(running.load());
}
