// The one rule that says when kept keyword rows still answer as a fresh read would.

#include <gtest/gtest.h>

#include <ctime>
#include <functional>

#include "store/FileIdentity.h"
#include "store/KeptRows.h"

namespace vorelta {
namespace {

using Own = KeptRowsRule::OwnChange;

TEST(KeptRowsRuleTest, RowsHoldOnlyWhileNothingTheEngineSeesHasChangedThem) {
    const StoreEvidence read{7, 3, 100, true};
    const SourceTraits table{true, true, true};
    const struct {
        const char* what;
        SourceTraits source;
        std::function<void(KeptRowsRule&, StoreEvidence&)> then;
        bool holds;
    } cases[] = {
        {"nothing since", table, [](auto&, auto&) {}, true},
        {"the connection cannot vouch", table, [](auto&, auto& now) { ++now.session; }, false},
        {"another writer committed", table, [](auto&, auto& now) { ++now.othersVersion; }, false},
        {"an own write the rows did not follow", table, [](auto&, auto& now) { ++now.ownChanges; },
         false},
        {"an own insert followed", table,
         [](auto& rule, auto& now) { ++now.ownChanges, rule.Noted(Own::Added); }, true},
        {"an own delete followed", table,
         [](auto& rule, auto& now) { ++now.ownChanges, rule.Noted(Own::Removed); }, true},
        {"an own insert into a table that replaces on conflict",
         {true, true, false},
         [](auto& rule, auto& now) { ++now.ownChanges, rule.Noted(Own::Added); },
         false},
        {"an own delete from a table that replaces on conflict",
         {true, true, false},
         [](auto& rule, auto& now) { ++now.ownChanges, rule.Noted(Own::Removed); },
         true},
        {"an own insert the source delivers in index order",
         {true, false, true},
         [](auto& rule, auto& now) { ++now.ownChanges, rule.Noted(Own::Added); },
         false},
        {"a view, whose rows may follow the clock",
         {false, true, true},
         [](auto&, auto&) {},
         false},
        {"a file system whose times prove nothing", table,
         [](auto&, auto& now) { now.provable = false; }, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        KeptRowsRule rule;
        EXPECT_FALSE(rule.Holds(read));  // nothing read yet
        rule.Read(read, c.source);
        StoreEvidence now = read;
        c.then(rule, now);
        EXPECT_EQ(rule.Holds(now), c.holds);
    }
}

TEST(KeptRowsRuleTest, OnlyLocalFileSystemsThatStampEveryWriteProveAFileUnchanged) {
    const struct {
        const char* name;
        long type;
        bool proves;
    } cases[] = {
        {"ext4", 0xEF53, true},      {"XFS", 0x58465342, true},   {"Btrfs", 0x9123683E, true},
        {"tmpfs", 0x01021994, true}, {"FAT", 0x4D44, false},      {"exFAT", 0x2011BAB0, false},
        {"NFS", 0x6969, false},      {"SMB", 0x517B, false},      {"CIFS", 0xFF534D42, false},
        {"SMB2", 0xFE534D42, false}, {"FUSE", 0x65735546, false}, {"unknown", 0x12345678, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TimesProveIdentityOn(c.type), c.proves) << c.name;
    }
}

// Some trusted file systems keep one-second times: a time within the last second proves nothing.
TEST(KeptRowsRuleTest, AFileChangedWithinTheLastSecondIsUnprovenAnywhere) {
    const struct {
        const char* when;
        std::int64_t agoMs;
        bool unproven;
    } cases[] = {{"now", 0, true},
                 {"0.9 s ago", 900, true},
                 {"2 s ago", 2000, false},
                 {"ahead of the clock", -5000, true}};
    for (const auto& c : cases) {
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        const std::int64_t at =
            std::int64_t(now.tv_sec) * 1'000'000'000 + now.tv_nsec - c.agoMs * 1'000'000;
        EXPECT_EQ(MayChangeUnseen(FileIdentity{1, 2, 3, at, at - 5'000'000'000}), c.unproven)
            << c.when;
    }
}

}  // namespace
}  // namespace vorelta
