// A small HTTP/1.1 server of static files for `kestrova view --browser`: it serves one folder on
// 127.0.0.1 so that a browser fetches the movie the page embeds (browsers refuse that to a page
// opened from disk). Only files under the folder are served; one request per connection.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace kestrova {

// A socket: a file descriptor on POSIX systems, a SOCKET (an unsigned handle) on Windows.
#ifdef _WIN32
using TSocketHandle = std::uintptr_t;
#else
using TSocketHandle = int;
#endif

class TStaticServer {
 public:
  // Serves root (a folder). Throws std::runtime_error when the folder does not exist or no port
  // can be had.
  explicit TStaticServer(const std::string& root);
  ~TStaticServer();
  TStaticServer(const TStaticServer&) = delete;
  TStaticServer& operator=(const TStaticServer&) = delete;

  // The port the kernel gave, on 127.0.0.1.
  std::uint16_t Port() const { return FPort; }
  // Answers requests until stop is set (checked at least every 200 ms).
  void Serve(const std::atomic<bool>& stop);
  // Answers one connection; false when none came within timeoutMs.
  bool ServeOne(int timeoutMs);

  // The file under root a request path names, or empty when it names none: a path that is not
  // absolute, holds a ".." or "." segment, a NUL or a backslash after its %-escapes are decoded,
  // or leads (through a link) outside root. "/" and folders name their index.html.
  std::string Resolve(const std::string& target) const;

 private:
  void Answer(TSocketHandle connection);
  std::string FRoot;  // canonical
  TSocketHandle FSocket = static_cast<TSocketHandle>(-1);
  std::uint16_t FPort = 0;
};

// The Content-Type of a file by its extension.
const char* ContentTypeOf(const std::string& fileName);

}  // namespace kestrova
