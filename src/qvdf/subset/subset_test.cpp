// Tests of CreateSubset over a real master table: what the new table holds
// after a complete subset file, and every rejection with its messages and
// the code its abort message carries.
#include "qvdf/subset/subset.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "qvdf/subset/subset_test_util.h"
#include "qvdf/subset/subsetfile.h"

namespace {

using namespace subset_test;

class CreateSubsetTest : public TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    BuildMaster(Path("master.tbl"), &src_);
    ASSERT_EQ(CreateTable(Path("new.tbl").c_str()), 0);
    ASSERT_EQ(OpenTable(Path("new.tbl").c_str(), &dst_, 1), 0);
    Messages().clear();
  }
  void TearDown() override {
    CloseTable(&dst_);
    CloseTable(&src_);
    TempDirTest::TearDown();
  }
  int Run(const std::string& subsetText) {
    return CreateSubset(&src_, &dst_, WriteFile("s.sub", subsetText).c_str(), Collect);
  }

  TableDb src_;
  TableDb dst_;
};

const char kHeader[] = "MAIN_CLASS=4\r\nMAIN_SYSTEM=7\r\n";
const std::string kSys = std::string(kHeader) + "COUNT=1\r\nSYSTEM=5,0,0,X\r\n";

TEST_F(CreateSubsetTest, CompleteFileBuildsTheSubsetTable) {
  ASSERT_EQ(Run("# Product build\r\n"
                "MAIN_CLASS=4\r\n"
                "MAIN_SYSTEM=7\r\n"
                "; ids in hex\r\n"
                "PRODUCT_ID=0x1234\r\n"
                "BUNDLED=1\r\n"
                "\r\n"
                "COUNT=2\r\n"
                "SYSTEM=5,0x0100,0x0002,NEWORG,2,3,4,5,7\r\n"
                "# mail keeps its translator\r\n"
                "SYSTEM=7,256,0x80000000,\r\n"
                "ALIASES=2\r\n"
                "ALIAS=5,Org Alias\r\n"
                "ALIAS=7,Mail Alias,ignored\r\n"),
            0);
  EXPECT_TRUE(IsTableOpen(&dst_));
  EXPECT_FALSE(SubsetInputOpen());

  EXPECT_EQ(SystemIds(&dst_), (std::vector<int>{1, 5, 7}));
  auto org = ReadSystemRecord(&dst_, 5);
  ASSERT_EQ(org.size(), static_cast<size_t>(SystemRecordSize(2)));
  auto* s5 = reinterpret_cast<SystemRecord*>(org.data());
  EXPECT_EQ(s5->dwAttributes, 0x101u);
  EXPECT_STREQ(s5->szTranslator, "NEWORG");
  EXPECT_STREQ(s5->szName, "Organizer");
  ASSERT_EQ(s5->nSections, 2);
  EXPECT_EQ(SystemSections(s5)[0].nSectionID, 1);
  EXPECT_EQ(SystemSections(s5)[1].nSectionID, 6);
  std::vector<int16_t> flags(s5->anSectionFlags, s5->anSectionFlags + 10);
  EXPECT_EQ(flags, (std::vector<int16_t>{1, 0, 0, 0, 0, 1, 0, 0, 0, 0}));

  auto mail = ReadSystemRecord(&dst_, 7);
  ASSERT_FALSE(mail.empty());
  auto* s7 = reinterpret_cast<SystemRecord*>(mail.data());
  EXPECT_EQ(s7->dwAttributes, 0x101u);  // bit 31 cleared, bit 8 set
  EXPECT_STREQ(s7->szTranslator, "MAILDLL");
  EXPECT_EQ(s7->nSections, 2);
  EXPECT_EQ(ReadSystemRecord(&dst_, 1), ReadSystemRecord(&src_, 1));

  // Lists of kept sections, then the aliases in the first free IDs.
  EXPECT_EQ(FieldListIds(&dst_), (std::vector<int>{0, 1, 2, 3, 4, 5}));
  struct Alias {
    int id, app;
    const char* name;
  };
  for (Alias a : {Alias{2, 5, "Org Alias"}, Alias{4, 7, "Mail Alias"}}) {
    EXPECT_EQ(GetFieldListSize(&dst_, a.id), kFieldListFixedSize);
    std::vector<unsigned char> buf(kFieldListReportedSize, 0xEE);
    ASSERT_EQ(ReadFieldList(&dst_, a.id, buf.data(), kFieldListFixedSize), 0);
    std::vector<unsigned char> want(kFieldListFixedSize, 0);
    auto* w = reinterpret_cast<FieldListRecord*>(want.data());
    w->nAppID = static_cast<uint16_t>(a.app);
    std::strcpy(w->szName, a.name);
    EXPECT_EQ(std::vector<unsigned char>(buf.begin(), buf.begin() + kFieldListFixedSize), want);
  }
  EXPECT_EQ(GetFieldListApp(&dst_, 5), 5);  // the groups list of a kept section

  EXPECT_EQ(FieldMapIds(&dst_), (std::vector<int>{1, 2, 4}));
  EXPECT_EQ(CharMapIds(&dst_), (std::vector<int>{1, 2, 3, 4}));
  EXPECT_EQ(GetMainClass(&dst_), 4);
  EXPECT_EQ(GetMainSystem(&dst_), 7);
  EXPECT_EQ(GetProductID(&dst_), 0x1234u);
  EXPECT_EQ(GetBundledFlag(&dst_), 1);

  EXPECT_EQ(MessagesFrom(80),
            (std::vector<Message>{{80, "Missing system DLL name. Using old name."}}));
  std::vector<Message> mine;
  for (const Message& m : Messages())
    if (m.text.rfind("Main", 0) == 0 || m.text.rfind("Product", 0) == 0 ||
        m.text.rfind("CreateSubset", 0) == 0)
      mine.push_back(m);
  EXPECT_EQ(mine, (std::vector<Message>{{60, "Main System Class is 4"},
                                        {60, "Main System ID is 7"},
                                        {60, "Product ID is 4660 (bundled)"},
                                        {40, "CreateSubset Processing completed successfully"}}));
  // The source is untouched.
  EXPECT_EQ(SystemIds(&src_), (std::vector<int>{1, 5, 7, 9}));
  EXPECT_EQ(GetMainSystem(&src_), 5);
}

TEST_F(CreateSubsetTest, OptionalValuesDefaultToZeroAndTheFileMayEndAfterTheSystems) {
  ASSERT_EQ(Run("MAIN_CLASS=2\nMAIN_SYSTEM=9\nCOUNT=1\nSYSTEM=9,0,0,X\n"), 0);
  EXPECT_TRUE(HasMessage(60, "Product ID is 0 (not bundled)"));
  EXPECT_EQ(GetProductID(&dst_), 0u);
  EXPECT_EQ(GetBundledFlag(&dst_), 0);
  EXPECT_EQ(GetMainClass(&dst_), 2);
  // The generic system comes along unnamed; maps need both their systems.
  EXPECT_EQ(SystemIds(&dst_), (std::vector<int>{1, 9}));
  EXPECT_EQ(FieldListIds(&dst_), (std::vector<int>{0, 4}));
  EXPECT_EQ(FieldMapIds(&dst_), (std::vector<int>{3}));
  EXPECT_EQ(CharMapIds(&dst_), (std::vector<int>{1}));
  auto rec = ReadSystemRecord(&dst_, 9);
  ASSERT_FALSE(rec.empty());
  EXPECT_STREQ(reinterpret_cast<SystemRecord*>(rec.data())->szTranslator, "X");
}

TEST_F(CreateSubsetTest, OctalBitsAndTheSectionListRules) {
  // A field of ten characters is passed over; the list ends at an empty field.
  ASSERT_EQ(Run(std::string(kHeader) + "COUNT=1\nSYSTEM=5,010,01,,1234567890,2,,3\n"), 0);
  auto rec = ReadSystemRecord(&dst_, 5);
  ASSERT_FALSE(rec.empty());
  auto* s = reinterpret_cast<SystemRecord*>(rec.data());
  EXPECT_EQ(s->dwAttributes, 0xAu);  // (0x3 | 010) & ~01
  ASSERT_EQ(s->nSections, 6);
  std::vector<int> ids;
  for (int i = 0; i < s->nSections; ++i) ids.push_back(SystemSections(s)[i].nSectionID);
  EXPECT_EQ(ids, (std::vector<int>{1, 3, 4, 5, 6, 7}));
  EXPECT_STREQ(s->szTranslator, "ORGDLL");
}

TEST_F(CreateSubsetTest, TwentySectionIdsAreTakenTwentyOneRefused) {
  std::vector<SectionSpec> sections;
  for (int i = 1; i <= 21; ++i) sections.push_back({i, i % 10, "S"});
  auto rec = MakeSystem(11, "Wide", "W", 0, 0, 0, sections);
  ASSERT_EQ(AddSystem(&src_, 11, reinterpret_cast<SystemRecord*>(rec.data())), 0);
  std::string twenty;
  for (int i = 1; i <= 20; ++i) twenty += "," + std::to_string(i);
  ASSERT_EQ(Run(std::string(kHeader) + "COUNT=1\nSYSTEM=11,0,0,W" + twenty + "\n"), 0);
  auto kept = ReadSystemRecord(&dst_, 11);
  ASSERT_FALSE(kept.empty());
  auto* s = reinterpret_cast<SystemRecord*>(kept.data());
  ASSERT_EQ(s->nSections, 1);
  EXPECT_EQ(SystemSections(s)[0].nSectionID, 21);

  ASSERT_EQ(CloseTable(&dst_), 0);
  ASSERT_EQ(CreateTable(Path("new2.tbl").c_str()), 0);
  ASSERT_EQ(OpenTable(Path("new2.tbl").c_str(), &dst_, 1), 0);
  Messages().clear();
  EXPECT_EQ(Run(std::string(kHeader) + "COUNT=1\nSYSTEM=11,0,0,W" + twenty + ",21\n"), -1);
  EXPECT_EQ(MessagesFrom(100),
            (std::vector<Message>{{100, "***ERROR: Too many section IDs"},
                                  {100, "Processing aborted due to error code 0"}}));
}

TEST_F(CreateSubsetTest, LongAliasNameIsCutWithAWarning) {
  std::string name(70, 'n');
  ASSERT_EQ(
      Run(std::string(kHeader) + "COUNT=1\nSYSTEM=7,0,0,M\nALIASES=1\nALIAS=7," + name + "\n"), 0);
  EXPECT_EQ(MessagesFrom(80), (std::vector<Message>{{80, "***WARNING: ALIAS name truncated"}}));
  std::vector<unsigned char> buf(kFieldListFixedSize);
  // Lists 0 (generic) and 3 (mail) came along: the alias takes ID 1.
  EXPECT_EQ(FieldListIds(&dst_), (std::vector<int>{0, 1, 3}));
  ASSERT_EQ(ReadFieldList(&dst_, 1, buf.data(), kFieldListFixedSize), 0);
  auto* r = reinterpret_cast<FieldListRecord*>(buf.data());
  EXPECT_EQ(std::string(r->szName), std::string(64, 'n'));
  EXPECT_EQ(r->nAppID, 7);
}

TEST_F(CreateSubsetTest, NegativeCountsNameNoRecords) {
  ASSERT_EQ(Run(std::string(kHeader) + "COUNT=-2\r\n"), 0);
  EXPECT_EQ(SystemIds(&dst_), (std::vector<int>{1}));
  EXPECT_EQ(FieldListIds(&dst_), (std::vector<int>{0}));

  ASSERT_EQ(CloseTable(&dst_), 0);
  ASSERT_EQ(CreateTable(Path("new2.tbl").c_str()), 0);
  ASSERT_EQ(OpenTable(Path("new2.tbl").c_str(), &dst_, 1), 0);
  // No alias is read; what follows the ALIASES record is not looked at.
  ASSERT_EQ(Run(kSys + "ALIASES=-1\r\nALIAS=5,A\r\n"), 0);
  EXPECT_EQ(SystemIds(&dst_), (std::vector<int>{1, 5}));
  EXPECT_EQ(FieldListIds(&dst_), (std::vector<int>{0, 1, 2, 5}));
  EXPECT_EQ(GetMainSystem(&dst_), 7);
}

TEST_F(CreateSubsetTest, SourceWithoutTheGenericSystem) {
  ASSERT_EQ(DeleteSystemAll(&src_, 1), 0);
  ASSERT_EQ(Run(std::string(kHeader) + "COUNT=1\nSYSTEM=9,0,0,X\n"), 0);
  EXPECT_EQ(SystemIds(&dst_), (std::vector<int>{9}));
  EXPECT_EQ(FieldMapIds(&dst_), (std::vector<int>{}));
}

struct Rejection {
  const char* what;
  std::string text;
  std::vector<std::string> errors;  // level-100 messages before the abort
  int code;                         // carried by the abort message
};

class RejectionTest : public CreateSubsetTest, public ::testing::WithParamInterface<Rejection> {};

TEST_P(RejectionTest, AbortsWithItsMessageAndLeavesTheSourceAlone) {
  const Rejection& r = GetParam();
  EXPECT_EQ(Run(r.text), -1);
  std::vector<Message> want;
  for (const std::string& e : r.errors) want.push_back({100, e});
  want.push_back({100, "Processing aborted due to error code " + std::to_string(r.code)});
  EXPECT_EQ(MessagesFrom(100), want);
  EXPECT_FALSE(IsTableOpen(&dst_));
  EXPECT_FALSE(SubsetInputOpen());
  EXPECT_EQ(SystemIds(&src_), (std::vector<int>{1, 5, 7, 9}));
  EXPECT_EQ(GetMainClass(&src_), 3);
}

INSTANTIATE_TEST_SUITE_P(
    Records, RejectionTest,
    ::testing::Values(Rejection{"EmptyFile", "", {"***ERROR: Expected MAIN_CLASS record"}, 2},
                      Rejection{"NoMainClass",
                                "MAIN_SYSTEM=1\r\nCOUNT=1\r\n",
                                {"***ERROR: Expected MAIN_CLASS record"},
                                1},
                      Rejection{"NoMainSystem",
                                "MAIN_CLASS=1\r\nCOUNT=1\r\n",
                                {"***ERROR: Expected MAIN_SYSTEM record"},
                                1},
                      Rejection{"NoCount",
                                std::string(kHeader) + "SYSTEM=5,0,0,X\r\n",
                                {"***ERROR: Expected COUNT record"},
                                1},
                      Rejection{"CountZero",
                                std::string(kHeader) + "COUNT=0\r\nSYSTEM=5,0,0,X\r\n",
                                {"***ERROR: Invalid COUNT record"},
                                0},
                      // Only 0 is refused: a negative count names no
                      // SYSTEM record, so the one that follows is extra.
                      Rejection{"CountNegative",
                                std::string(kHeader) + "COUNT=-2\r\nSYSTEM=5,0,0,X\r\n",
                                {"***ERROR: Expected ALIASES record"},
                                1},
                      Rejection{"TooFewSystems",
                                std::string(kHeader) + "COUNT=2\r\nSYSTEM=5,0,0,X\r\n",
                                {"***ERROR: Expected SYSTEM record"},
                                2},
                      Rejection{"SystemNotNext",
                                std::string(kHeader) + "COUNT=1\r\nALIASES=1\r\n",
                                {"***ERROR: Expected SYSTEM record"},
                                1},
                      Rejection{"MissingId",
                                std::string(kHeader) + "COUNT=1\r\nSYSTEM=,0,0,X\r\n",
                                {"***ERROR: Missing system ID"},
                                0},
                      Rejection{"ZeroId",
                                std::string(kHeader) + "COUNT=1\r\nSYSTEM=0,0,0,X\r\n",
                                {"***ERROR: Invalid system ID"},
                                0},
                      Rejection{"MissingAdd",
                                std::string(kHeader) + "COUNT=1\r\nSYSTEM=5,,0,X\r\n",
                                {"***ERROR: Missing ADD attributes"},
                                0},
                      Rejection{"OnlyId",
                                std::string(kHeader) + "COUNT=1\r\nSYSTEM=5\r\n",
                                {"***ERROR: Missing ADD attributes"},
                                0},
                      Rejection{"MissingRemove",
                                std::string(kHeader) + "COUNT=1\r\nSYSTEM=5,0,,X\r\n",
                                {"***ERROR: Missing REMOVE attributes"},
                                0},
                      Rejection{"AbsentSystem",
                                std::string(kHeader) + "COUNT=1\r\nSYSTEM=6,0,0,X\r\n",
                                {"***ERROR: Unable to copy system record"},
                                13},
                      Rejection{"AbsentSection",
                                std::string(kHeader) + "COUNT=1\r\nSYSTEM=5,0,0,X,42\r\n",
                                {"***ERROR: Unable to copy system record"},
                                51},
                      Rejection{"OtherRecordAfterSystems",
                                kSys + "COUNT=3\r\n",
                                {"***ERROR: Expected ALIASES record"},
                                1},
                      Rejection{"AliasesZero",
                                kSys + "ALIASES=0\r\nALIAS=5,A\r\n",
                                {"***ERROR: Invalid ALIASES record"},
                                0},
                      Rejection{"TooFewAliases",
                                kSys + "ALIASES=2\r\nALIAS=5,A\r\n",
                                {"***ERROR: Expected ALIAS record"},
                                2},
                      Rejection{"AliasNotNext",
                                kSys + "ALIASES=1\r\nSYSTEM=5,0,0,X\r\n",
                                {"***ERROR: Expected ALIAS record"},
                                1},
                      Rejection{"AliasMissingId",
                                kSys + "ALIASES=1\r\nALIAS=,A\r\n",
                                {"***ERROR: Missing ALIAS system ID"},
                                0},
                      Rejection{"AliasZeroId",
                                kSys + "ALIASES=1\r\nALIAS=0,A\r\n",
                                {"***ERROR: Invalid ALIAS system ID"},
                                0},
                      Rejection{"AliasOfADroppedSystem",
                                kSys + "ALIASES=1\r\nALIAS=9,Sheets\r\n",
                                {"***ERROR: Invalid ALIAS system ID"},
                                0},
                      Rejection{"AliasNoName",
                                kSys + "ALIASES=1\r\nALIAS=5\r\n",
                                {"***ERROR: Missing ALIAS name"},
                                0},
                      Rejection{"AliasEmptyName",
                                kSys + "ALIASES=1\r\nALIAS=5,,A\r\n",
                                {"***ERROR: Missing ALIAS name"},
                                0},
                      Rejection{"LineTooLong",
                                std::string(kHeader) + "COUNT=" + std::string(66000, '1') + "\n",
                                {"***ERROR: Line too long"},
                                -1}),
    [](const ::testing::TestParamInfo<Rejection>& info) { return info.param.what; });

TEST_F(CreateSubsetTest, MissingFileAbortsWithNotFound) {
  std::string name = Path("absent.sub");
  EXPECT_EQ(CreateSubset(&src_, &dst_, name.c_str(), Collect), -1);
  EXPECT_EQ(Messages(), (std::vector<Message>{{100, "Subset File " + name + " not found."},
                                              {100, "Processing aborted due to error code 9"}}));
  EXPECT_FALSE(IsTableOpen(&dst_));
}

TEST_F(CreateSubsetTest, ReadOnlyTargetFailsAtTheFirstCopy) {
  CloseTable(&dst_);
  ASSERT_EQ(OpenTable(Path("new.tbl").c_str(), &dst_, 0), 0);
  EXPECT_EQ(Run(kSys), -1);
  EXPECT_EQ(MessagesFrom(100),
            (std::vector<Message>{{100, "***ERROR: Unable to copy generic system record"},
                                  {100, "Processing aborted due to error code 17"}}));
}

}  // namespace
