#include "identify/catalogue.h"
#include "tests/doubles/fresh_run.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <set>
#include <string>

namespace {

class Catalogue : public ::testing::Test {
protected:
    void SetUp() override
    {
        startFreshRun();
    }
};

TEST_F(Catalogue, HoldsFourteenFamiliesWithFortyEightProductNumbers)
{
    ASSERT_EQ(modelCatalogue.size(), 14u);
    size_t numbers = 0;
    for (const ModelFamily &family : modelCatalogue) {
        numbers += family.productNumbers.size();
        EXPECT_FALSE(family.productNumbers.empty()) << family.displayName;
        for (const WCHAR *number : family.productNumbers)
            EXPECT_EQ(std::wcslen(number), 6u) << number;
        // The queue-style name is the display name with underscores.
        std::wstring expected = family.displayName;
        for (WCHAR &c : expected)
            if (c == L' ')
                c = L'_';
        EXPECT_EQ(expected, family.queueStyleName);
    }
    EXPECT_EQ(numbers, 48u);

    EXPECT_STREQ(modelCatalogue.front().displayName, L"Tarnell Vellumax 350");
    EXPECT_STREQ(modelCatalogue.back().displayName, L"Vellumax 650PS");
    EXPECT_EQ(modelCatalogue[3].firmwareKind, FirmwarePlotLanguage);
    EXPECT_EQ(modelCatalogue[12].firmwareKind, FirmwareDiskStaged);
}

TEST_F(Catalogue, RepeatsBaseProductNumbersOnlyInThePlotLanguageTwins)
{
    // Family 11 repeats family 1, 12 repeats 2, 9 repeats 3; every other
    // number belongs to one family.
    auto numbersOf = [](size_t index) {
        return std::vector<std::wstring>(modelCatalogue[index].productNumbers.begin(),
                                         modelCatalogue[index].productNumbers.end());
    };
    EXPECT_EQ(numbersOf(0), numbersOf(10));
    EXPECT_EQ(numbersOf(1), numbersOf(11));
    EXPECT_EQ(numbersOf(2), numbersOf(8));
    std::set<std::wstring> distinct;
    for (const ModelFamily &family : modelCatalogue)
        distinct.insert(family.productNumbers.begin(), family.productNumbers.end());
    EXPECT_EQ(distinct.size(), 48u - 8 - 4 - 2);
}

TEST_F(Catalogue, CopiedFamilyOwnsItsProductList)
{
    ModelFamily copy = modelCatalogue[0];
    copy.productNumbers.clear();
    EXPECT_EQ(modelCatalogue[0].productNumbers.size(), 8u);
    EXPECT_EQ(copy.displayName, modelCatalogue[0].displayName);
}

struct WorkedExample {
    const WCHAR *model;
    FirmwareKind kind;
    int result;
};

class MatchingExamples : public Catalogue, public ::testing::WithParamInterface<WorkedExample> {};

TEST_P(MatchingExamples, GiveTheFirmwareKindOfTheLastMatchingFamily)
{
    const WorkedExample &example = GetParam();
    upgradeState.firmwareKind = FirmwareNone;
    EXPECT_EQ(matchModelFamily(example.model), example.result) << example.model;
    EXPECT_EQ(upgradeState.firmwareKind, example.kind) << example.model;
}

INSTANTIATE_TEST_SUITE_P(
    Catalogue, MatchingExamples,
    ::testing::Values(WorkedExample{L"Tarnell Vellumax 350", FirmwareStandard, 1},
                      WorkedExample{L"Tarnell Vellumax 350ps", FirmwareStandard, 1},
                      WorkedExample{L"Tarnell Vellumax 350 mono", FirmwareStandard, 1},
                      WorkedExample{L"Tarnell Vellumax 350 plus", FirmwarePlotLanguage, 1},
                      WorkedExample{L"Tarnell Vellumax 350ps plus", FirmwarePlotLanguage, 1},
                      WorkedExample{L"Tarnell Vellumax 350+KPLOT", FirmwarePlotLanguage, 1},
                      WorkedExample{L"Tarnell Vellumax 350 mono+KPLOT", FirmwarePlotLanguage, 1},
                      WorkedExample{L"Tarnell Vellumax 355ps 42in Printer", FirmwarePlotLanguage, 1},
                      WorkedExample{L"Tarnell Vellumax 650PS", FirmwareDiskStaged, 1},
                      WorkedExample{L"Tarnell Vellumax 650ps", FirmwareDiskStaged, 1},
                      WorkedExample{L"Tarnell Vellumax 650 KPLOT", FirmwareDiskStaged, 1},
                      WorkedExample{L"R2471A", FirmwareDiskStaged, 1},
                      WorkedExample{L"R2471A KPLOT", FirmwarePlotLanguage, 1},
                      WorkedExample{L"R2461A", FirmwarePlotLanguage, 1},
                      WorkedExample{L"R2461E", FirmwarePlotLanguage, 1},
                      WorkedExample{L"", FirmwareNone, 0},
                      // Containment: other text around a name or number.
                      WorkedExample{L"MFG:Tarnell;MDL:Tarnell Vellumax 355 24in Printer;CLS:PRINTER",
                                    FirmwarePlotLanguage, 1},
                      WorkedExample{L"xxRK515Axx", FirmwarePlotLanguage, 1},
                      WorkedExample{L"Plotter R2472M rev 2", FirmwareDiskStaged, 1},
                      // Case is significant, for names and numbers alike.
                      WorkedExample{L"tarnell vellumax 350", FirmwareNone, 0},
                      WorkedExample{L"r2471a", FirmwareNone, 0},
                      WorkedExample{L"Vellumax 35", FirmwareNone, 0}));

TEST_F(Catalogue, NoMatchLeavesThePreviousKind)
{
    upgradeState.firmwareKind = FirmwareDiskStaged;
    EXPECT_EQ(matchModelFamily(L"Some Other Plotter"), 0);
    EXPECT_EQ(upgradeState.firmwareKind, FirmwareDiskStaged);
    EXPECT_EQ(matchModelFamily(nullptr), 0);
    EXPECT_EQ(upgradeState.firmwareKind, FirmwareDiskStaged);
}

TEST_F(Catalogue, UpperCasePsDoesNotMatchTheLowerCaseFamilyByName)
{
    // "Tarnell Vellumax 350PS" contains family 1's name but not family 2's.
    EXPECT_EQ(matchModelFamily(L"Tarnell Vellumax 350PS"), 1);
    EXPECT_EQ(upgradeState.firmwareKind, FirmwareStandard);
}

TEST_F(Catalogue, PlotLanguageOverrideNeedsAProductNumberMatch)
{
    EXPECT_EQ(matchModelFamily(L"Vellumax 650 with KPLOT"), 1);
    EXPECT_EQ(upgradeState.firmwareKind, FirmwareDiskStaged);

    EXPECT_EQ(matchModelFamily(L"KPLOT alone"), 0);
    EXPECT_EQ(upgradeState.firmwareKind, FirmwareDiskStaged);

    // A name match of a later family after a number match with KPLOT: the
    // later family's own kind stands.
    EXPECT_EQ(matchModelFamily(L"R2461A KPLOT Vellumax 650"), 1);
    EXPECT_EQ(upgradeState.firmwareKind, FirmwareDiskStaged);
}

TEST_F(Catalogue, SeveralRecordsInOnePassEndOnTheLastMatchingOne)
{
    EXPECT_EQ(matchModelFamily(L"Tarnell Vellumax 650"), 1);
    EXPECT_EQ(matchModelFamily(L"Unknown device"), 0);
    EXPECT_EQ(upgradeState.firmwareKind, FirmwareDiskStaged);
    EXPECT_EQ(matchModelFamily(L"Tarnell Vellumax 350"), 1);
    EXPECT_EQ(upgradeState.firmwareKind, FirmwareStandard);
}

TEST(UpgradeStateStart, HoldsTheInitialValues)
{
    UpgradeState fresh;
    EXPECT_STREQ(fresh.portName, L"USB001");
    EXPECT_STREQ(fresh.computerName, L"");
    EXPECT_STREQ(fresh.targetShareName, L"");
    EXPECT_EQ(fresh.firmwareKind, FirmwareNone);
    EXPECT_EQ(fresh.phase, PhaseCreated);
    EXPECT_EQ(fresh.sharedByTool, 0);
    EXPECT_EQ(fresh.upgradeFinished, 0);
    EXPECT_TRUE(fresh.foundQueues.empty());
    EXPECT_EQ(fresh.selectedQueue.isShared, 0);
    EXPECT_STREQ(fresh.selectedQueue.printerName, L"");
    EXPECT_EQ(fresh.mainDialog, nullptr);
}

TEST(UpgradeStateStart, RestoreIsDueOnlyForSharingTheToolAdded)
{
    struct Case {
        int isShared;
        int sharedByTool;
        bool due;
    } cases[] = {{0, 0, false}, {0, 1, true}, {8, 0, false}, {8, 1, false}};
    for (const Case &c : cases) {
        upgradeState = UpgradeState{};
        upgradeState.selectedQueue.isShared = c.isShared;
        upgradeState.sharedByTool = c.sharedByTool;
        EXPECT_EQ(restoreDue(), c.due) << c.isShared << "/" << c.sharedByTool;
    }
    upgradeState = UpgradeState{};
}

}  // namespace
