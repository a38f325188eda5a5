#include "blocking/AbuseReport.h"

#include "settings/Settings.h"
#include "support/HttpTestServer.h"
#include "support/RecordingOperator.h"

#include <algorithm>
#include <atomic>
#include <gtest/gtest.h>
#include <optional>
#include <set>
#include <thread>

namespace ostrel {
namespace {

using test::HttpReply;
using test::HttpRequest;
using test::HttpResponder;
using test::HttpTestServer;
using test::TestSocket;
using Lines = std::vector<std::string>;

constexpr const char* Address = "203.0.113.7";
const std::string StartedLine = " - Reporting (call to reporting-script) started ... ";

// A report script that answers "accepted " + the reported address.
HttpResponder acceptingEach() {
    return [](const HttpRequest& request) {
        const std::size_t ip = request.requestLine.find("&IP=") + 4;
        return std::optional<HttpReply>(HttpReply{
            200, "OK", "accepted " + request.requestLine.substr(ip, request.requestLine.find(' ', ip) - ip), {}});
    };
}

std::string droppedLine(const std::string& address, const std::string& why) {
    return " - Abuse report for " + address + " dropped: " + why;
}

std::vector<std::string> reportedAddresses(const HttpTestServer& server) {
    std::vector<std::string> addresses;
    for (const HttpRequest& request : server.requests()) {
        const std::size_t ip = request.requestLine.find("&IP=") + 4;
        addresses.push_back(request.requestLine.substr(ip, request.requestLine.find(' ', ip) - ip));
    }
    return addresses;
}

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
        EXPECT_EQ(requests[0].header("User-Agent"), "Murabel RDP-Ostrel - Version 1.0 - ABUSE-Report");
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
    HttpTestServer server(acceptingEach());
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

// The first 64 KiB of a longer body are the result; the rest is not read. A refused status
// stays a failure whatever its body.
TEST_F(AbuseReportTest, ABodyIsKeptUpToItsLimit) {
    const std::string pattern = "0123456789abcdef";
    constexpr std::size_t Limit = 64 * 1024;
    const struct {
        std::size_t size;
        int status;
    } cases[] = {{Limit, 200}, {Limit + 1, 200}, {16 * 1024 * 1024, 200}, {4 * 1024 * 1024, 404}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.size) + " bytes, status " + std::to_string(c.status));
        std::string body;
        while (body.size() < c.size)
            body += pattern;
        body.resize(c.size);
        HttpTestServer server(HttpReply{c.status, c.status == 200 ? "OK" : "Not Found", body, {}});
        configure(server.baseUrl() + "/r?a=1");
        m_op.clear();
        m_op.setDetailLog(true);

        const std::string result = m_report.report(Address);

        EXPECT_EQ(result, m_report.lastResult());
        if (c.status != 200) {
            EXPECT_EQ(result, "0");
            EXPECT_TRUE(m_op.hasLine(" - Fehlermeldung: HTTP/1.1 404 Not Found"));
            continue;
        }
        ASSERT_EQ(result.size(), std::min(c.size, Limit));
        EXPECT_EQ(result, body.substr(0, Limit));
        EXPECT_TRUE(m_op.hasLine(" - Abuse Result: " + result));
        EXPECT_FALSE(m_op.hasLineContaining("Ausnahme"));
    }
}

// A client past its body limit may stop reading and keep its connection: the test server's end
// must not wait for a reply that fills the socket's buffers (it did, in a blocked send, until an
// outer limit killed the whole run).
TEST_F(AbuseReportTest, TheTestServerEndsThoughAClientStopsReadingItsBody) {
    TestSocket client;
    {
        HttpTestServer server(HttpReply{200, "OK", std::string(16 * 1024 * 1024, 'x'), {}});
        client = test::connectLoopback(server.port());
        const std::string request = "GET /r?a=1 HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
        ASSERT_EQ(test::sendSome(client.get(), request.data(), request.size()), static_cast<long>(request.size()));
        // The reply has begun: the server is writing when it is asked to end.
        ASSERT_EQ(test::waitReadable({client.get()}, std::chrono::seconds(10)), 0);
        char first[16];
        ASSERT_GT(test::receiveSome(client.get(), first, sizeof first), 0);
    } // ends here, the client still connected and reading no further
    EXPECT_TRUE(client);
}

// Each queued report ends with the block's result line for it, in the order they were queued.
TEST_F(AbuseReportTest, QueuedReportsAreSentInOrderEachWithItsResultLine) {
    HttpTestServer server(acceptingEach());
    configure(server.baseUrl() + "/r?a=1");
    m_op.setDetailLog(true);
    const std::vector<std::string> addresses = {"203.0.113.10", "2001:db8::11", "198.51.100.12"};

    for (const std::string& address : addresses)
        m_report.enqueue(address);
    m_report.finish();

    Lines expected;
    for (const std::string& address : addresses) {
        expected.push_back(StartedLine);
        expected.push_back(" - " + server.baseUrl() + "/r?a=1&KEY=k3y&IP=" + address);
        expected.push_back(" - Abuse Result: accepted " + address);
        expected.push_back(" - Abuse Report Result: accepted " + address);
    }
    EXPECT_EQ(m_op.lines(), expected);
    EXPECT_EQ(reportedAddresses(server), addresses);
}

TEST_F(AbuseReportTest, AFullQueueDropsAReportWithOneLine) {
    std::optional<HttpTestServer> server(std::in_place, acceptingEach());
    server->holdReplies();
    configure(server->baseUrl() + "/r?a=1");
    m_report.enqueue("203.0.113.1");
    ASSERT_TRUE(server->waitForRequests(1)) << "the worker holds the first report";
    for (std::size_t i = 0; i < 1000; ++i)
        m_report.enqueue("198.51.100.7");
    EXPECT_TRUE(m_op.lines().empty()) << ::testing::PrintToString(m_op.lines());

    m_report.enqueue("203.0.113.99");
    EXPECT_EQ(m_op.lines(), Lines{droppedLine("203.0.113.99", "1000 reports are waiting.")});

    // The end, with the server gone: nothing waits for it.
    std::thread ending([&] { m_report.finish(); });
    server.reset();
    ending.join();
}

// At the end a live server gets every queued report, in order.
TEST_F(AbuseReportTest, ProgramEndSendsWhatIsQueued) {
    HttpTestServer server(acceptingEach());
    server.holdReplies();
    configure(server.baseUrl() + "/r?a=1");
    const std::vector<std::string> addresses = {"203.0.113.20", "203.0.113.21", "203.0.113.22"};
    for (const std::string& address : addresses)
        m_report.enqueue(address);
    ASSERT_TRUE(server.waitForRequests(1));

    std::thread ending([&] { m_report.finish(); });
    server.releaseReplies();
    ending.join();

    EXPECT_EQ(reportedAddresses(server), addresses);
    EXPECT_EQ(m_report.lastResult(), "accepted 203.0.113.22");
    EXPECT_TRUE(m_op.lines().empty()) << ::testing::PrintToString(m_op.lines());
}

// A server that does not answer holds the end for one report's time limit at most: what is
// left when a report has failed is dropped with a line each, and so is any later report.
TEST_F(AbuseReportTest, ProgramEndDropsWhatADeadServerWouldHold) {
    HttpTestServer server(HttpTestServer::silent());
    configure(server.baseUrl() + "/r?a=1");
    m_report.setTimeouts(5000, 300);
    const std::vector<std::string> addresses = {"203.0.113.30", "203.0.113.31", "203.0.113.32"};
    for (const std::string& address : addresses)
        m_report.enqueue(address);
    ASSERT_TRUE(server.waitForRequests(1));

    m_report.finish();
    m_report.enqueue("203.0.113.33");

    // Each report was sent (and failed) or dropped; the dropped ones are the last.
    const std::size_t sent = server.requests().size();
    ASSERT_LT(sent, addresses.size()) << "the end waited for every report of a dead server";
    Lines dropped;
    for (std::size_t i = sent; i < addresses.size(); ++i)
        dropped.push_back(droppedLine(addresses[i], "the program ends."));
    dropped.push_back(droppedLine("203.0.113.33", "the program ends."));
    const Lines lines = m_op.lines();
    ASSERT_EQ(lines.size(), 2 * sent + dropped.size()) << ::testing::PrintToString(lines);
    EXPECT_EQ(Lines(lines.end() - static_cast<std::ptrdiff_t>(dropped.size()), lines.end()), dropped);
    EXPECT_EQ(lines[0], " - Ausnahme aufgetreten: ETimeoutError");
    EXPECT_EQ(m_report.lastResult(), "0");
    EXPECT_EQ(server.requests().size(), sent) << "nothing is sent after the end";
}

} // namespace
} // namespace ostrel
