// The queue lookup against the scripted spooler.
#include "identify/queues.h"
#include "tests/doubles/fake_windows.h"

#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <string>

namespace {

FakeQueue queue(const wchar_t *name, const wchar_t *port, const wchar_t *share = L"", DWORD attributes = 0)
{
    FakeQueue q;
    q.printerName = name;
    if (port)
        q.portName = port;
    q.shareName = share;
    q.attributes = PRINTER_ATTRIBUTE_LOCAL | attributes;
    return q;
}

std::wstring names(const std::vector<PrintQueueRecord> &found)
{
    std::wstring text;
    for (const PrintQueueRecord &record : found)
        text += std::wstring(record.printerName) + L";";
    return text;
}

bool same(const PrintQueueRecord &a, const PrintQueueRecord &b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

class QueueLookup : public ::testing::Test {
protected:
    void SetUp() override
    {
        resetFakeWorld();
        upgradeState = UpgradeState{};
    }
};

TEST_F(QueueLookup, AsksForLocalAndConnectedQueuesSizeFirst)
{
    fakeWorld.queues = {queue(L"A", L"USB001")};
    ASSERT_EQ(findPrintQueues().size(), 1u);
    ASSERT_EQ(fakeWorld.enumCalls.size(), 2u);
    for (const EnumCall &call : fakeWorld.enumCalls) {
        EXPECT_EQ(call.flags, DWORD(PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS));
        EXPECT_TRUE(call.nullName);
        EXPECT_EQ(call.level, 2u);
    }
    EXPECT_EQ(fakeWorld.enumCalls[0].bufferSize, 0u);
    EXPECT_GT(fakeWorld.enumCalls[1].bufferSize, 0u);
}

// No queues, no size from the spooler, a failing fill, queues added between
// the two calls, no queue on the port: each is an empty result, with no
// further attempt and the previous selection kept.
TEST_F(QueueLookup, FindsNothingAndKeepsTheSelectionWhenNoQueueCanBeHad)
{
    for (int scene = 0; scene < 5; ++scene) {
        resetFakeWorld();
        upgradeState.selectedQueue.isShared = 42;
        if (scene > 0)
            fakeWorld.queues = {queue(L"A", scene == 4 ? L"USB002" : L"USB001")};
        fakeWorld.enumProbeReportsZero = scene == 1;
        fakeWorld.enumFillFails = scene == 2;
        if (scene == 3) {
            fakeWorld.queuesAddedBetweenEnumCalls = 1;
            fakeWorld.extraQueues = {queue(L"B", L"USB001")};
        }
        EXPECT_TRUE(findPrintQueues().empty()) << scene;
        EXPECT_EQ(upgradeState.selectedQueue.isShared, 42) << scene;
        EXPECT_EQ(fakeWorld.enumCalls.size(), scene < 2 ? 1u : 2u) << scene;
    }
}

TEST_F(QueueLookup, TakesEveryNameOfTheQueueOnThePort)
{
    fakeWorld.queues = {queue(L"Plotter", L"USB001", L"PLOT", PRINTER_ATTRIBUTE_SHARED),
                        queue(L"Plain", L"USB001", L"PLAIN")};
    fakeWorld.queues[0].driverName = L"Plotter Driver";
    std::vector<PrintQueueRecord> found = findPrintQueues();
    ASSERT_EQ(found.size(), 2u);
    EXPECT_STREQ(found[0].driverName, L"Plotter Driver");
    EXPECT_STREQ(found[0].printerName, L"Plotter");
    EXPECT_STREQ(found[0].portName, L"USB001");
    EXPECT_STREQ(found[0].shareName, L"PLOT");
    EXPECT_NE(found[0].isShared, 0);
    EXPECT_EQ(found[1].isShared, 0);
}

// The caller takes the share from the first queue and the sharing step opens
// the selected one, so both ends of the order matter.
TEST_F(QueueLookup, KeepsEveryQueueOnThePortInOrderAndSelectsTheLast)
{
    fakeWorld.queues = {queue(L"A", L"USB001", L"SA"), queue(L"Other", L"USB002"), queue(L"B", L"USB001", L"SB")};
    std::vector<PrintQueueRecord> found = findPrintQueues();
    ASSERT_EQ(names(found), L"A;B;");
    EXPECT_TRUE(same(upgradeState.selectedQueue, found[1]));
}

// A connection to a server's USB001 queue reports the server's port; it
// must never become the queue the user confirms, even when listed last.
TEST_F(QueueLookup, PassesOverPrinterConnectionsOnTheSamePortName)
{
    FakeQueue connection = queue(L"\\\\SERVER\\Plotter", L"USB001", L"Plotter", PRINTER_ATTRIBUTE_NETWORK);
    connection.attributes &= ~static_cast<DWORD>(PRINTER_ATTRIBUTE_LOCAL);
    connection.serverName = L"\\\\SERVER";
    FakeQueue flaggedOnly = queue(L"Flagged", L"USB001", L"F", PRINTER_ATTRIBUTE_NETWORK);
    FakeQueue serverOnly = queue(L"Served", L"USB001", L"S");
    serverOnly.serverName = L"\\\\SERVER";
    FakeQueue emptyServer = queue(L"Local", L"USB001", L"L");
    emptyServer.serverName = L"";
    fakeWorld.queues = {emptyServer, connection, flaggedOnly, serverOnly};

    std::vector<PrintQueueRecord> found = findPrintQueues();
    EXPECT_EQ(names(found), L"Local;");
    EXPECT_STREQ(upgradeState.selectedQueue.printerName, L"Local");
}

// A queue is the port's when its port text, split at commas and without the
// blanks around each part, names the port ignoring case, and no other port:
// one that names others too is a pool, kept apart.
TEST_F(QueueLookup, TakesAQueueWhosePortTextNamesThePortAloneAndKeepsPoolsApart)
{
    struct Row {
        const WCHAR *portText;  // null: the spooler reports none
        const WCHAR *port;
        const char *expected;  // "queue", "pool" or "none"
    } rows[] = {
        {L"USB001", L"USB001", "queue"},
        {L"usb001", L"USB001", "queue"},
        {L"USB001", L"Usb001", "queue"},
        {L" USB001 ", L"USB001", "queue"},
        {L"USB001,", L"USB001", "queue"},
        {L"USB001, usb001", L"USB001", "queue"},
        {L"USB001,USB002", L"USB001", "pool"},
        {L"USB002 , usb001", L"USB001", "pool"},
        {L"USB0017", L"USB001", "none"},
        {L"XUSB001", L"USB001", "none"},
        {L"USB001 USB002", L"USB001", "none"},
        {L"USB0017,USB002", L"USB001", "none"},
        {L"USB002", L"USB001", "none"},
        {nullptr, L"USB001", "none"},
    };
    for (const Row &row : rows) {
        resetFakeWorld();
        upgradeState = UpgradeState{};
        std::wcscpy(upgradeState.portName, row.port);
        fakeWorld.queues = {queue(L"Q", row.portText)};
        const std::string expected = row.expected;
        const std::string scene = (row.portText ? testing::PrintToString(std::wstring(row.portText)) : "null");
        EXPECT_EQ(names(findPrintQueues()), expected == "queue" ? L"Q;" : L"") << scene;
        EXPECT_EQ(names(upgradeState.pooledQueues), expected == "pool" ? L"Q;" : L"") << scene;
    }
}

// A lookup asked about another port changes nothing of the run.
TEST_F(QueueLookup, ALookupElsewhereLeavesTheRunAlone)
{
    fakeWorld.queues = {queue(L"VX Q1", L"USB001", L"Q1"), queue(L"VX Q2", L"USB002", L"Q2"),
                        queue(L"VX ZPool", L"USB001,USB002", L"ZPOOL")};
    findPrintQueues();
    const UpgradeState before = upgradeState;
    PortQueues lookup;
    EXPECT_TRUE(lookUpPrintQueues(L"usb002", lookup));
    EXPECT_EQ(names(lookup.queues), L"VX Q2;");
    EXPECT_EQ(names(lookup.pools), L"VX ZPool;");
    EXPECT_STREQ(upgradeState.portName, before.portName);
    EXPECT_TRUE(same(upgradeState.selectedQueue, before.selectedQueue));
    EXPECT_EQ(names(upgradeState.pooledQueues), L"VX ZPool;");
}

TEST_F(QueueLookup, LeavesNamesTheSpoolerDoesNotReportEmpty)
{
    FakeQueue bare = queue(L"", L"USB001");
    bare.printerName.reset();
    bare.driverName.reset();
    bare.shareName.reset();
    fakeWorld.queues = {bare};
    std::vector<PrintQueueRecord> found = findPrintQueues();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_STREQ(found[0].driverName, L"");
    EXPECT_STREQ(found[0].printerName, L"");
    EXPECT_STREQ(found[0].shareName, L"");
}

// A shortened name would open, or copy to, some other queue.
TEST_F(QueueLookup, PassesOverAQueueWithANameTooLongToKeep)
{
    const std::wstring tooLong(nameCapacity, L'x');
    // Blanks around a port are not part of it, so this text names USB001.
    const std::wstring longPort = L"USB001" + std::wstring(nameCapacity - 6, L' ');
    for (int field = 0; field < 4; ++field) {
        resetFakeWorld();
        FakeQueue odd = queue(L"Odd", L"USB001", L"ODD");
        std::optional<std::wstring> *fields[] = {&odd.printerName, &odd.portName, &odd.shareName, &odd.driverName};
        *fields[field] = field == 1 ? longPort : tooLong;
        fakeWorld.queues = {queue(L"Good", L"USB001"), odd};
        EXPECT_EQ(names(findPrintQueues()), L"Good;") << field;
        EXPECT_STREQ(upgradeState.selectedQueue.printerName, L"Good") << field;
    }
    // The longest names that fit are kept whole.
    resetFakeWorld();
    const std::wstring longest = tooLong.substr(1);
    const std::wstring longestPort = longPort.substr(0, nameCapacity - 1);
    fakeWorld.queues = {queue(longest.c_str(), longestPort.c_str(), longest.c_str())};
    std::vector<PrintQueueRecord> found = findPrintQueues();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(std::wstring(found[0].printerName), longest);
    EXPECT_EQ(std::wstring(found[0].portName), longestPort);
    EXPECT_EQ(std::wstring(found[0].shareName), longest);
}

}  // namespace
