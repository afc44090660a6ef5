#include "base/state.h"
#include "base/text.h"
#include "delivery/print_jobs.h"
#include "tests/doubles/fake_windows.h"

#include <gtest/gtest.h>

#include <lmcons.h>

#include <cwctype>
#include <functional>
#include <string>

namespace {

// The selected queue on a scripted spooler.
class PrintJobs : public ::testing::Test {
protected:
    void SetUp() override { reset(); }

    void reset()
    {
        resetFakeWorld();
        upgradeState = UpgradeState{};
        FakeQueue queue;
        queue.printerName = L"Vellumax 350";
        fakeWorld.queues.push_back(queue);
        ASSERT_TRUE(copyText(upgradeState.selectedQueue.printerName, L"Vellumax 350"));
    }

    static void expectEverythingReleased()
    {
        EXPECT_EQ(fakeWorld.openPrinterHandles, 0);
        EXPECT_EQ(fakeWorld.liveGlobalAllocs, 0);
    }
};

// A copy cut short takes back its own job and nothing else: the job that
// arrived since the list taken before the copy, sent by this user (in any
// letter case) not before the copy's second, and shaped as a copy to the
// share makes it (no name of its own, RAW data). Colleagues' documents,
// older ones and the user's documents from programs stay, and when the
// copy's own cannot be told apart nothing is deleted.
TEST_F(PrintJobs, OnlyTheCopysOwnJobIsDeleted)
{
    // The copy began at 10:00:00.700; the spooler keeps whole seconds.
    const SYSTEMTIME copyStarted = {2026, 12, 3, 9, 10, 0, 0, 700};
    const SYSTEMTIME sameSecond = {2026, 12, 3, 9, 10, 0, 0, 0};
    const SYSTEMTIME secondBefore = {2026, 12, 3, 9, 9, 59, 59, 900};
    WCHAR user[UNLEN + 1] = L"";
    DWORD capacity = ARRAYSIZE(user);
    ASSERT_TRUE(GetUserNameW(user, &capacity));
    std::wstring otherCase = user;
    for (wchar_t &c : otherCase)
        c = std::iswupper(c) ? std::towlower(c) : std::towupper(c);
    struct Case {
        const char *name;
        std::vector<DWORD> now;
        std::function<void(FakeQueue &)> world;
        int result;
        DWORD job;
        DWORD added;
        std::vector<DWORD> deleted;
    } cases[] = {
        {"none added", {3, 4}, [](FakeQueue &) {}, JobRemoval::NoneAdded, 0, 0, {}},
        {"its own beside a colleague's and the user's from a program, one with a driver's data", {3, 10, 9, 4, 11, 12},
         [&](FakeQueue &q) {
             q.jobUsers[10] = L"colleague";
             q.jobDocuments[11] = L"Invoice.pdf";
             q.jobDatatypes[12] = L"NT EMF 1.008";
         },
         JobRemoval::Removed, 9, 4, {9}},
        {"its own, sent under the user's name in another letter case, in the copy's second", {3, 9},
         [&](FakeQueue &q) {
             q.jobUsers[9] = otherCase;
             q.jobSubmitted[9] = sameSecond;
         },
         JobRemoval::Removed, 9, 1, {9}},
        {"one that arrived before the copy began, though after the list", {3, 9},
         [&](FakeQueue &q) { q.jobSubmitted[9] = secondBefore; }, JobRemoval::NoneOwn, 0, 1, {}},
        {"the user's document from a program alone (the copy made none)", {3, 11},
         [](FakeQueue &q) { q.jobDocuments[11] = L"Invoice.pdf"; }, JobRemoval::NoneOwn, 0, 1, {}},
        {"two shaped like the copy's", {3, 9, 4, 10}, [](FakeQueue &) {}, JobRemoval::Several, 0, 2, {}},
        {"a colleague's alone", {3, 10}, [](FakeQueue &q) { q.jobUsers[10] = L"colleague"; }, JobRemoval::NoneOwn, 0,
         1, {}},
        {"a job arrives between the size probe and the fill", {3, 9},
         [](FakeQueue &q) {
             q.jobsArrivingAfterProbe = {10};
             q.jobUsers[10] = L"colleague";
         },
         JobRemoval::Removed, 9, 2, {9}},
        {"the queue cannot be listed", {3, 9}, [](FakeQueue &) { fakeWorld.enumJobsFails = true; },
         JobRemoval::Unlisted, 0, 0, {}},
        {"the deletion refused", {3, 9}, [](FakeQueue &) { fakeWorld.setJobFails = true; }, JobRemoval::NotDeleted, 9,
         1, {}},
        // Printed, or cancelled at the printer, between the list and the
        // deletion: nothing of it is left, and nothing was deleted.
        {"its own vanishes before the deletion", {3, 9},
         [](FakeQueue &) { fakeWorld.onSetJob = [] { fakeWorld.queues[0].jobIds = {3}; }; }, JobRemoval::Gone, 9, 1,
         {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        reset();
        fakeWorld.queues[0].jobIds = c.now;
        c.world(fakeWorld.queues[0]);
        FILETIME copyStart;
        ASSERT_TRUE(SystemTimeToFileTime(&copyStarted, &copyStart));
        const JobRemoval removal = removeOwnJobAddedSince({3, 4}, copyStart);
        EXPECT_EQ(removal.result, c.result);
        EXPECT_EQ(removal.job, c.job);
        EXPECT_EQ(removal.added, c.added);
        EXPECT_EQ(fakeWorld.deletedJobs, c.deleted);
        expectEverythingReleased();
    }
}

}  // namespace
