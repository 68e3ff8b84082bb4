#include "sync/schedule.h"

#include <gtest/gtest.h>

using namespace veltrane;

namespace {
LocalTime at(std::int64_t y, std::uint32_t mo, std::uint32_t d, std::uint32_t h, std::uint32_t mi, std::uint32_t s = 0) {
    return LocalTime{y, mo, d, h, mi, s};
}
}  // namespace

TEST(SyncSchedule, SlotIsDueForFiveMinutes) {
    EXPECT_FALSE(current_sync_slot(at(2026, 12, 7, 10, 19, 59)));
    EXPECT_EQ(current_sync_slot(at(2026, 12, 7, 10, 20)), 2026120710u);
    EXPECT_EQ(current_sync_slot(at(2026, 12, 7, 10, 24, 59)), 2026120710u);
    EXPECT_FALSE(current_sync_slot(at(2026, 12, 7, 10, 25)));
    EXPECT_EQ(current_sync_slot(at(2026, 12, 7, 4, 20)), 2026120704u);
    EXPECT_EQ(current_sync_slot(at(2026, 12, 7, 22, 21)), 2026120722u);
    EXPECT_FALSE(current_sync_slot(at(2026, 12, 7, 11, 20)));
}

TEST(SyncSchedule, SlotIdsMustEndInASlotHour) {
    EXPECT_EQ(parse_slot_id("2026120710"), 2026120710u);
    EXPECT_EQ(parse_slot_id("2026120704"), 2026120704u);
    for (const char* bad : {"2026120711", "202612071", "20261207100", "", "2026-12-07", " 2026120710"}) {
        EXPECT_FALSE(parse_slot_id(bad)) << bad;
    }
}

TEST(SyncSchedule, RetriesAreSpacedAndCounted) {
    const std::uint64_t t = 1'765'000'000;
    const SyncRetry failed{2026120710u, false, 1, t};

    // A new due slot always starts at attempt 1.
    auto first = next_sync_attempt(SyncRetry{}, 2026120710u, t);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->attempts, 1u);
    EXPECT_EQ(first->slot, 2026120710u);
    EXPECT_FALSE(first->succeeded);
    EXPECT_EQ(first->last_attempt, t);

    // Same slot: not before 1800 s, then attempt 2, also after the window has passed.
    EXPECT_FALSE(next_sync_attempt(failed, 2026120710u, t + 1799));
    auto retry = next_sync_attempt(failed, std::nullopt, t + 1800);
    ASSERT_TRUE(retry);
    EXPECT_EQ(retry->attempts, 2u);
    EXPECT_EQ(retry->slot, 2026120710u);

    SyncRetry three = failed;
    three.attempts = 3;
    EXPECT_EQ(next_sync_attempt(three, std::nullopt, t + 4000)->attempts, 4u);
    SyncRetry four = failed;
    four.attempts = 4;
    EXPECT_FALSE(next_sync_attempt(four, std::nullopt, t + 99999));

    SyncRetry done = failed;
    done.succeeded = true;
    EXPECT_FALSE(next_sync_attempt(done, std::nullopt, t + 99999));

    // A clock that went backwards counts as no time elapsed.
    EXPECT_FALSE(next_sync_attempt(failed, std::nullopt, t - 5000));

    // A different due slot starts over, whatever the old record says.
    EXPECT_EQ(next_sync_attempt(four, 2026120716u, t + 99999)->attempts, 1u);
    EXPECT_FALSE(next_sync_attempt(SyncRetry{}, std::nullopt, t));
}

TEST(SyncSchedule, StatusLines) {
    EXPECT_EQ(format_sync_time(at(2026, 12, 7, 10, 21)), "2026.12/07 10:21");
    EXPECT_EQ(last_sync_line(std::nullopt), "최근: 없음");
    EXPECT_EQ(last_sync_line("  \n"), "최근: 없음");
    EXPECT_EQ(last_sync_line(" 2026.12/07 10:21\n"), "최근: 2026.12/07 10:21");

    // A proxy that wants a password is named beside the time until a run ends otherwise.
    const std::string refused = sync_status_after_failure("2026.12/07 10:21", "proxy:3128\r\nx");
    EXPECT_EQ(refused, "2026.12/07 10:21\n프록시 서버가 인증을 요구합니다: proxy:3128  x");
    EXPECT_EQ(last_sync_line(refused), "최근: 2026.12/07 10:21");
    EXPECT_EQ(sync_note_line(refused), "프록시 서버가 인증을 요구합니다: proxy:3128  x");
    EXPECT_EQ(sync_status_after_failure(refused, std::nullopt), "2026.12/07 10:21");
    EXPECT_EQ(sync_status_after_failure(std::nullopt, ""), "\n프록시 서버가 인증을 요구합니다");
    EXPECT_EQ(sync_status_after_failure("", std::string(199, 'p') + "프록시").size(), 1 + 45 + 2 + 199);
    EXPECT_EQ(last_sync_line("\n프록시 서버가 인증을 요구합니다"), "최근: 없음");

    EXPECT_EQ(next_sync_line(at(2026, 12, 7, 10, 22)), "다음: 2026.12/07 16:20");
    EXPECT_EQ(next_sync_line(at(2026, 12, 7, 10, 19)), "다음: 2026.12/07 10:20");
    EXPECT_EQ(next_sync_line(at(2026, 12, 7, 0, 0)), "다음: 2026.12/07 04:20");
    EXPECT_EQ(next_sync_line(at(2026, 12, 31, 23, 0)), "다음: 2027.01/01 04:20");
    EXPECT_EQ(next_sync_line(at(2028, 2, 28, 22, 20)), "다음: 2028.02/29 04:20");
    EXPECT_EQ(next_sync_line(at(2026, 4, 30, 22, 30)), "다음: 2026.05/01 04:20");
}

TEST(SyncRetryRecord, RoundTripsAndReadsBadValuesAsDefaults) {
    const SyncRetry r{2026120710u, false, 2, 1765000000};
    EXPECT_EQ(format_sync_retry(r), "slot=2026120710\nsucceeded=0\nattempts=2\nlast_attempt=1765000000\n");
    const SyncRetry back = parse_sync_retry(format_sync_retry(r));
    EXPECT_EQ(back.slot, r.slot);
    EXPECT_EQ(back.attempts, 2u);
    EXPECT_EQ(back.last_attempt, 1765000000u);
    EXPECT_EQ(format_sync_retry(SyncRetry{}), "slot=\nsucceeded=0\nattempts=0\nlast_attempt=0\n");

    const SyncRetry odd = parse_sync_retry(
        "slot=2026120711\r\nsucceeded=true\r\nattempts=x\nlast_attempt=99999999999999999999999\nnoise\nattempts=3\n");
    EXPECT_FALSE(odd.slot);
    EXPECT_FALSE(odd.succeeded);
    EXPECT_EQ(odd.attempts, 3u);  // the later line wins
    EXPECT_EQ(odd.last_attempt, 0u);
    EXPECT_TRUE(parse_sync_retry("succeeded=1\r\n").succeeded);
    EXPECT_EQ(parse_sync_retry("slot=2026120716\r\n").slot, 2026120716u);
    EXPECT_EQ(format_sync_retry(parse_sync_retry("slot=0026120716")).substr(0, 16), "slot=0026120716\n");
}
