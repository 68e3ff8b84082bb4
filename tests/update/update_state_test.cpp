#include "update/update_state.h"

#include <gtest/gtest.h>

#include "support/test_paths.h"

using namespace veltrane;

TEST(UpdateState, WritesTheFiveLinesAndReadsThemBack) {
    UpdateState s;
    s.last_automatic_slot = 2026102109;
    s.staged_build = BuildVersion{20261019, 230507};
    s.status = UpdateStatus::Staged;
    s.attempts = 1;
    s.last_attempt = 1792000000;
    const std::string text = format_update_state(s);
    EXPECT_EQ(text,
              "last_automatic_slot=2026102109\nstaged_build=20261019.230507.0\nstatus=staged\nattempts=1\n"
              "last_attempt=1792000000\n");
    EXPECT_EQ(parse_update_state(text), s);
    EXPECT_EQ(format_update_state(UpdateState{}),
              "last_automatic_slot=\nstaged_build=\nstatus=idle\nattempts=0\nlast_attempt=0\n");
}

TEST(UpdateState, ParseRules) {
    EXPECT_EQ(parse_update_state("status=STAGED").status, UpdateStatus::Idle);
    EXPECT_EQ(parse_update_state("status= staged").status, UpdateStatus::Idle);
    EXPECT_EQ(parse_update_state("status=rolled_back\r\n").status, UpdateStatus::RolledBack);
    EXPECT_EQ(parse_update_state("status=failed\nstatus=current").status, UpdateStatus::Current);
    EXPECT_FALSE(parse_update_state("last_automatic_slot=2026102110").last_automatic_slot);
    EXPECT_FALSE(parse_update_state("last_automatic_slot=026102109").last_automatic_slot);
    EXPECT_EQ(parse_update_state("last_automatic_slot=2026102121").last_automatic_slot, 2026102121u);
    EXPECT_EQ(format_update_state(parse_update_state("last_automatic_slot=0026102121")).substr(0, 31),
              "last_automatic_slot=0026102121\n");
    EXPECT_EQ(parse_update_state("staged_version=20261019.230507.0").staged_build, (BuildVersion{20261019, 230507}));
    EXPECT_FALSE(parse_update_state("staged_build=20261019.230507.0\nstaged_version=x").staged_build);
    EXPECT_FALSE(parse_update_state("staged_build= 20261019.230507.0").staged_build);
    EXPECT_EQ(parse_update_state("attempts=4294967296\nlast_attempt=-1").attempts, 0u);
    EXPECT_EQ(parse_update_state("attempts=3\nlast_attempt=18446744073709551615").last_attempt, UINT64_MAX);

    veltrane::testing::ScratchDir dir("update_state");
    veltrane::testing::write_raw(dir / "record", "status=current\n" + std::string(4096, '#'));
    EXPECT_EQ(read_update_state(dir / "record").status, UpdateStatus::Idle);
    veltrane::testing::write_raw(dir / "record", "status=current\n");
    ASSERT_TRUE(set_update_status(dir.path(), UpdateStatus::Staged, BuildVersion{20261020, 0}));
    ASSERT_TRUE(set_update_status(dir.path(), UpdateStatus::Failed));
    const UpdateState s = read_update_state(dir / kUpdateStateFile);
    EXPECT_EQ(s.status, UpdateStatus::Failed);
    EXPECT_EQ(s.staged_build, (BuildVersion{20261020, 0}));
    EXPECT_EQ(update_status_line_for(BuildVersion{20261019, 90507}, s), "빌드 20261019-090507 · 업데이트 재시도 대기");

    // An updater's reason stays on one bounded line of the record, and only while failed.
    ASSERT_TRUE(record_failed_apply(dir.path(), "업데이트 파일 교체 실패: A\n\n추가 오류:\n" + std::string(2000, 'x')));
    const std::string failure = read_update_state(dir / kUpdateStateFile).failure;
    EXPECT_EQ(failure.rfind("업데이트 파일 교체 실패: A 추가 오류: xx", 0), 0u);
    EXPECT_EQ(failure.size(), kFailureLimit);
    ASSERT_TRUE(set_update_status(dir.path(), UpdateStatus::Staged));
    EXPECT_EQ(read_update_state(dir / kUpdateStateFile).failure, "");

    // A rollback is remembered across later records until a newer build replaces it.
    ASSERT_TRUE(record_rollback(dir.path(), BuildVersion{20261021, 5}));
    ASSERT_TRUE(set_update_status(dir.path(), UpdateStatus::Current));
    const std::string text = veltrane::testing::read_raw(dir / kUpdateStateFile);
    EXPECT_NE(text.find("\nrolled_back_build=20261021.5.0\n"), std::string::npos) << text;
    EXPECT_EQ(read_update_state(dir / kUpdateStateFile).rolled_back_build, (BuildVersion{20261021, 5}));

    // Starts that never became ready count up to the next status, which clears them.
    ASSERT_TRUE(count_unready_start(dir.path()));
    ASSERT_TRUE(count_unready_start(dir.path()));
    EXPECT_EQ(read_update_state(dir / kUpdateStateFile).unready_starts, 2u);
    ASSERT_TRUE(set_update_status(dir.path(), UpdateStatus::Updated));
    EXPECT_EQ(veltrane::testing::read_raw(dir / kUpdateStateFile).find("unready_starts"), std::string::npos);
}

TEST(UpdateSlots, FiveMinutesFromTwentyToTheHour) {
    EXPECT_EQ(update_slot_at({2026, 10, 21, 9, 44, 59}), 2026102109u);
    EXPECT_FALSE(update_slot_at({2026, 10, 21, 9, 45, 0}));
    EXPECT_FALSE(update_slot_at({2026, 10, 21, 9, 39, 59}));
    EXPECT_FALSE(update_slot_at({2026, 10, 21, 10, 40, 0}));
    EXPECT_EQ(update_slot_at({2026, 1, 2, 3, 40, 0}), 2026010203u);
}

TEST(UpdateSlots, RetriesOnlyFailedOrInterruptedChecksEveryHalfHourUpToFourAttempts) {
    const std::uint64_t t0 = 1792000000;
    const std::uint64_t slot = 2026102109;
    UpdateState r = begin_automatic_check(UpdateState{}, slot, t0);
    EXPECT_EQ(r.attempts, 1u);
    r.status = UpdateStatus::Failed;
    // Inside the window or after it closed, the same slot waits 30 minutes.
    EXPECT_FALSE(automatic_check_slot(r, slot, t0 + 60));
    EXPECT_FALSE(automatic_check_slot(r, std::nullopt, t0 + 1799));
    EXPECT_EQ(automatic_check_slot(r, std::nullopt, t0 + 1800), slot);
    EXPECT_FALSE(automatic_check_slot(r, std::nullopt, t0 - 5000));  // clock went back

    r.status = UpdateStatus::Checking;  // a check that died
    EXPECT_EQ(automatic_check_slot(r, std::nullopt, t0 + 1800), slot);
    for (auto st : {UpdateStatus::Current, UpdateStatus::Staged, UpdateStatus::Applying, UpdateStatus::UnsupportedWindows}) {
        r.status = st;
        EXPECT_FALSE(automatic_check_slot(r, std::nullopt, t0 + 7200));
    }

    r.status = UpdateStatus::Failed;
    for (int i = 2; i <= 4; ++i) r = begin_automatic_check(r, slot, t0);
    EXPECT_EQ(r.attempts, 4u);
    EXPECT_FALSE(automatic_check_slot(r, std::nullopt, t0 + 7200));

    // A new slot starts over, whatever the last one ended in.
    EXPECT_EQ(automatic_check_slot(r, 2026102115, t0 + 7200), 2026102115u);
    EXPECT_EQ(begin_automatic_check(r, 2026102115, t0 + 7200).attempts, 1u);
    EXPECT_FALSE(automatic_check_slot(UpdateState{}, std::nullopt, t0));
}
