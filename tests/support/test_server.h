#pragma once
// Starts tests/support/kxserver.py on 127.0.0.1 for one test (or fixture) and
// scripts it: routes are JSON objects as described at the top of kxserver.py.
// The server ends when this object is destroyed, or by itself after its lifetime.

#include <sys/types.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace kx::test {

class TestServer {
 public:
  struct Options {
    bool tls = true;
    // Extra DNS names the certificate is valid for (it always holds 127.0.0.1,
    // localhost and *.kx.test).
    std::vector<std::string> names;
    int lifetimeSeconds = 300;
    // The server program in tests/support/ and its own arguments; it speaks
    // the same start line and control protocol as kxserver.py.
    std::string script = "kxserver.py";
    std::vector<std::string> arguments;
  };

  TestServer();
  explicit TestServer(Options options);
  ~TestServer();
  TestServer(const TestServer&) = delete;
  TestServer& operator=(const TestServer&) = delete;

  int port() const { return port_; }
  // "127.0.0.1:PORT", as a host role's value.
  std::string hostAndPort() const;
  // "https://127.0.0.1:PORT" + path (http:// without TLS).
  std::string url(const std::string& path) const;
  // The CA that signed the server's certificate (empty without TLS).
  std::string caFile() const { return caFile_; }

  // Adds or replaces the route for `path` (query not included).
  void route(const std::string& path, const nlohmann::json& rule);
  void routes(const nlohmann::json& pathToSpec);
  // Forgets every route and every recorded request.
  void reset();
  // Posts one control command (see the server program's description).
  void command(const nlohmann::json& command);
  // Every request received so far, oldest first (see kxserver.py for the fields).
  nlohmann::json requests() const;
  // Only the requests whose path is `path`.
  std::vector<nlohmann::json> requestsFor(const std::string& path) const;

 private:
  std::string control(const std::string& path, const std::string& postBody) const;

  bool tls_;
  pid_t pid_ = -1;
  int stdinFd_ = -1;
  int port_ = 0;
  std::string caFile_;
};

// A folder of its own under the system temporary folder, removed with this object.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Writes `size` pseudo-random bytes (fixed by `seed`) to `path`.
void writeRandomFile(const std::string& path, std::uint64_t size, unsigned seed = 1);

}  // namespace kx::test
