// The web view over HTTP, on the line service of a simulated line: where it may listen, the
// login off loopback and whose name an acknowledgement records, a reading on the event stream
// and in the trend, and a closed load's report downloaded.
#include <gmock/gmock.h>
#include <httplib.h>

#include <fstream>

#include "cli/load_args.h"
#include "service/serve.h"
#include "service/service_plant.h"
#include "support/sim_line.h"
#include "watch/load_fixture.h"
#include "web/web_server.h"

namespace tarvel::watch {
namespace {

using ::testing::HasSubstr;

class WebView : public LoadRun {
 protected:
  WebView() {
    EXPECT_TRUE(sim_.Start().ok());
    EXPECT_TRUE(store_.AddChannel({1, 1, "Kiln", "set64rs", sim_.DevicePath()}));
    EXPECT_TRUE(store_.ResetControllerMemory(1));
  }
  ~WebView() override {
    if (web_) web_->Stop();
  }

  void Serve(web::WebOptions options) {
    service::PortOptions port;
    port.watch.period = std::chrono::milliseconds(0);
    auto started = service::Service::Start(folder_, port, {sim_.DevicePath()});
    ASSERT_TRUE(std::holds_alternative<std::unique_ptr<service::Service>>(started));
    service_ = std::move(std::get<std::unique_ptr<service::Service>>(started));
    plant_ = std::make_unique<service::ServicePlant>(*service_, cli::LoadReports(folder_));
    web_ = std::make_unique<web::WebServer>(*plant_);
    Status listening = web_->Start(options);
    ASSERT_TRUE(listening.ok()) << listening.message();
    client_ = std::make_unique<httplib::Client>("127.0.0.1", web_->Port());
    client_->set_read_timeout(std::chrono::seconds(30));
  }

  sim::SimulatedLine sim_{testing::QuickLine({1})};
  std::unique_ptr<service::Service> service_;
  std::unique_ptr<service::ServicePlant> plant_;
  std::unique_ptr<web::WebServer> web_;
  std::unique_ptr<httplib::Client> client_;
};

TEST_F(WebView, OffLoopbackEveryRequestNeedsTheLoginAndAnAcknowledgementIsTheLoggedInUsers) {
  // Refused at the options, before anything is started, and by the server itself.
  service::ServeOptions options;
  const std::vector<std::string> args = {"--http", "0.0.0.0:8080"};
  std::size_t i = 0;
  std::string why;
  ASSERT_TRUE(service::TakeServeOption(args, i, options, why)) << why;
  EXPECT_THAT(service::CheckServeOptions(options).value_or(""),
              HasSubstr("--http 0.0.0.0 reaches beyond this computer: give --http-password-file FILE"));
  const std::filesystem::path passwords = dir_.path() / "web.pw";
  std::ofstream(passwords) << "# who may look\nann:s3cret pass\nbob\n";
  EXPECT_THAT(web::ReadPasswordFile(passwords.string()).status().message(), HasSubstr("line 3: not user:password"));
  std::ofstream(passwords) << "# who may look\nann:s3cret pass\n";
  auto users = web::ReadPasswordFile(passwords.string());
  ASSERT_TRUE(users.ok());
  EXPECT_EQ(users->at("ann"), "s3cret pass");

  Serve({.address = "0.0.0.0", .users = *users});
  // Of a controller on another port of the home: this service's watch leaves it alone.
  ASSERT_TRUE(store_.RaiseAlarm({0, 2, "band", 1000, "PV 80 above band 60..70", 0, "", 0}).ok());
  web::WebServer open(*plant_);
  EXPECT_THAT(open.Start({.address = "0.0.0.0"}).message(), HasSubstr("give --http-password-file FILE"));
  for (const char* path : {"/", "/api/controllers", "/api/alarms", "/static/app.js"}) {
    auto res = client_->Get(path);
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 401) << path;
    EXPECT_THAT(res->get_header_value("WWW-Authenticate"), HasSubstr("Basic"));
  }
  client_->set_basic_auth("ann", "s3cret");
  EXPECT_EQ(client_->Get("/api/alarms")->status, 401);
  client_->set_basic_auth("ann", "s3cret pass");
  auto alarms = client_->Get("/api/alarms");
  ASSERT_EQ(alarms->status, 200);
  EXPECT_THAT(alarms->body, HasSubstr(R"("text":"PV 80 above band 60..70")"));

  // A form of another site cannot acknowledge; the name in the body is not who is logged in.
  EXPECT_EQ(client_->Post("/api/alarms/2/ack", "operator=eve", "application/x-www-form-urlencoded")->status, 415);
  auto acked = client_->Post("/api/alarms/2/ack", R"({"operator":"eve"})", "application/json");
  ASSERT_EQ(acked->status, 200) << acked->body;
  auto row = store_.OpenAlarm(2);
  ASSERT_TRUE(row.ok() && *row);
  EXPECT_EQ((*row)->ackedBy, "ann");
  EXPECT_EQ(client_->Post("/api/alarms/3/ack", "{}", "application/json")->status, 404);
}

TEST_F(WebView, AReadingReachesTheEventStreamTheTrendAndTheOverviewsJson) {
  sim_.EditUnit(1, [](sim::UnitState& unit) { unit.processTemperature = 123.4; });
  Serve({});
  std::string stream;
  auto res = client_->Get("/api/events", [&](const char* data, std::size_t size) {
    stream.append(data, size);
    return stream.find("event: reading\n") == std::string::npos;  // enough once a reading came
  });
  EXPECT_THAT(stream, HasSubstr("event: reading\ndata: {"));
  EXPECT_THAT(stream, HasSubstr(R"("channel":1)"));
  EXPECT_THAT(stream, HasSubstr(R"("nickName":"Kiln")"));
  auto controllers = nlohmann::json::parse(client_->Get("/api/controllers")->body);
  ASSERT_EQ(controllers.size(), 1u);
  EXPECT_EQ(controllers[0]["line"], "");
  EXPECT_EQ(controllers[0]["processValue"], 123);
  auto trend = nlohmann::json::parse(client_->Get("/api/trend?channel=1")->body);
  ASSERT_FALSE(trend.empty());
  EXPECT_EQ(trend.back()["processValue"], 123);
  EXPECT_EQ(client_->Get("/api/trend")->status, 400);
  auto page = client_->Get("/controller?channel=1");
  EXPECT_THAT(page->body, HasSubstr(R"(<script src="/static/app.js">)"));
  EXPECT_EQ(client_->Get("/static/app.js")->get_header_value("Content-Type"), "text/javascript; charset=utf-8");
  EXPECT_EQ(client_->Get("/static/../../etc/passwd")->status, 404);
}

TEST_F(WebView, AClosedLoadsReportDownloadsAsPdfAndCsvAndAMissingOneIsNotFound) {
  auto tracker = Tracker();
  auto load = tracker->Start(Plan({3}));
  ASSERT_TRUE(load.ok());
  for (double minute = 0; minute <= 75; minute += 0.5) Sweep(*tracker, {3}, minute);
  Serve({});
  auto loads = nlohmann::json::parse(client_->Get("/api/loads")->body);
  ASSERT_EQ(loads.size(), 1u);
  EXPECT_EQ(loads[0]["id"], *load);
  EXPECT_EQ(loads[0]["result"], "PASS");
  auto pdf = client_->Get("/api/loads/" + *load + "/report.pdf");
  ASSERT_EQ(pdf->status, 200) << pdf->body;
  EXPECT_EQ(pdf->get_header_value("Content-Type"), "application/pdf");
  EXPECT_TRUE(pdf->body.starts_with("%PDF-"));
  EXPECT_TRUE(pdf->body.find("%%EOF") != std::string::npos);
  auto csv = client_->Get("/api/loads/" + *load + "/report.csv");
  ASSERT_EQ(csv->status, 200);
  EXPECT_THAT(csv->body, HasSubstr(*load + ","));
  EXPECT_EQ(client_->Get("/api/loads/L-20261207-9999-x/report.pdf")->status, 404);
  EXPECT_EQ(client_->Get("/api/loads/..%2F..%2Fsecret/report.pdf")->status, 404);
}

}  // namespace
}  // namespace tarvel::watch
