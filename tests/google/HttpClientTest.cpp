// The HTTP client object against a loopback stub server.
#include "GoogleTestSupport.h"
#include "platform/http_client.h"

#include <atomic>
#include <set>

namespace calvora::test {
namespace {

using platform::HttpClient;
using platform::HttpRequest;
using platform::HttpResponse;

TEST(HttpClientTest, SendsHeadersAndBodiesAndReadsAnswers) {
  std::string received;
  std::string receivedMethod;
  std::string receivedHeader;
  TStubServer server([&](httplib::Server& s) {
    auto echo = [&](const httplib::Request& req, httplib::Response& res) {
      receivedMethod = req.method;
      received = req.body;
      receivedHeader = req.get_header_value("X-Custom");
      res.set_header("X-Answer", "yes");
      res.set_content("ok:" + req.body, "text/plain");
    };
    s.Post("/echo", echo);
    s.Put("/echo", echo);
    s.Patch("/echo", echo);
    s.Delete("/echo", echo);
  });
  TTempDir dir;
  const std::string file = dir.File("body.bin");
  WriteFile(file, "0123456789");

  struct Case {
    const char* method;
    std::string memoryBody;
    std::int64_t offset, length;  // file region; length 0: memory body
    std::string expected;
  };
  const Case cases[] = {
      {"POST", "in memory", 0, 0, "in memory"},
      {"PUT", "", 3, 5, "34567"},
      {"PATCH", "", 4, -1, "456789"},
      {"PUT", "", 8, 100, "89"},
      {"DELETE", "", 0, 0, ""},
  };
  HttpClient client;
  for (const Case& c : cases) {
    HttpRequest request;
    request.method = c.method;
    request.url = server.Url("/echo");
    request.headers = {{"X-Custom", "v1"}};
    request.body = c.memoryBody;
    if (c.length != 0) {
      request.bodyFile = file;
      request.bodyOffset = c.offset;
      request.bodyLength = c.length;
    }
    HttpResponse response = client.Send(request);
    EXPECT_EQ(response.status, 200) << c.method;
    EXPECT_EQ(receivedMethod, c.method);
    EXPECT_EQ(received, c.expected) << c.method;
    EXPECT_EQ(receivedHeader, "v1");
    EXPECT_EQ(response.body, "ok:" + c.expected);
    EXPECT_EQ(response.Header("x-answer"), "yes") << "header names compare ignoring case";
    EXPECT_EQ(response.Header("X-Missing"), "");
  }
}

TEST(HttpClientTest, WritesOnlySuccessfulAnswersIntoTheResponseFile) {
  TStubServer server([](httplib::Server& s) {
    s.Get("/data", [](const httplib::Request&, httplib::Response& res) {
      res.set_content(std::string(300000, 'd'), "application/octet-stream");
    });
    s.Get("/missing", [](const httplib::Request&, httplib::Response& res) {
      res.status = 404;
      res.set_content("{\"error\":\"nope\"}", "application/json");
    });
  });
  TTempDir dir;
  HttpClient client;
  HttpRequest request;
  request.url = server.Url("/data");
  request.responseFile = dir.File("out.bin");
  HttpResponse response = client.Send(request);
  EXPECT_EQ(response.status, 200);
  EXPECT_EQ(response.body, "");
  EXPECT_EQ(ReadFile(dir.File("out.bin")), std::string(300000, 'd'));

  request.url = server.Url("/missing");
  request.responseFile = dir.File("absent.bin");
  response = client.Send(request);
  EXPECT_EQ(response.status, 404);
  EXPECT_EQ(response.body, "{\"error\":\"nope\"}");
  EXPECT_FALSE(FileExists(dir.File("absent.bin")));
}

TEST(HttpClientTest, FollowsRedirectsAndSendsTheBodyAgain) {
  std::string finalBody;
  TStubServer server([&](httplib::Server& s) {
    s.Put("/old", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/new", 307); });
    s.Put("/new", [&](const httplib::Request& req, httplib::Response& res) {
      finalBody = req.body;
      res.set_content("moved", "text/plain");
    });
  });
  TTempDir dir;
  WriteFile(dir.File("b"), "payload-bytes");
  HttpClient client;
  HttpRequest request;
  request.method = "PUT";
  request.url = server.Url("/old");
  request.bodyFile = dir.File("b");
  HttpResponse response = client.Send(request);
  EXPECT_EQ(response.status, 200);
  EXPECT_EQ(response.body, "moved");
  EXPECT_EQ(finalBody, "payload-bytes");
}

TEST(HttpClientTest, CutsStalledAnswersButNotSlowOnes) {
  TStubServer server([](httplib::Server& s) {
    s.Get("/stalled", [](const httplib::Request&, httplib::Response& res) {
      std::this_thread::sleep_for(std::chrono::milliseconds(3500));
      res.set_content("late", "text/plain");
    });
    s.Get("/slow", [](const httplib::Request&, httplib::Response& res) {
      res.set_chunked_content_provider("text/plain", [](size_t offset, httplib::DataSink& sink) {
        if (offset >= 6) {
          sink.done();
          return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        sink.write("x", 1);
        return true;
      });
    });
  });
  HttpClient client;
  client.SetResponseTimeoutMs(1000);
  HttpRequest request;
  request.url = server.Url("/slow");
  EXPECT_EQ(client.Send(request).body, "xxxxxx") << "2.4 s in all, but never 1 s without a byte";
  request.url = server.Url("/stalled");
  EXPECT_THROW(client.Send(request), platform::HttpTransportError);
}

TEST(HttpClientTest, ReusesItsConnection) {
  std::set<int> ports;
  std::mutex lock;
  TStubServer server([&](httplib::Server& s) {
    s.Get("/x", [&](const httplib::Request& req, httplib::Response& res) {
      std::lock_guard<std::mutex> guard(lock);
      ports.insert(req.remote_port);
      res.set_content("x", "text/plain");
    });
  });
  HttpClient client;
  HttpRequest request;
  request.url = server.Url("/x");
  for (int i = 0; i < 3; ++i) client.Send(request);
  EXPECT_EQ(ports.size(), 1u);
}

TEST(HttpClientTest, ReportsTransportFailures) {
  int port = 0;
  {
    TStubServer gone([](httplib::Server&) {});
    port = std::stoi(gone.Url("").substr(17));
  }
  HttpClient client;
  HttpRequest request;
  request.url = "http://127.0.0.1:" + std::to_string(port) + "/";
  EXPECT_THROW(client.Send(request), platform::HttpTransportError);
  request.url = "http://127.0.0.1:1/";
  request.method = "PUT";
  request.bodyFile = "/nonexistent/file";
  EXPECT_THROW(client.Send(request), platform::HttpTransportError);
}

TEST(HttpClientTest, UrlEncodeKeepsOnlyTheSafeCharacters) {
  EXPECT_EQ(platform::UrlEncode("aZ09!$'()*-.@_"), "aZ09!$'()*-.@_");
  EXPECT_EQ(platform::UrlEncode("a b"), "a+b");
  EXPECT_EQ(platform::UrlEncode("'p' in parents&x=/\\~"), "'p'+in+parents%26x%3D%2F%5C%7E");
  EXPECT_EQ(platform::UrlEncode("ş"), "%C5%9F");
}

}  // namespace
}  // namespace calvora::test
