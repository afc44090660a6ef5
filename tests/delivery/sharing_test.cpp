#include "base/state.h"
#include "base/text.h"
#include "delivery/sharing.h"
#include "tests/doubles/fake_windows.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>

namespace {

const DWORD OtherAttributes = PRINTER_ATTRIBUTE_LOCAL | PRINTER_ATTRIBUTE_QUEUED;

class QueueSharing : public ::testing::Test {
protected:
    void SetUp() override { reset(OtherAttributes); }

    void reset(DWORD attributes)
    {
        resetFakeWorld();
        upgradeState = UpgradeState{};
        FakeQueue queue;
        queue.printerName = L"Vellumax 350";
        queue.portName = L"USB001";
        queue.shareName = L"Vx350";
        queue.attributes = attributes;
        fakeWorld.queues.push_back(queue);
        ASSERT_TRUE(copyText(upgradeState.selectedQueue.printerName, L"Vellumax 350"));
    }

    static void expectWrittenBack(const PrinterWrite &write, DWORD attributes)
    {
        EXPECT_EQ(write.level, 2u);
        EXPECT_EQ(write.command, 0u);
        EXPECT_EQ(write.attributes, attributes);
        EXPECT_EQ(write.shareName, L"Vx350");
        EXPECT_EQ(write.portName, L"USB001");
        EXPECT_EQ(write.driverName, L"Vellumax Driver");
        EXPECT_EQ(write.writtenPrinterName, L"Vellumax 350");
    }

    static void expectEverythingReleased()
    {
        EXPECT_EQ(fakeWorld.openPrinterHandles, 0);
        EXPECT_EQ(fakeWorld.liveGlobalAllocs, 0);
    }
};

TEST_F(QueueSharing, SharingSetsOnlyTheSharedBitAndKeepsTheQueuesOwnShareName)
{
    EXPECT_EQ(shareQueue(), 1);
    EXPECT_EQ(upgradeState.sharedByTool, 1);
    EXPECT_EQ(fakeWorld.openedAccess, std::vector<ACCESS_MASK>{PRINTER_ALL_ACCESS});
    EXPECT_EQ(fakeWorld.globalAllocFlags, std::vector<UINT>{GMEM_ZEROINIT});
    ASSERT_EQ(fakeWorld.writes.size(), 1u);
    expectWrittenBack(fakeWorld.writes[0], OtherAttributes | PRINTER_ATTRIBUTE_SHARED);
    expectEverythingReleased();
}

// One row per step that can fail before the queue is changed.
struct FailingStep {
    const char *step;
    std::function<void()> arrange;
};

const FailingStep failingSteps[] = {
    {"open refused", [] { fakeWorld.openFails = true; }},
    {"size probe fails", [] { fakeWorld.probeFails = true; }},
    {"size probe reports 0 bytes", [] { fakeWorld.probeReportsZero = true; }},
    {"allocation fails", [] { fakeWorld.globalAllocFails = true; }},
    {"read fails", [] { fakeWorld.failingRead = 1; }},
};

TEST_F(QueueSharing, AnyFailingStepLeavesTheQueueAndTheFlagAloneAndReleasesWhatWasTaken)
{
    for (const FailingStep &failing : failingSteps) {
        SCOPED_TRACE(failing.step);
        reset(OtherAttributes);
        failing.arrange();
        EXPECT_EQ(shareQueue(), 0);
        EXPECT_EQ(upgradeState.sharedByTool, 0);
        EXPECT_TRUE(fakeWorld.writes.empty());
        expectEverythingReleased();

        // The same step failing while restoring: the queue stays shared and
        // the tool keeps trying on the next close path.
        reset(OtherAttributes | PRINTER_ATTRIBUTE_SHARED);
        failing.arrange();
        upgradeState.sharedByTool = 1;
        EXPECT_EQ(restoreSharing(), RestoreFailed);
        EXPECT_EQ(upgradeState.sharedByTool, 1);
        EXPECT_TRUE(fakeWorld.writes.empty());
        expectEverythingReleased();
    }
}

TEST_F(QueueSharing, ARefusedShareWriteReportsFailure)
{
    fakeWorld.setFails = true;
    EXPECT_EQ(shareQueue(), 0);
    EXPECT_EQ(upgradeState.sharedByTool, 0);
    EXPECT_EQ(fakeWorld.writes.size(), 1u);
    expectEverythingReleased();
}

TEST_F(QueueSharing, RestoringWaitsOneSecondPerPassUntilTheQueueIsEmpty)
{
    struct Case {
        std::vector<DWORD> jobCounts;
        size_t sleeps;
    };
    for (const Case &c : {Case{{}, 0}, Case{{0}, 0}, Case{{3, 2, 2, 1, 0}, 4}}) {
        SCOPED_TRACE(c.sleeps);
        reset(OtherAttributes | PRINTER_ATTRIBUTE_SHARED);
        fakeWorld.queues[0].jobCounts = c.jobCounts;
        upgradeState.sharedByTool = 1;
        EXPECT_EQ(restoreSharing(), RestoreDone);
        EXPECT_EQ(fakeWorld.sleeps, std::vector<DWORD>(c.sleeps, 1000));
        ASSERT_EQ(fakeWorld.writes.size(), 1u);
        expectWrittenBack(fakeWorld.writes[0], OtherAttributes);
        // Unshared only after the last read found the queue empty.
        auto write = std::find_if(fakeWorld.events.begin(), fakeWorld.events.end(),
                                  [](const std::wstring &line) { return line.rfind(L"SetPrinter", 0) == 0; });
        ASSERT_NE(write, fakeWorld.events.begin());
        EXPECT_EQ(*(write - 1), L"GetPrinter jobs 0");
        EXPECT_EQ(upgradeState.sharedByTool, 0);
        EXPECT_EQ(upgradeState.sharingNotPutBack, 0);
        expectEverythingReleased();
    }
}

TEST_F(QueueSharing, ARestoreWhoseReadFailsWhileWaitingKeepsTheQueueShared)
{
    reset(OtherAttributes | PRINTER_ATTRIBUTE_SHARED);
    fakeWorld.queues[0].jobCounts = {2};
    fakeWorld.failingRead = 3;
    upgradeState.sharedByTool = 1;
    EXPECT_EQ(restoreSharing(), RestoreFailed);
    EXPECT_EQ(fakeWorld.sleeps.size(), 2u);
    EXPECT_TRUE(fakeWorld.writes.empty());
    EXPECT_EQ(upgradeState.sharedByTool, 1);
    EXPECT_EQ(upgradeState.sharingNotPutBack, 1);
    expectEverythingReleased();
}

TEST_F(QueueSharing, ARefusedUnshareWriteStillEndsTheToolsHoldOnTheQueue)
{
    reset(OtherAttributes | PRINTER_ATTRIBUTE_SHARED);
    fakeWorld.setFails = true;
    upgradeState.sharedByTool = 1;
    EXPECT_EQ(restoreSharing(), RestoreFailed);
    EXPECT_EQ(fakeWorld.writes.size(), 1u);
    EXPECT_EQ(fakeWorld.queues[0].attributes & PRINTER_ATTRIBUTE_SHARED, DWORD(PRINTER_ATTRIBUTE_SHARED));
    EXPECT_EQ(upgradeState.sharedByTool, 0);
    EXPECT_EQ(upgradeState.sharingNotPutBack, 1) << "the final text must say so";
    expectEverythingReleased();
}

// A queue that someone else shared while the details were on screen is
// theirs: the tool writes nothing, copies to its share name as it is now and
// has nothing to put back.
TEST_F(QueueSharing, AQueueFoundSharedAlreadyIsLeftAsItIs)
{
    fakeWorld.queues[0].attributes |= PRINTER_ATTRIBUTE_SHARED;
    fakeWorld.queues[0].shareName = L"Theirs";
    EXPECT_EQ(shareQueue(), 1);
    EXPECT_TRUE(fakeWorld.writes.empty());
    EXPECT_EQ(upgradeState.sharedByTool, 0);
    EXPECT_EQ(upgradeState.selectedQueue.isShared, 1);
    EXPECT_STREQ(upgradeState.selectedQueue.shareName, L"Theirs");
    EXPECT_FALSE(restoreDue());
    expectEverythingReleased();
}

}  // namespace
