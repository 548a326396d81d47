// Compiling a profile, uploading it with its read-back compared, the profile log, and the
// memory map's download and clear: on the simulator, checked in its registers and in the rows.
#include <gmock/gmock.h>

#include "support/console_fixture.h"
#include "support/profiles.h"

namespace tarvel::console {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using Row = testing::ProfileRow;
using testing::TableOf;

std::vector<link::ProgramStep> Steps(std::vector<std::array<int, 3>> words) {
  std::vector<link::ProgramStep> steps;
  for (auto [pid, time, temp] : words) steps.push_back({pid, time, temp});
  return steps;
}

TEST(CompileProfile, EveryRowIsAStepWithItsEventStepsAndNumbersRoundHalfToEven) {
  const auto table = TableOf({Row{"1", "0", "1.5", "r", "100", "200", "", "", "C=3 J1=on", ""},
                              Row{"2", "", "2.5", "r", "200", "300", "", "", "J1=off J2=on", ""},
                              Row{"3", "", "10", "h", "300", "300", "", "", "J1=ON", ""},
                              Row{"4", "", "", "e", "250", "", "", "", "J2=off", ""}});
  profile::ProfileSettings minutes;
  auto program = StepsOfProfile(table, minutes, 10);
  EXPECT_EQ(program.steps, Steps({{3, 2, 100},
                                  {3, -1011, 200},
                                  {1, 2, 200},
                                  {1, -1010, 300},
                                  {1, -1021, 300},
                                  {1, 10, 300},
                                  {1, 0, 250},
                                  {1, -1020, 250}}));
  EXPECT_EQ(program.LastStep(), 17);
  EXPECT_FALSE(program.truncated);

  profile::ProfileSettings hours;
  hours.timeScale = profile::TimeScale::Hours;
  program = StepsOfProfile(table, hours, 1);
  EXPECT_EQ(program.steps[0].duration, 90) << "1.5 h are 90 minutes";
  EXPECT_EQ(program.steps[2].duration, 150);
  EXPECT_EQ(program.steps[5].duration, 600);

  std::vector<Row> rows(40, Row{"", "", "5", "r", "100", "100", "", "", "J1=on", ""});
  program = StepsOfProfile(TableOf(rows), {}, 1);
  EXPECT_EQ(program.steps.size(), 64u) << "never more than the controller's steps";
  EXPECT_TRUE(program.truncated);
  EXPECT_EQ(program.steps.back(), (link::ProgramStep{1, -1011, 100})) << "row 32's event step is the 64th";
}

class Programming : public ConsoleFixture {
 protected:
  Programming() {
    Map(1, 1, "Kiln");
    Map(2, 2, "Oven");
    EXPECT_TRUE(testing::WriteCureProfile(File()));
  }
  std::filesystem::path File() const { return folder_.Profiles() / "cure.txt"; }
  const std::vector<link::ProgramStep> kCompiled = Steps({{1, 30, 70}, {2, 45, 250}, {1, 0, 250}});

  // Opens the profile and compiles it at start; the messages start afresh.
  Console& Compiled(const std::string& start) {
    Console& console = Started();
    EXPECT_TRUE(console.Program().OpenProfile(File()));
    console.Program().SetStartStepText(start);
    console.Program().BuildAndCheckTarget();
    return console;
  }
  // Controller 1 is known to keep both registers of a write and to refuse block reads, so that
  // the exchanges of an upload are the same each time: two words per write, two per read.
  UploadResult Upload(Console& console, const std::string& start) {
    EXPECT_TRUE(store_.SaveCapabilities({1, true, false, std::nullopt}));
    view_.messages.clear();
    sim_.ClearRequests();
    hooked_.exchanges = 0;
    return console.ProfileUpload().Run({"cure.txt", start, "SV"});
  }
  std::vector<store::LogRow> Log() { return store_.Log(1).value_or({}); }
  void FillHeld(int first, int last) {
    sim_.EditUnit(1, [=](sim::UnitState& u) {
      for (int s = first; s <= last; ++s) u.steps[s - 1] = {1, 9, 99};
    });
  }
};

TEST_F(Programming, TheCompiledTargetIsMarkedAndItsConflictsWithTheLogReported) {
  ASSERT_TRUE(store_.WriteLogEntry({1, "old.txt", 12, 20, "K", "F", "M", "SV"}));
  Console& console = Compiled("10");
  EXPECT_EQ(view_.fields[Field::CompileProfileName], "cure.txt");
  EXPECT_EQ(view_.fields[Field::CompiledProfileSensor], "K");
  EXPECT_EQ(view_.gridRows[Grid::CompiledProfile],
            (std::vector<std::vector<std::string>>{
                {"10", "30", "70", "1"}, {"11", "45", "250", "2"}, {"12", "0", "250", "1"}}));
  for (int row : {10, 11, 12}) EXPECT_EQ(view_.MarkAt(Grid::ProgramMemory, row), RowMark::ProgramRange);
  EXPECT_EQ(view_.MarkAt(Grid::ProgramMemory, 13), RowMark::None);
  EXPECT_THAT(view_.messages, HasSubstr("WARNING: Upload will overwrite program memory"));

  console.Program().SetStartStepText("9");
  console.Program().BuildAndCheckTarget();
  EXPECT_THAT(view_.messages, HasSubstr("No conflicts in controller program memory")) << "9..11 ends before 12";

  for (auto [text, message] :
       {std::pair{"0", "Start Address is out of range 1 - 64"}, std::pair{"65", "Start Address is out of range 1 - 64"},
        std::pair{"abc", "Error: START entry is not a number"}}) {
    console.Program().SetStartStepText(text);
    EXPECT_THAT(view_.messages, HasSubstr(message)) << text;
  }
  console.Program().SetStartStepText("64");
  EXPECT_EQ(view_.messages, "");
  EXPECT_FALSE(console.Program().OpenProfile(folder_.Profiles() / "missing.txt"));
  EXPECT_THAT(view_.messages, HasSubstr("Error: Unable to load profile"));
  EXPECT_EQ(view_.fields[Field::CompileProfileName], "cure.txt") << "the loaded profile stays";
}

TEST_F(Programming, AnUploadIsWrittenReadBackComparedAndOnlyThenLogged) {
  ASSERT_TRUE(store_.WriteLogEntry({1, "old.txt", 12, 20, "K", "F", "M", "SV"}));
  FillHeld(12, 20);
  Console& console = Compiled("10");
  auto result = Upload(console, "10");
  EXPECT_TRUE(result.logged) << view_.messages;
  EXPECT_THAT(view_.messages, HasSubstr("Read-back matches the compiled profile"));
  EXPECT_EQ(Held(10, 12), kCompiled);
  EXPECT_EQ(Held(13, 20), std::vector<link::ProgramStep>(8)) << "the overlapped profile is cleared";
  EXPECT_THAT(Log(), ElementsAre(::testing::Field(&store::LogRow::start, 10)));
  const auto logged = Log().at(0);
  EXPECT_EQ(std::tie(logged.profileName, logged.stop, logged.sensorType, logged.temperatureScaleType,
                     logged.timeScaleType, logged.progressionType),
            std::tuple("cure.txt", 12, "K", "F", "M", "SV"));
  // The memory map holds what the controller holds, for every step read.
  for (int s = 10; s <= 20; ++s) EXPECT_EQ(Mapped(s), Held(s, s)[0]) << s;

  // The same name again: Cancel changes nothing; OK clears the old copy and keeps one row.
  view_.confirmAnswers = {false};
  EXPECT_FALSE(Upload(console, "30").logged);
  EXPECT_EQ(sim_.Requests().size(), 1u) << "only the probe";
  EXPECT_EQ(view_.boxes.back().title, "Existing Profile: cure.txt");
  EXPECT_TRUE(Upload(console, "30").logged);
  EXPECT_EQ(Held(10, 12), std::vector<link::ProgramStep>(3));
  EXPECT_EQ(Held(30, 32), kCompiled);
  EXPECT_THAT(Log(), ElementsAre(::testing::Field(&store::LogRow::start, 30)));
}

// A read-back that fails leaves the map of the range as the clear of the old copy left it: it is
// read again, so that the map shows what the controller now holds.
TEST_F(Programming, AFailedReadBackIsReadAgainForTheMap) {
  ASSERT_TRUE(store_.WriteLogEntry({1, "old.txt", 11, 11, "K", "F", "M", "SV"}));
  FillHeld(11, 11);
  Console& console = Compiled("10");
  bool injected = false;
  hooked_.before = [&](int) {
    if (!injected && view_.messages.find("Downloading the segments just uploaded") != std::string::npos) {
      sim_.InjectFault(sim::Fault::NoReply);
      injected = true;
    }
  };
  EXPECT_FALSE(Upload(console, "10").logged);
  hooked_.before = nullptr;
  EXPECT_TRUE(injected);
  EXPECT_THAT(view_.messages, HasSubstr("ERROR: The read-back failed: steps 10 to 12 are not verified"));
  EXPECT_THAT(view_.messages,
              HasSubstr("Reading steps 10 to 12 again so that the memory map shows what the controller holds"));
  EXPECT_TRUE(Log().empty());
  for (int s = 10; s <= 12; ++s) EXPECT_EQ(Mapped(s), Held(s, s)[0]) << s;
}

TEST_F(Programming, ARefusedRangeClearsNothingAndLogsNothing) {
  ASSERT_TRUE(store_.WriteLogEntry({1, "old.txt", 60, 64, "K", "F", "M", "SV"}));
  FillHeld(60, 64);
  Console& console = Compiled("63");
  for (auto [start, message] :
       {std::pair{"63", "End address of compiled profile is out of range of controller memory 1 to 64"},
        std::pair{"abc", "ERROR: The start address you entered is not a number"},
        std::pair{"0", "Start address of compiled profile is out of range of controller memory 1 to 64"}}) {
    EXPECT_FALSE(Upload(console, start).logged);
    EXPECT_THAT(view_.messages, HasSubstr(message));
    EXPECT_EQ(sim_.Requests().size(), 1u) << "only the probe: " << start;
  }
  EXPECT_EQ(Log().size(), 1u);
  EXPECT_EQ(Held(60, 60)[0].duration, 9);
}

TEST_F(Programming, AnUploadThatFailsDiffersOrIsCancelledStopsAtOnceAndLogsNothing) {
  for (auto [fault, reason] :
       {std::pair{sim::Fault::NoReply, "no reply"}, std::pair{sim::Fault::Exception, "exception reply"}}) {
    Console& console = Compiled("10");
    // Exchange 1 is the probe; writes 2..6 take two words each: step 10 words 1-2, step 10
    // word 3 with step 11 word 1, step 11 words 2-3, ...
    hooked_.before = [this, fault = fault](int k) {
      if (k == 4) sim_.InjectFault(fault);
    };
    EXPECT_FALSE(Upload(console, "10").logged);
    hooked_.before = nullptr;
    EXPECT_THAT(view_.messages, HasSubstr(std::string("ERROR: Upload stopped at step 11 word 2 (") + reason +
                                          "); steps 10 to 11 may hold a partial program"));
    EXPECT_THAT(view_.messages, HasSubstr("ERROR: Profile not entered in log"));
    EXPECT_EQ(hooked_.exchanges, 4 + 3) << "no write after the failed one; steps 10 and 11 read again in pairs";
    EXPECT_EQ(store_.MemoryStep(1, 10).value_or(std::nullopt)->duration, 30) << "the map shows the new step 10";
    EXPECT_EQ(view_.LastLed(), Led::Error);
  }

  // A write that arrived although its reply was spoiled also set the word after it, word 1
  // of the next step: that step is read again too.
  Console& again = Compiled("10");
  hooked_.before = [this](int k) {
    if (k == 3) sim_.InjectFault(sim::Fault::WrongAddress);
  };  // step 10 word 3
  EXPECT_FALSE(Upload(again, "10").logged);
  hooked_.before = nullptr;
  EXPECT_THAT(view_.messages, HasSubstr("steps 10 to 11 may hold a partial program"));
  EXPECT_EQ(Mapped(11), Held(11, 11)[0]);
  EXPECT_EQ(Held(11, 11)[0].pidSet, 2) << "the both-register controller took it";

  // A read-back that differs is listed word by word.
  Console& console = Compiled("10");
  hooked_.onRead = [](std::uint16_t reg, std::uint16_t& value) {
    if (reg == link::ProgramStepRegister(11, 3)) value = 245;
  };
  EXPECT_FALSE(Upload(console, "10").logged);
  EXPECT_THAT(view_.messages, HasSubstr("1 words differ"));
  EXPECT_THAT(view_.messages, HasSubstr("Step 11 word 3: wrote 250, read 245"));
  EXPECT_THAT(view_.messages, Not(HasSubstr("Read-back matches")));
  hooked_.onRead = nullptr;

  // Cancel pressed while step 11's first word is on the line: that exchange ends, no other starts.
  hooked_.before = [&console](int k) {
    if (k == 3) console.Cancel();
  };
  EXPECT_FALSE(Upload(console, "10").logged);
  EXPECT_THAT(view_.messages,
              HasSubstr("Upload cancelled at step 11 word 2; steps 10 to 11 may hold a partial program"));
  EXPECT_EQ(sim_.Requests().size(), 3u);
  EXPECT_TRUE(Log().empty());
}

TEST_F(Programming, ADownloadStoresOnlyWholeRangesAndRefusesBadOnesBeforeReading) {
  Console& console = Started();
  sim_.ClearRequests();
  for (auto [first, last, message] : {std::tuple{"70", "6", "Entry must be a number in the range: 1 - 64"},
                                      std::tuple{"1", "abc", "Entry must be a number in the range: 1 - 64"},
                                      std::tuple{"10", "5", "ERROR: Low step must not be above the high step"}}) {
    console.Memory().DownloadMemory(first, last);
    EXPECT_THAT(view_.messages, HasSubstr(message)) << first << " " << last;
    EXPECT_THAT(view_.messages, Not(HasSubstr("downloaded"))) << first << " " << last;
  }
  EXPECT_TRUE(sim_.Requests().empty());

  sim_.EditUnit(1, [](sim::UnitState& u) {
    u.steps[4] = {2, 30, 150};
    u.steps[5] = {1, -3, 0};
  });
  console.Memory().DownloadMemory("5", "6");
  EXPECT_EQ(Mapped(5), (link::ProgramStep{2, 30, 150}));

  sim_.EditUnit(1, [](sim::UnitState& u) { u.steps[4] = {3, 3, 3}; });
  // Both registers of each read: step 5 words 1-2, step 5 word 3 with step 6 word 1, step 6 words 2-3.
  hooked_.before = [this](int k) {
    if (k == 3) sim_.InjectFault(sim::Fault::BadCrc);
  };
  hooked_.exchanges = 0;
  console.Memory().DownloadMemory("5", "6");
  EXPECT_EQ(Mapped(5), (link::ProgramStep{2, 30, 150})) << "a failed read stores nothing";
  EXPECT_THAT(view_.messages, HasSubstr("Reading stopped at step 6 word 2 (bad CRC); the memory map is unchanged"));

  hooked_.before = nullptr;
}

TEST_F(Programming, DeletingAnEntryOrClearingTheControllerZeroesItsStepsAndItsRows) {
  ASSERT_TRUE(store_.WriteLogEntry({1, "a.txt", 3, 4, "K", "F", "M", "SV"}));
  ASSERT_TRUE(store_.WriteLogEntry({1, "b.txt", 7, 8, "K", "F", "M", "SV"}));
  FillHeld(1, 10);
  Console& console = Started();
  view_.confirmAnswers = {false};
  console.Log().DeleteProfile(2);
  EXPECT_EQ(Log().size(), 2u) << "cancelled";
  console.Log().DeleteProfile(2);
  EXPECT_THAT(Log(), ElementsAre(::testing::Field(&store::LogRow::profileName, "a.txt")));
  EXPECT_EQ(Held(7, 8), std::vector<link::ProgramStep>(2));
  EXPECT_EQ(Held(3, 3)[0].duration, 9);
  EXPECT_EQ(store_.MemoryStep(1, 7).value_or(std::nullopt)->duration, 0);

  // A clear that fails stops at its first failed write and says what is left. The delete above
  // learnt that the controller keeps both registers: two words per write.
  EXPECT_EQ(store_.Capabilities(1).value_or(store::CapabilityRow{}).pairWrites, true);
  hooked_.exchanges = 0;
  hooked_.before = [this](int k) {
    if (k == 3) sim_.InjectFault(sim::Fault::NoReply);
  };
  EXPECT_FALSE(console.Memory().ClearProgramRange(1, 2));
  EXPECT_EQ(hooked_.exchanges, 3 + 3) << "no write after the failed one; steps 1 and 2 read again in pairs";
  EXPECT_THAT(view_.messages, HasSubstr("Clearing stopped at step 2 word 2 (no reply)"));
  hooked_.before = nullptr;

  console.Log().ClearProfileLog();
  EXPECT_TRUE(Log().empty());
  EXPECT_EQ(Held(1, 64), std::vector<link::ProgramStep>(64));
  auto config = store_.ControllerConfig(1).value_or(std::nullopt);
  ASSERT_TRUE(config);
  EXPECT_EQ(std::tie(config->profileNameExecuting, config->programLowAddress, config->programHighAddress),
            std::tuple("", 1, 2));
  view_.messages.clear();
  hooked_.before = [&console](int) { console.Cancel(); };  // the log part is all this one needs
  console.Log().ClearProfileLog();
  EXPECT_THAT(view_.messages, HasSubstr("RecordSet error")) << "an empty log";
}

TEST_F(Programming, TheCompiledProgramBelongsToTheProfileItNames) {
  Console& console = Compiled("50");
  ASSERT_EQ(view_.gridRows[Grid::CompiledProfile].size(), 3u);
  ASSERT_TRUE(testing::WriteCureProfile(folder_.Profiles() / "other.txt"));
  ASSERT_TRUE(console.Program().OpenProfile(folder_.Profiles() / "other.txt"));
  EXPECT_TRUE(view_.gridRows[Grid::CompiledProfile].empty()) << "the grid showed the steps of cure.txt";
  view_.messages.clear();
  sim_.ClearRequests();
  EXPECT_FALSE(console.ProfileUpload().Run({"other.txt", "50", "SV"}).logged);
  EXPECT_THAT(view_.messages, HasSubstr("Error: You have not yet compiled the profile"));
  EXPECT_LE(sim_.Requests().size(), 1u) << "the probe at most";
  EXPECT_TRUE(Log().empty());
  // Compiled for the open profile, but uploaded under another name: refused as well.
  console.Program().BuildAndCheckTarget();
  EXPECT_FALSE(Upload(console, "50").logged);
  EXPECT_THAT(view_.messages, HasSubstr("compiled for other.txt"));
  EXPECT_TRUE(Log().empty());
}

TEST_F(Programming, ADownloadKeepsTheStoredOriginalOfAStepAJumpChanged) {
  Console& console = Started();
  sim_.EditUnit(1, [](sim::UnitState& u) {
    u.steps[4] = {1, 30, 150};  // the jump's shortened copy
    u.steps[5] = {1, 10, 200};
  });
  ASSERT_TRUE(store_.WriteMemorySteps(1, {{1, 5, 120, 100, 1, 0}}));
  ASSERT_TRUE(store_.SetStepModified(1, 5, 1));
  console.Memory().DownloadMemory("5", "6");
  auto kept = store_.MemoryStep(1, 5).value_or(std::nullopt);
  ASSERT_TRUE(kept);
  EXPECT_EQ(std::tuple(kept->duration, kept->temperature, kept->modified), std::tuple(120, 100, 1));
  EXPECT_EQ(store_.MemoryStep(1, 6).value_or(std::nullopt)->duration, 10);
  EXPECT_THAT(view_.messages, HasSubstr("Step 5 keeps its stored original"));

  // An upload over that step makes the new words its own: nothing would put the old one back.
  console.Program().OpenProfile(File());
  console.Program().SetStartStepText("4");
  console.Program().BuildAndCheckTarget();
  ASSERT_TRUE(Upload(console, "4").logged) << view_.messages;
  auto written = store_.MemoryStep(1, 5).value_or(std::nullopt);
  EXPECT_EQ(std::tuple(written->duration, written->temperature, written->modified), std::tuple(45, 250, 0));
}

TEST_F(Programming, AnUploadCancelledAtAnyStageIsReportedAsACancel) {
  // Cancelled at the probe, while clearing an overlapped profile, while writing and while reading back.
  ASSERT_TRUE(store_.WriteLogEntry({1, "old.txt", 11, 11, "K", "F", "M", "SV"}));
  Console& console = Compiled("10");
  for (int cancelAt : {1, 3, 6, 10}) {  // the probe, the clear, a write, the read-back
    hooked_.before = [&console, cancelAt](int k) {
      if (k == cancelAt) console.Cancel();
    };
    EXPECT_FALSE(Upload(console, "10").logged) << cancelAt;
    EXPECT_THAT(view_.messages, HasSubstr("cancelled")) << cancelAt;
    EXPECT_THAT(view_.messages, Not(HasSubstr(kCommsError))) << cancelAt << "\n" << view_.messages;
    EXPECT_THAT(view_.messages, Not(HasSubstr(kCommError))) << cancelAt << "\n" << view_.messages;
  }
  hooked_.before = nullptr;
  EXPECT_THAT(view_.messages, HasSubstr("steps 10 to 12"));
}

TEST_F(Programming, CompileSaysWhenTheProgramPassesOrReachesStepSixtyFour) {
  Console& console = Compiled("63");
  EXPECT_THAT(view_.messages, HasSubstr("past step 64"));
  EXPECT_THAT(view_.messages, Not(HasSubstr("No conflicts")));
  console.Program().SetStartStepText("65");
  console.Program().BuildAndCheckTarget();
  EXPECT_THAT(view_.messages, HasSubstr("Start Address is out of range 1 - 64"));
  EXPECT_THAT(view_.messages, Not(HasSubstr("No conflicts")));
  console.Program().SetStartStepText("62");
  console.Program().BuildAndCheckTarget();
  EXPECT_THAT(view_.messages, HasSubstr("reaches step 64"));
  EXPECT_TRUE(Upload(console, "62").logged) << "an upload there is allowed";
  EXPECT_THAT(view_.messages, HasSubstr("reaches step 64"));
}

TEST_F(Programming, AnUploadOverTheProgramTheControllerRunsAsksFirst) {
  ASSERT_TRUE(store_.SaveRunSelection(1, "running.txt", 11, 20));
  FillHeld(11, 20);
  Console& console = Compiled("9");
  view_.confirmAnswers = {false};
  EXPECT_FALSE(Upload(console, "9").logged);
  EXPECT_THAT(view_.boxes.back().text, HasSubstr("running.txt"));
  EXPECT_EQ(Held(11, 11)[0].duration, 9) << "nothing written";
  EXPECT_LE(sim_.Requests().size(), 1u) << "the probe at most";
  EXPECT_TRUE(Upload(console, "9").logged);
  EXPECT_EQ(Held(9, 11), kCompiled);
}

// A second frame after a reply -- the reply again, or an earlier one, 20 ms later -- never
// puts another word into the memory map: the download fails, or stores what the controller holds.
TEST_F(Programming, ASecondFrameOnTheLineNeverPutsAWrongWordInTheMap) {
  // This line carries copies: the history that tells them apart is on, as on any real line. A
  // copy that comes once the next request has gone is known by what it holds, whenever it comes.
  auto timing = line_.Timing();
  timing.duplicateHorizon = link::LineTiming{}.duplicateHorizon;
  line_.SetTiming(timing);
  Console& console = Started();
  sim_.EditUnit(1, [](sim::UnitState& u) {
    u.steps[49] = {1, 30, 70};
    u.steps[50] = {2, 11, 250};
    u.steps[51] = {3, 0, 100};
  });
  for (auto fault : {sim::Fault::Duplicate, sim::Fault::Stale}) {
    for (int at = 1; at <= 9; ++at) {
      ASSERT_TRUE(store_.ResetControllerMemory(1));
      hooked_.exchanges = 0;
      hooked_.before = [this, at, fault = fault](int k) {
        if (k == at) sim_.InjectFault(fault);
      };
      const bool stored = console.Memory().DownloadProgramRange(50, 52).has_value();
      for (int step = 50; step <= 52; ++step)
        EXPECT_EQ(Mapped(step), stored ? Held(step, step)[0] : link::ProgramStep{})
            << "step " << step << ", fault " << static_cast<int>(fault) << " at exchange " << at;
    }
  }
  hooked_.before = nullptr;
}

TEST_F(Programming, ChangingChannelClearsTheMarksOfTheChannelBefore) {
  ASSERT_TRUE(store_.WriteLogEntry({1, "a.txt", 1, 64, "K", "F", "M", "SV"}));
  ASSERT_TRUE(store_.WriteLogEntry({2, "b.txt", 5, 6, "K", "F", "M", "SV"}));
  Console& console = Started();
  EXPECT_EQ(view_.MarkAt(Grid::ProfileLog, 1), RowMark::LogEntry) << "unit 1's limits are 1..64";
  console.Selection().ChooseChannel(1);
  EXPECT_EQ(view_.MarkAt(Grid::ProfileLog, 1), RowMark::None) << "unit 2's limits match no row";
}

}  // namespace
}  // namespace tarvel::console
