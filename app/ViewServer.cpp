#include "app/ViewServer.h"

#ifdef _WIN32
// Winsock with the few POSIX names the server uses.
#include <winsock2.h>
#include <ws2tcpip.h>
#define SOCK_CLOEXEC 0  // Windows sockets are made not inheritable below
#define MSG_NOSIGNAL 0  // Windows raises no signal on a closed connection
#define SHUT_WR SD_SEND
using socklen_t = int;
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <vector>

namespace kestrova {

namespace fs = std::filesystem;

namespace {

// The most a request's head may hold; a longer one is refused.
constexpr std::size_t kMaxRequestHead = 16 * 1024;

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Decodes %-escapes; false for a broken escape.
bool Unescape(const std::string& in, std::string& out) {
  out.clear();
  for (std::size_t i = 0; i < in.size(); ++i) {
    if (in[i] != '%') {
      out += in[i];
      continue;
    }
    if (i + 2 >= in.size()) return false;
    const int hi = HexValue(in[i + 1]), lo = HexValue(in[i + 2]);
    if (hi < 0 || lo < 0) return false;
    out += static_cast<char>(hi * 16 + lo);
    i += 2;
  }
  return true;
}

#ifdef _WIN32
void CloseSocket(TSocketHandle fd) {
  closesocket(fd);
}
int Poll(pollfd* p, int timeoutMs) {
  return WSAPoll(p, 1, timeoutMs);
}
TSocketHandle Accept(TSocketHandle fd) {
  return accept(fd, nullptr, nullptr);
}
bool ValidSocket(TSocketHandle fd) {
  return fd != INVALID_SOCKET;
}
std::string SocketError() {
  return "Winsock error " + std::to_string(WSAGetLastError());
}
void SetTimeouts(TSocketHandle fd, int seconds) {
  const DWORD ms = static_cast<DWORD>(seconds) * 1000;
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&ms), sizeof ms);
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&ms), sizeof ms);
}
TSocketHandle ListeningSocket() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  if (!started) return INVALID_SOCKET;
  return WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
}
#else
void CloseSocket(TSocketHandle fd) {
  close(fd);
}
int Poll(pollfd* p, int timeoutMs) {
  return poll(p, 1, timeoutMs);
}
TSocketHandle Accept(TSocketHandle fd) {
  return accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
}
bool ValidSocket(TSocketHandle fd) {
  return fd >= 0;
}
std::string SocketError() {
  return std::strerror(errno);
}
void SetTimeouts(TSocketHandle fd, int seconds) {
  timeval timeout{seconds, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
}
TSocketHandle ListeningSocket() {
  return socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
}
#endif

bool SendAll(TSocketHandle fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n =
        send(fd, data, static_cast<int>(std::min<std::size_t>(size, 1 << 20)), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

void SendStatus(TSocketHandle fd, const char* status, bool body) {
  const std::string text = std::string(status) + "\n";
  std::string head = std::string("HTTP/1.1 ") + status +
                     "\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: " +
                     std::to_string(text.size()) + "\r\nConnection: close\r\n\r\n";
  if (body) head += text;
  SendAll(fd, head.data(), head.size());
}

}  // namespace

const char* ContentTypeOf(const std::string& fileName) {
  static const struct {
    const char* Extension;
    const char* Type;
  } kTypes[] = {
      {".html", "text/html; charset=utf-8"},
      {".htm", "text/html; charset=utf-8"},
      {".swf", "application/x-shockwave-flash"},
      {".js", "text/javascript"},
      {".mjs", "text/javascript"},
      {".wasm", "application/wasm"},
      {".json", "application/json"},
      {".css", "text/css"},
      {".png", "image/png"},
      {".txt", "text/plain; charset=utf-8"},
  };
  const std::string ext = fs::path(fileName).extension().string();
  for (const auto& t : kTypes) {
    if (ext == t.Extension) return t.Type;
  }
  return "application/octet-stream";
}

TStaticServer::TStaticServer(const std::string& root) {
  std::error_code ec;
  FRoot = fs::canonical(root, ec).string();
  if (ec || !fs::is_directory(FRoot)) throw std::runtime_error("no folder \"" + root + "\"");
  FSocket = ListeningSocket();
  if (!ValidSocket(FSocket)) throw std::runtime_error("no socket: " + SocketError());
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof address;
  if (bind(FSocket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(FSocket, 16) != 0 ||
      getsockname(FSocket, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    const std::string why = SocketError();
    CloseSocket(FSocket);
    throw std::runtime_error("cannot listen on 127.0.0.1: " + why);
  }
  FPort = ntohs(address.sin_port);
}

TStaticServer::~TStaticServer() {
  if (ValidSocket(FSocket)) CloseSocket(FSocket);
}

std::string TStaticServer::Resolve(const std::string& target) const {
  std::string path = target.substr(0, target.find_first_of("?#"));
  std::string decoded;
  if (path.empty() || path[0] != '/' || !Unescape(path, decoded)) return "";
  if (decoded.find('\0') != std::string::npos || decoded.find('\\') != std::string::npos) return "";
#ifdef _WIN32
  // A drive ("/C:/...") or a file's second stream ("movie.swf:x") is never under the folder.
  if (decoded.find(':') != std::string::npos) return "";
#endif
  // No segment may climb or stand still, whatever the file system would make of it.
  std::size_t start = 1;
  while (start <= decoded.size()) {
    const std::size_t end = std::min(decoded.find('/', start), decoded.size());
    const std::string segment = decoded.substr(start, end - start);
    if (segment == ".." || segment == ".") return "";
    start = end + 1;
  }
  fs::path file = fs::path(FRoot) / decoded.substr(1);
  std::error_code ec;
  if (fs::is_directory(file, ec)) file /= "index.html";
  const fs::path real = fs::canonical(file, ec);
  if (ec) return "";
  // A link inside the folder may still point out of it.
  const std::string text = real.string();
  if (text.compare(0, FRoot.size(), FRoot) != 0 ||
      (text.size() > FRoot.size() && text[FRoot.size()] != '/' &&
       text[FRoot.size()] != static_cast<char>(fs::path::preferred_separator))) {
    return "";
  }
  if (!fs::is_regular_file(real, ec)) return "";
  return text;
}

void TStaticServer::Answer(TSocketHandle fd) {
  // A client that sends nothing does not hold the server for long.
  SetTimeouts(fd, 5);
  std::string head;
  char buffer[4096];
  while (head.find("\r\n\r\n") == std::string::npos && head.size() < kMaxRequestHead) {
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    head.append(buffer, static_cast<std::size_t>(n));
  }
  const std::size_t lineEnd = head.find("\r\n");
  if (lineEnd == std::string::npos)
    return SendStatus(fd, "431 Request Header Fields Too Large", true);
  const std::string line = head.substr(0, lineEnd);
  const std::size_t s1 = line.find(' '), s2 = line.rfind(' ');
  if (s1 == std::string::npos || s2 == s1 || line.compare(s2 + 1, 5, "HTTP/") != 0) {
    return SendStatus(fd, "400 Bad Request", true);
  }
  const std::string method = line.substr(0, s1), target = line.substr(s1 + 1, s2 - s1 - 1);
  const bool headOnly = method == "HEAD";
  if (method != "GET" && !headOnly) return SendStatus(fd, "405 Method Not Allowed", true);
  const std::string file = Resolve(target);
  if (file.empty()) {
    const bool escape = target.find("..") != std::string::npos ||
                        target.find("%2e") != std::string::npos ||
                        target.find("%2E") != std::string::npos;
    return SendStatus(fd, escape ? "403 Forbidden" : "404 Not Found", !headOnly);
  }
  std::ifstream in(file, std::ios::binary);
  std::error_code ec;
  const std::uintmax_t size = fs::file_size(file, ec);
  if (!in || ec) return SendStatus(fd, "404 Not Found", !headOnly);
  const std::string response = std::string("HTTP/1.1 200 OK\r\nContent-Type: ") +
                               ContentTypeOf(file) + "\r\nContent-Length: " + std::to_string(size) +
                               "\r\nCache-Control: no-cache\r\nConnection: close\r\n\r\n";
  if (!SendAll(fd, response.data(), response.size()) || headOnly) return;
  std::vector<char> chunk(64 * 1024);
  while (in) {
    in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    const auto got = static_cast<std::size_t>(in.gcount());
    if (got == 0 || !SendAll(fd, chunk.data(), got)) return;
  }
}

bool TStaticServer::ServeOne(int timeoutMs) {
  pollfd p{FSocket, POLLIN, 0};
  if (Poll(&p, timeoutMs) <= 0) return false;
  const TSocketHandle fd = Accept(FSocket);
  if (!ValidSocket(fd)) return false;
  Answer(fd);
  shutdown(fd, SHUT_WR);
  CloseSocket(fd);
  return true;
}

void TStaticServer::Serve(const std::atomic<bool>& stop) {
  while (!stop.load()) ServeOne(200);
}

}  // namespace kestrova
