// The page server of `kestrova view --browser`, spoken to with a raw socket.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <future>

#include "app/ViewServer.h"

namespace kestrova {
namespace {

namespace fs = std::filesystem;

class ViewServer : public ::testing::Test {
 protected:
  void SetUp() override {
    base = fs::temp_directory_path() / ("kestrova-serve-" + std::to_string(::getpid()));
    fs::create_directories(base / "site" / "sub");
    Write(base / "site" / "movie.html", "<html>page</html>");
    Write(base / "site" / "movie.swf", std::string("FWS\x06 binary\0data", 16));
    Write(base / "site" / "sub" / "index.html", "sub index");
    Write(base / "secret.txt", "outside the folder");
    fs::create_symlink(base / "secret.txt", base / "site" / "link.txt");
    server = std::make_unique<TStaticServer>((base / "site").string());
  }
  void TearDown() override {
    server.reset();
    fs::remove_all(base);
  }
  static void Write(const fs::path& p, const std::string& text) {
    std::ofstream(p, std::ios::binary) << text;
  }
  // Sends the raw request and returns the whole answer.
  std::string Ask(const std::string& request) {
    auto answered = std::async(std::launch::async, [this] { return server->ServeOne(5000); });
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(server->Port());
    std::string reply;
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
      send(fd, request.data(), request.size(), MSG_NOSIGNAL);
      char buffer[4096];
      ssize_t n;
      while ((n = recv(fd, buffer, sizeof buffer, 0)) > 0) reply.append(buffer, std::size_t(n));
    }
    close(fd);
    EXPECT_TRUE(answered.get());
    return reply;
  }
  std::string Get(const std::string& target) {
    return Ask("GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
  }
  static std::string Status(const std::string& reply) {
    return reply.substr(0, reply.find("\r\n"));
  }
  static std::string Body(const std::string& reply) {
    const std::size_t at = reply.find("\r\n\r\n");
    return at == std::string::npos ? "" : reply.substr(at + 4);
  }

  fs::path base;
  std::unique_ptr<TStaticServer> server;
};

TEST_F(ViewServer, ServesFilesUnderItsFolderWithTheirTypes) {
  std::string r = Get("/movie.swf");
  EXPECT_EQ(Status(r), "HTTP/1.1 200 OK");
  EXPECT_NE(r.find("Content-Type: application/x-shockwave-flash\r\n"), std::string::npos) << r;
  EXPECT_NE(r.find("Content-Length: 16\r\n"), std::string::npos) << r;
  EXPECT_EQ(Body(r), std::string("FWS\x06 binary\0data", 16));
  r = Get("/movie.html?autoplay=1");
  EXPECT_EQ(Status(r), "HTTP/1.1 200 OK");
  EXPECT_NE(r.find("text/html"), std::string::npos);
  EXPECT_EQ(Body(r), "<html>page</html>");
  EXPECT_EQ(Body(Get("/sub/")), "sub index");
  EXPECT_EQ(Body(Get("/%6dovie.html")), "<html>page</html>");
  r = Ask("HEAD /movie.html HTTP/1.1\r\n\r\n");
  EXPECT_EQ(Status(r), "HTTP/1.1 200 OK");
  EXPECT_EQ(Body(r), "");
}

TEST_F(ViewServer, RefusesWhatLiesOutsideAndWhatIsMissing) {
  struct {
    const char* Target;
    const char* Status;
  } cases[] = {
      {"/../secret.txt", "HTTP/1.1 403 Forbidden"},
      {"/sub/../../secret.txt", "HTTP/1.1 403 Forbidden"},
      {"/%2e%2e/secret.txt", "HTTP/1.1 403 Forbidden"},
      {"/..%2fsecret.txt", "HTTP/1.1 403 Forbidden"},
      {"/link.txt", "HTTP/1.1 404 Not Found"},  // a link out of the folder
      {"/missing.swf", "HTTP/1.1 404 Not Found"},
      {"/movie.swf%00.html", "HTTP/1.1 404 Not Found"},
      {"/%zz", "HTTP/1.1 404 Not Found"},
      {"relative.html", "HTTP/1.1 404 Not Found"},
  };
  for (const auto& c : cases) {
    const std::string r = Get(c.Target);
    EXPECT_EQ(Status(r), c.Status) << c.Target;
    EXPECT_EQ(r.find("outside the folder"), std::string::npos) << c.Target;
  }
  EXPECT_EQ(Status(Ask("POST /movie.html HTTP/1.1\r\n\r\n")), "HTTP/1.1 405 Method Not Allowed");
  EXPECT_EQ(Status(Ask("nonsense\r\n\r\n")), "HTTP/1.1 400 Bad Request");
}

}  // namespace
}  // namespace kestrova
