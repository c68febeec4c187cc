#include "tests/support/test_server.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>

extern char** environ;

namespace kx::test {

namespace {

// One certificate folder per test process, shared by its servers.
const std::string& certificateFolder() {
  static TempDir folder;
  return folder.path();
}

std::size_t appendTo(char* data, std::size_t size, std::size_t count, void* target) {
  static_cast<std::string*>(target)->append(data, size * count);
  return size * count;
}

}  // namespace

TestServer::TestServer() : TestServer(Options{}) {}

TestServer::TestServer(Options options) : tls_(options.tls) {
  std::vector<std::string> args = {KX_PYTHON, std::string(KX_SOURCE_DIR) + "/tests/support/" + options.script,
                                   "--lifetime", std::to_string(options.lifetimeSeconds)};
  args.insert(args.end(), options.arguments.begin(), options.arguments.end());
  if (tls_) {
    args.insert(args.end(), {"--tls", "--cert-dir", certificateFolder(), "--name", "*.kx.test"});
    for (const auto& name : options.names) args.insert(args.end(), {"--name", name});
    caFile_ = certificateFolder() + "/ca.pem";
  }
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  int in[2], out[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  const int rc = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(in[0]);
  close(out[1]);
  stdinFd_ = in[1];
  if (rc != 0) throw std::runtime_error("cannot start the test server");

  std::string line;
  char c;
  while (read(out[0], &c, 1) == 1 && c != '\n') line += c;
  close(out[0]);
  if (std::sscanf(line.c_str(), "PORT %d", &port_) != 1) throw std::runtime_error("test server failed: " + line);
}

TestServer::~TestServer() {
  if (stdinFd_ >= 0) close(stdinFd_);  // the server leaves when its input closes
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
}

std::string TestServer::hostAndPort() const { return "127.0.0.1:" + std::to_string(port_); }

std::string TestServer::url(const std::string& path) const {
  return std::string(tls_ ? "https://" : "http://") + hostAndPort() + path;
}

std::string TestServer::control(const std::string& path, const std::string& postBody) const {
  CURL* curl = curl_easy_init();
  std::string body;
  const std::string target = url(path);
  curl_easy_setopt(curl, CURLOPT_URL, target.c_str());
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, 10L);
  if (tls_) curl_easy_setopt(curl, CURLOPT_CAINFO, caFile_.c_str());
  if (!postBody.empty()) curl_easy_setopt(curl, CURLOPT_POSTFIELDS, postBody.c_str());
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, appendTo);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
  const CURLcode rc = curl_easy_perform(curl);
  curl_easy_cleanup(curl);
  if (rc != CURLE_OK) throw std::runtime_error(std::string("test server control failed: ") + curl_easy_strerror(rc));
  return body;
}

void TestServer::route(const std::string& path, const nlohmann::json& rule) { routes({{path, rule}}); }

void TestServer::routes(const nlohmann::json& pathToSpec) {
  control("/__control", nlohmann::json{{"routes", pathToSpec}}.dump());
}

void TestServer::reset() { command({{"reset", true}}); }

void TestServer::command(const nlohmann::json& command) { control("/__control", command.dump()); }

nlohmann::json TestServer::requests() const { return nlohmann::json::parse(control("/__requests", "")); }

std::vector<nlohmann::json> TestServer::requestsFor(const std::string& path) const {
  std::vector<nlohmann::json> matching;
  for (const auto& request : requests())
    if (request["path"] == path) matching.push_back(request);
  return matching;
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "kxtest-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

void writeRandomFile(const std::string& path, std::uint64_t size, unsigned seed) {
  std::mt19937_64 random(seed);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  std::uint64_t block[8192];
  for (std::uint64_t written = 0; written < size;) {
    for (auto& word : block) word = random();
    const std::uint64_t n = std::min<std::uint64_t>(sizeof block, size - written);
    out.write(reinterpret_cast<const char*>(block), static_cast<std::streamsize>(n));
    written += n;
  }
}

}  // namespace kx::test
