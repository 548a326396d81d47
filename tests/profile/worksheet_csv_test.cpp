#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "profile/worksheet_csv.h"
#include "profile_fixtures.h"

namespace tarvel::profile {
namespace {

using tarvel::testing::KilnTable;
using tarvel::testing::MakeTable;
using ::testing::HasSubstr;

TEST(WorksheetCsv, ExportQuotesOnlyWhatNeedsItAndReadsBackTheSameTable) {
  ProfileTable table = KilnTable();
  table.at(3, kCommand) = "say \"hi\", then J1=off";
  EXPECT_EQ(TableToCsv(table),
            "Seg,Start Time,Duration,Action,Start Temp,End Temp,Ramp Rate,Error Limits,Command,\"Notify t,T\"\n"
            "1,0.00,60,r,70,250,3.00,10,\"C=2 J1=on  \",t=30\n"
            "2,60.00,120,h,250,250,0,10,Hold at 250\xB0"
            "F,\n"
            "3,180.00,30,r,250,100,-5.00,20,\"say \"\"hi\"\", then J1=off\",T=450\n"
            "4,210.00,,e,100,,,,,\n");
  auto back = TableFromCsv(TableToCsv(table));
  ASSERT_TRUE(back.ok()) << back.status().message();
  EXPECT_EQ(*back, table);
}

TEST(WorksheetCsv, ReadsWhatSpreadsheetsWrite) {
  std::string csv =
      "\xEF\xBB\xBF"
      "1, 0.00 ,60,r,70,250,3.00,10,\"C=2, J1=on\"\r\n"
      ",60.00,30,h,250,250,0\r\n"
      "3,90.00,,e,250,,,,,,,\r\n"
      ",,,,,,,,,\r\n"
      ",,,,,,,,,\r\n";
  auto table = TableFromCsv(csv);
  ASSERT_TRUE(table.ok()) << table.status().message();
  EXPECT_EQ(*table, MakeTable({
                        {"1", "0.00", "60", "r", "70", "250", "3.00", "10", "C=2, J1=on", ""},
                        {"2", "60.00", "30", "h", "250", "250", "0", "", "", ""},
                        {"3", "90.00", "", "e", "250", "", "", "", "", ""},
                    }));
}

TEST(WorksheetCsv, RefusesWhatCannotBeAWorksheetAndSaysWhere) {
  std::string header = "Seg,Start Time,Duration,Action,Start Temp,End Temp,Ramp Rate,Error Limits,Command,Notify\n";
  std::string rows256;
  for (int r = 1; r <= 256; ++r) rows256 += std::to_string(r) + ",0\n";
  struct Case {
    std::string csv;
    const char* message;
  } cases[] = {
      {header + "1,0,60,r,70,250,3,,\"C=1\n", "line 2: a quoted cell is not closed"},
      {header + "1,0,60,r,70,250,3,,\"C=1\"x,\n", "line 2: text after the closing quote"},
      {header + "1,0,60,r,70,250,3,,,,extra\n", "line 2: 11 cells; a worksheet row has 10"},
      {header + "1,0\n3,0\n", "line 3: Seg is \"3\" where row 2 is expected"},
      {header + "1,0,60,r,70,250,3,,\"C=1\nJ1=on\"\n", "line 2: the Command cell holds a line break"},
      {rows256, "line 256: more than 255 rows"},
  };
  for (const auto& c : cases) {
    auto table = TableFromCsv(c.csv);
    EXPECT_FALSE(table.ok()) << c.csv;
    EXPECT_THAT(table.status().message(), HasSubstr(c.message));
  }
}

}  // namespace
}  // namespace tarvel::profile
