// A closed record against a checker of its own, and tarvel-cli's load verbs as a user runs them:
// list, sign, verify, and the report read back with pdftotext.
#include <gmock/gmock.h>
#include <openssl/sha.h>

#include <random>
#include <sstream>

#include "load_fixture.h"
#include "support/run_process.h"
#include "watch/load_start.h"

namespace tarvel::watch {
namespace {

using ::testing::HasSubstr;
using testing::ReadAll;
using testing::RunCli;

std::string Sha(std::string_view bytes) {
  unsigned char digest[SHA256_DIGEST_LENGTH];
  SHA256(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), digest);
  std::ostringstream hex;
  for (unsigned char b : digest) hex << "0123456789abcdef"[b >> 4] << "0123456789abcdef"[b & 15];
  return hex.str();
}

// An auditor's checker, sharing nothing with the writer: every line carries the hash of the line
// before it (the first, of the format's genesis text), the closing line the hash of all before
// it, and the last line is the one the record was sealed with.
bool Untouched(const std::string& bytes, const std::string& sealedHead) {
  if (bytes.empty() || bytes.back() != '\n') return false;
  std::string before = Sha("Tarvel load record, format 1");
  bool closed = false;
  for (std::size_t at = 0; at < bytes.size();) {
    const std::size_t end = bytes.find('\n', at);
    const std::string line = bytes.substr(at, end - at);
    const std::size_t prev = line.find("\"prev\":\"");
    if (prev == std::string::npos || line.compare(prev + 8, 64, before) != 0) return false;
    if (line.find("\"type\":\"close\"") != std::string::npos) {
      const std::size_t final = line.find("\"final\":\"");
      if (closed || final == std::string::npos ||
          line.compare(final + 9, 64, Sha(std::string_view(bytes).substr(0, at))) != 0)
        return false;
      closed = true;
    }
    before = Sha(line);
    at = end + 1;
  }
  return closed && before == sealedHead;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& line : lines) text += line + "\n";
  return text;
}

TEST_F(LoadRun, EveryChangeToAClosedRecordIsFoundByAnIndependentCheckerAndByLoadVerify) {
  auto tracker = Tracker();
  auto id = tracker->Start(Plan({1}));
  ASSERT_TRUE(id.ok());
  for (double minute = 0; minute <= 75; minute += 1) Sweep(*tracker, {1}, minute);
  ASSERT_TRUE(SignLoad(folder_, store_, *id, "Bob Jones", "reviewed", now_).ok());
  const std::filesystem::path file = LoadFile(folder_, *id);
  const std::string record = ReadAll(file);
  const std::string head = Sha(Lines(record).back());  // as the signed report would show it
  ASSERT_TRUE(Untouched(record, head));
  ASSERT_EQ(RunCli(dir_.path(), {"load", "verify", *id}).exitCode, 0);

  std::mt19937 random(28);
  auto below = [&](std::size_t n) { return static_cast<std::size_t>(random() % n); };
  int missed = 0;
  for (int change = 0; change < 10000; ++change) {
    std::string changed = record;
    std::vector<std::string> lines = Lines(record);
    switch (change % 3) {
      case 0: {
        const std::size_t at = below(changed.size());
        changed[at] = static_cast<char>(changed[at] ^ (1 + below(255)));
        break;
      }
      case 1:
        lines.erase(lines.begin() + static_cast<long>(below(lines.size())));
        changed = Joined(lines);
        break;
      default: {
        const std::size_t a = below(lines.size()), b = (a + 1 + below(lines.size() - 1)) % lines.size();
        std::swap(lines[a], lines[b]);
        changed = Joined(lines);
      }
    }
    if (Untouched(changed, head)) ++missed;
    if (change % 500 == 0) {  // and tarvel-cli agrees
      testing::WriteAll(file, changed);
      const auto verify = RunCli(dir_.path(), {"load", "verify", *id});
      EXPECT_EQ(verify.exitCode, 1) << "change " << change << ": " << verify.out;
      EXPECT_THAT(verify.out, HasSubstr(*id + ": BROKEN\n  line "));
    }
  }
  EXPECT_EQ(missed, 0);
}

TEST_F(LoadRun, ALoadIsListedSignedOnceClosedAndReportedWithItsHashOnEveryPage) {
  auto tracker = Tracker();
  LoadPlan plan = Plan({1, 3, 4});  // a chart each: the report runs over more than one page
  plan.furnace = "";
  plan.controllers[0].nickname = "@Kiln top";  // a spreadsheet would take it for a formula
  auto closed = tracker->Start(plan);
  auto open = tracker->Start(Plan({2}));
  ASSERT_TRUE(closed.ok() && open.ok());
  double minute = 0;
  for (; minute < 10; minute += 0.5) Sweep(*tracker, {1, 2, 3, 4}, minute);
  diskFull_ = true;
  for (; minute < 12; minute += 0.5) Sweep(*tracker, {1, 2, 3, 4}, minute);
  diskFull_ = false;
  for (; minute <= 75; minute += 0.5) Sweep(*tracker, {1, 3, 4}, minute);

  auto list = RunCli(dir_.path(), {"load", "list"});
  EXPECT_EQ(list.out.substr(0, list.out.find(' ')), *closed);
  EXPECT_EQ(Lines(list.out).size(), 2u);
  EXPECT_THAT(Lines(list.out)[1], ::testing::StartsWith(*open + "  2026-12-07T10:00:00Z  under way  open  ch 2"));
  list = RunCli(dir_.path(), {"load", "list", "--result", "PASS", "--order", "471"});
  EXPECT_EQ(Lines(list.out).size(), 1u);
  EXPECT_THAT(list.out, ::testing::StartsWith(*closed + "  2026-12-07T10:00:00Z  2026-12-07T"));

  auto sign = RunCli(dir_.path(), {"load", "sign", *open, "--name", "Bob Jones", "--meaning", "approved"});
  EXPECT_EQ(sign.exitCode, 1);
  EXPECT_THAT(sign.err, HasSubstr("not signed: it is under way"));

  // A cancel waits in the store for the process that records, which ends the load with who and why.
  EXPECT_EQ(RunCli(dir_.path(), {"load", "cancel", "7"}).err, "No load under way on channel 7\n");
  const auto cancel =
      RunCli(dir_.path(), {"load", "cancel", "2", "--operator", "Bob Jones", "--reason", "thermocouple broke"});
  ASSERT_EQ(cancel.exitCode, 0) << cancel.err;
  EXPECT_FALSE(tracker->Act({LoadAction::Kind::Cancel, 2, now_, "Bob Jones", "", *closed, ""})) << "another load's";
  const auto actions = store_.LoadActions().value();
  for (const auto& row : actions) ASSERT_TRUE(tracker->Act(*ActionOf(row)));  // as the watch takes it
  EXPECT_TRUE(tracker->OpenLoads().empty());
  list = RunCli(dir_.path(), {"load", "list", "--result", "CANCELLED"});
  EXPECT_THAT(list.out, ::testing::MatchesRegex(*open + "  2026-12-07T10:00:00Z  [-0-9T:]+Z  CANCELLED  ch 2 .*"));
  EXPECT_EQ(RunCli(dir_.path(), {"load", "list", "--result", "FAIL"}).out, "");
  EXPECT_THAT(RunCli(dir_.path(), {"load", "show", *open}).out,
              ::testing::ContainsRegex(
                  "Result: CANCELLED \\(closed [-0-9T:]+Z, cancelled by Bob Jones: thermocouple broke\\)\n"));
  sign = RunCli(dir_.path(), {"load", "sign", *closed, "--name", "Bob Jones", "--meaning", "approved"});
  EXPECT_EQ(sign.exitCode, 0) << sign.err;
  EXPECT_EQ(RunCli(dir_.path(), {"load", "verify", *closed}).exitCode, 0);

  const auto pdf = dir_ / "report.pdf", csv = dir_ / "samples.csv";
  const auto report = RunCli(dir_.path(), {"load", "report", *closed, "--pdf", pdf.string(), "--csv", csv.string()});
  ASSERT_EQ(report.exitCode, 0) << report.err;
  auto record = ReadLoadRecord(LoadFile(folder_, *closed));
  ASSERT_TRUE(record.ok() && record->close);
  const auto text = testing::RunProcess("pdftotext", {"-layout", pdf.string(), "-"});
  ASSERT_EQ(text.exitCode, 0) << text.err;
  for (const char* expected : {"Load record L-20261207-0001-Kilntop", "Result: PASS", "Ann Smith", "4711",
                               "rack 3, top shelf", "@Kiln top", "could not write", "Bob Jones", "approved"})
    EXPECT_THAT(text.out, HasSubstr(expected));
  std::vector<std::string> pages;
  for (std::size_t at = 0, end; (end = text.out.find('\f', at)) != std::string::npos; at = end + 1)
    pages.push_back(text.out.substr(at, end - at));
  ASSERT_GE(pages.size(), 2u);
  for (std::size_t page = 0; page < pages.size(); ++page)
    EXPECT_THAT(pages[page], ::testing::AllOf(HasSubstr("final hash " + record->close->finalHash),
                                              HasSubstr("page " + std::to_string(page + 1) + " of " +
                                                        std::to_string(pages.size()))));
  EXPECT_THAT(ReadAll(csv),
              HasSubstr(*closed + ",2026-12-07T10:00:00Z,1,\"'@Kiln top\",0,1,0,2,70,70,70,60,80,0,in\r\n"));
}

// tarvel-cli alarm: what the watch left open in the store, acknowledged once, by the first.
TEST_F(LoadRun, AlarmAckTakesAnOpenAlarmOnceAndRefusesAChannelWithout) {
  ASSERT_TRUE(
      store_.RaiseAlarm({0, 2, "band", 1'765'101'600'000, "PV 300 above band 150..170 for 2 readings", 0, "", 0}).ok());
  EXPECT_EQ(RunCli(dir_.path(), {"alarm", "list"}).out,
            "ch 2  band  raised 2025-12-07T10:00:00Z  PV 300 above band 150..170 for 2 readings  not acknowledged\n");
  const auto first = RunCli(dir_.path(), {"alarm", "ack", "2", "--operator", "Bo"});
  EXPECT_EQ(first.exitCode, 0) << first.err;
  EXPECT_THAT(first.out,
              ::testing::MatchesRegex("The band alarm on channel 2 \\(PV 300 .*\\) is acknowledged by Bo at .*Z\n"));
  const auto second = RunCli(dir_.path(), {"alarm", "ack", "2", "--operator", "Cy"});
  EXPECT_EQ(second.exitCode, 0);
  EXPECT_THAT(second.out, HasSubstr(") was already acknowledged by Bo at "));
  EXPECT_EQ(store_.OpenAlarm(2).value()->ackedBy, "Bo");
  const auto none = RunCli(dir_.path(), {"alarm", "ack", "7"});
  EXPECT_EQ(std::tuple(none.exitCode, none.err), std::tuple(1, std::string("No open alarm on channel 7\n")));
  EXPECT_EQ(RunCli(dir_.path(), {"alarm", "ack", "seven"}).exitCode, 2);
}

}  // namespace
}  // namespace tarvel::watch
