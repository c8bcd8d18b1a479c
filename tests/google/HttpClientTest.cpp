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

// A link that still trickles (below 1 KiB/s) never hits the no-byte
// time-out; the low-speed window cuts it so the caller's retries can start.
TEST(HttpClientTest, CutsATrickleBelowTheLowSpeedAfterItsWindow) {
  TStubServer server([](httplib::Server& s) {
    s.Get("/trickle", [](const httplib::Request&, httplib::Response& res) {
      res.set_chunked_content_provider("text/plain", [](size_t offset, httplib::DataSink& sink) {
        if (offset >= 60) {
          sink.done();
          return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        return sink.write("x", 1);
      });
    });
    s.Get("/quick", [](const httplib::Request&, httplib::Response& res) {
      res.set_content(std::string(100000, 'q'), "text/plain");
    });
  });
  HttpClient client;
  client.SetResponseTimeoutMs(1800000);
  client.SetLowSpeedWindowSeconds(1);
  HttpRequest request;
  request.url = server.Url("/trickle");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_THROW(client.Send(request), platform::HttpTransportError);
  const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(seconds, 8.0) << "the whole trickle would take 12 s";
  request.url = server.Url("/quick");
  EXPECT_EQ(client.Send(request).body.size(), 100000u);
}

// Addresses a server hands out (redirects, upload sessions) are followed
// to https, and to http on loopback only: never to a local file.
TEST(HttpClientTest, SpeaksOnlyHttpsAndLoopbackHttp) {
  TTempDir dir;
  const std::string victim = dir.File("victim.txt");
  WriteFile(victim, "keep me");
  TStubServer server([&](httplib::Server& s) {
    s.Put("/to-file", [&](const httplib::Request&, httplib::Response& res) {
      res.set_redirect("file://" + victim, 307);
    });
    s.Put("/to-remote-http", [](const httplib::Request&, httplib::Response& res) {
      res.set_redirect("http://203.0.113.7/upload", 307);
    });
    s.Put("/to-loopback", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/landed", 307); });
    s.Put("/landed", [](const httplib::Request& req, httplib::Response& res) {
      res.set_content(req.body, "text/plain");
    });
  });
  HttpClient client;
  client.SetConnectTimeoutMs(60000);
  HttpRequest request;
  request.method = "PUT";
  request.body = "upload data";
  const std::string refused[] = {"file://" + victim, "ftp://127.0.0.1/x", "gopher://127.0.0.1/", "http://203.0.113.7/x",
                                 "http://localhost.example.com/x", "http://127.0.0.1.nip.io/x", "dict://127.0.0.1/",
                                 server.Url("/to-file"), server.Url("/to-remote-http"), "not a url"};
  for (const std::string& url : refused) {
    request.url = url;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(client.Send(request), platform::HttpTransportError) << url;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << url << ": refused, not tried";
  }
  EXPECT_EQ(ReadFile(victim), "keep me");
  request.url = server.Url("/to-loopback");
  EXPECT_EQ(client.Send(request).body, "upload data");

  struct Case {
    const char* url;
    bool allowed;
    const char* origin;
  };
  const Case cases[] = {
      {"https://www.googleapis.com/upload/drive/v3/files?upload_id=x", true, "https://www.googleapis.com:443"},
      {"HTTPS://WWW.GoogleApis.com:443/x", true, "https://www.googleapis.com:443"},
      {"http://127.0.0.1:8765/upload", true, "http://127.0.0.1:8765"},
      {"http://localhost/x", true, "http://localhost:80"},
      {"http://[::1]:9/x", true, "http://[::1]:9"},
      {"http://www.googleapis.com/x", false, "http://www.googleapis.com:80"},
      {"file:///etc/passwd", false, ""},
      {"", false, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(platform::IsAllowedUrl(c.url), c.allowed) << c.url;
    EXPECT_EQ(platform::UrlOrigin(c.url), c.origin) << c.url;
  }
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
