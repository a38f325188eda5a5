#include "blocking/AbuseReport.h"

#include "config/Settings.h"
#include "support/HttpTestServer.h"
#include "support/RecordingOperator.h"

#include <atomic>
#include <gtest/gtest.h>
#include <set>
#include <thread>

namespace ostrel {
namespace {

using test::HttpReply;
using test::HttpRequest;
using test::HttpTestServer;
using Lines = std::vector<std::string>;

constexpr const char* Address = "203.0.113.7";
const std::string StartedLine = " - Reporting (call to reporting-script) started ... ";

class AbuseReportTest : public ::testing::Test {
protected:
    void configure(const std::string& url, const std::string& key = "k3y") {
        m_settings.set(&SettingsValues::AbuseReportRDPURL, url);
        m_settings.set(&SettingsValues::AbuseKEY, key);
    }

    // A successful report first, so that a failure is seen to put the result back to "0".
    void reportSuccessfullyOnce() {
        HttpTestServer earlier(HttpReply{200, "OK", "earlier", {}});
        configure(earlier.baseUrl() + "/r?a=1");
        m_report.report(Address);
        ASSERT_EQ(m_report.lastResult(), "earlier");
        m_op.clear();
    }

    // The report failed with exactly its two lines and left the result at "0".
    void expectFailure(const std::string& kind, const std::string& messagePart) {
        const Lines lines = m_op.lines();
        ASSERT_EQ(lines.size(), 2u) << ::testing::PrintToString(lines);
        EXPECT_EQ(lines[0], " - Ausnahme aufgetreten: " + kind);
        EXPECT_TRUE(lines[1].starts_with(" - Fehlermeldung: ")) << lines[1];
        EXPECT_NE(lines[1].find(messagePart), std::string::npos) << lines[1];
        EXPECT_EQ(m_report.lastResult(), "0");
    }

    Settings m_settings;
    test::RecordingOperator m_op;
    AbuseReport m_report{m_settings, m_op};
};

TEST_F(AbuseReportTest, LastResultIsEmptyBeforeTheFirstReport) {
    EXPECT_EQ(m_report.lastResult(), "");
}

// The key carries characters a request address does not allow unescaped: they reach the server as composed.
TEST_F(AbuseReportTest, SendsOneGetAndKeepsTheBody) {
    const struct {
        std::string body;
        bool detailLog;
    } cases[] = {{"Report accepted: 203.0.113.7", true}, {"", true}, {"Report accepted", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE("body '" + c.body + "', DetailLog " + (c.detailLog ? "on" : "off"));
        m_op.clear();
        HttpTestServer server(HttpReply{200, "OK", c.body, {}});
        configure(server.baseUrl() + "/report.php?source=rdp", "s3cr%zz&\xc3\xa4");
        m_op.setDetailLog(c.detailLog);

        m_report.report(Address);

        const std::string query = "/report.php?source=rdp&KEY=s3cr%zz&\xc3\xa4&IP=203.0.113.7";
        const Lines expected =
            c.detailLog ? Lines{StartedLine, " - " + server.baseUrl() + query, " - Abuse Result: " + c.body} : Lines{};
        EXPECT_EQ(m_op.lines(), expected);
        EXPECT_EQ(m_report.lastResult(), c.body);
        const std::vector<HttpRequest> requests = server.requests();
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0].requestLine, "GET " + query + " HTTP/1.1");
        EXPECT_EQ(requests[0].header("User-Agent"), AbuseReport::UserAgent);
    }
}

// A redirect is refused like any other status outside 2xx; following it would be a second request.
TEST_F(AbuseReportTest, StatusOutsideSuccessFailsWithTheStatusLine) {
    const struct {
        HttpReply reply;
        std::string statusLine;
    } cases[] = {{{404, "Not Found", "no such script", {}}, "HTTP/1.1 404 Not Found"},
                 {{302, "Found", "", {{"Location", "/followed"}}}, "HTTP/1.1 302 Found"},
                 {{503, "Service Unavailable", "", {}}, "HTTP/1.1 503 Service Unavailable"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.statusLine);
        ASSERT_NO_FATAL_FAILURE(reportSuccessfullyOnce());
        HttpTestServer server(c.reply);
        configure(server.baseUrl() + "/r?a=1");

        m_report.report(Address);

        ASSERT_NO_FATAL_FAILURE(expectFailure("EHTTPProtocolException", ""));
        EXPECT_EQ(m_op.lines().back(), " - Fehlermeldung: " + c.statusLine);
        EXPECT_EQ(server.requests().size(), 1u);
    }
}

TEST_F(AbuseReportTest, RefusedConnectionIsAConnectError) {
    ASSERT_NO_FATAL_FAILURE(reportSuccessfullyOnce());
    test::RefusingPort closed;
    configure("http://127.0.0.1:" + std::to_string(closed.port()) + "/r?a=1");

    m_report.report(Address);

    ASSERT_NO_FATAL_FAILURE(expectFailure("EConnectError", std::to_string(closed.port())));
}

TEST_F(AbuseReportTest, SilentServerIsCutOffByTheTotalTimeLimit) {
    ASSERT_NO_FATAL_FAILURE(reportSuccessfullyOnce());
    HttpTestServer server(HttpTestServer::silent());
    configure(server.baseUrl() + "/r?a=1");
    m_report.setTimeouts(2000, 300);

    m_report.report(Address);

    ASSERT_NO_FATAL_FAILURE(expectFailure("ETimeoutError", "timed out"));
    EXPECT_TRUE(server.waitForRequests(1));
}

TEST_F(AbuseReportTest, UntrustedCertificateIsATlsFailure) {
    if (!HttpTestServer::hasTls())
        GTEST_SKIP() << "no TLS test server in this build (it needs OpenSSL, which the Windows build does not have)";
    ASSERT_NO_FATAL_FAILURE(reportSuccessfullyOnce());
    HttpTestServer server(HttpReply{200, "OK", "never sent", {}}, HttpTestServer::Transport::Tls);
    configure(server.baseUrl() + "/r?a=1");

    m_report.report(Address);

    ASSERT_NO_FATAL_FAILURE(expectFailure("ESSLError", "certificate"));
    EXPECT_TRUE(server.waitForConnections(1));
    EXPECT_TRUE(server.requests().empty());
}

// An empty AbuseReportRDPURL, or a blank in the key, gives an address the client refuses outright.
TEST_F(AbuseReportTest, MalformedAddressFailsWithoutContactingAnyServer) {
    const struct {
        bool emptyUrl;
        std::string key;
    } cases[] = {{true, "k3y"}, {false, "with blank"}};
    for (const auto& c : cases) {
        SCOPED_TRACE("key '" + c.key + "'" + (c.emptyUrl ? ", empty AbuseReportRDPURL" : ""));
        ASSERT_NO_FATAL_FAILURE(reportSuccessfullyOnce());
        HttpTestServer server(HttpReply{200, "OK", "never sent", {}});
        const std::string base = c.emptyUrl ? "" : server.baseUrl() + "/r?a=1";
        configure(base, c.key);
        m_op.setDetailLog(true);

        m_report.report(Address);

        const Lines lines = m_op.lines();
        ASSERT_EQ(lines.size(), 4u) << ::testing::PrintToString(lines);
        EXPECT_EQ(lines[1], " - " + base + "&KEY=" + c.key + "&IP=203.0.113.7");
        EXPECT_EQ(lines[2], " - Ausnahme aufgetreten: EURLError");
        EXPECT_TRUE(lines[3].starts_with(" - Fehlermeldung: ")) << lines[3];
        EXPECT_EQ(m_report.lastResult(), "0");
        EXPECT_EQ(server.connections(), 0u);
        m_op.setDetailLog(false);
    }
}

// Every reader gets a whole text, and the result ends as the body of one of the reports.
TEST_F(AbuseReportTest, ConcurrentReportsShareOneWholeLastResult) {
    constexpr int Threads = 6;
    constexpr int ReportsPerThread = 5;
    HttpTestServer server([](const HttpRequest& request) {
        const std::size_t ip = request.requestLine.find("&IP=") + 4;
        return std::optional<HttpReply>(HttpReply{
            200, "OK", "accepted " + request.requestLine.substr(ip, request.requestLine.find(' ', ip) - ip), {}});
    });
    configure(server.baseUrl() + "/r?a=1");
    std::set<std::string> possible{"", "0"};
    for (int t = 0; t < Threads; ++t)
        possible.insert("accepted 203.0.113." + std::to_string(10 + t));

    std::atomic<bool> done{false};
    std::vector<std::string> unexpected;
    std::thread reader([&] {
        while (!done.load())
            if (std::string seen = m_report.lastResult(); !possible.contains(seen))
                unexpected.push_back(seen);
    });
    std::vector<std::thread> reporters;
    for (int t = 0; t < Threads; ++t)
        reporters.emplace_back([&, t] {
            for (int i = 0; i < ReportsPerThread; ++i)
                m_report.report("203.0.113." + std::to_string(10 + t));
        });
    for (auto& thread : reporters)
        thread.join();
    done = true;
    reader.join();

    EXPECT_TRUE(unexpected.empty()) << ::testing::PrintToString(unexpected);
    EXPECT_TRUE(m_op.lines().empty()) << ::testing::PrintToString(m_op.lines());
    EXPECT_EQ(server.requests().size(), std::size_t{Threads * ReportsPerThread});
    const std::string last = m_report.lastResult();
    EXPECT_TRUE(last.starts_with("accepted 203.0.113.")) << last;
}

} // namespace
} // namespace ostrel
