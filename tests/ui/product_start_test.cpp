// The product executable as a user starts it: one copy at a time, and the
// executable's folder as its working directory.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace kx {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const fs::path kProduct = fs::path(KX_BIN_DIR) / "KestrixSetup";

// One started copy of the product, without a display, with its standard output piped here.
class Product {
 public:
  Product(const fs::path& workingDirectory, const std::string& argv0, const fs::path& lockFolder) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) throw std::runtime_error("pipe");
    const std::string lockEnv = "XDG_RUNTIME_DIR=" + lockFolder.string();
    std::vector<std::string> environment{lockEnv, "HOME=" + lockFolder.string(), "PATH=/usr/bin:/bin"};
    pid_ = fork();
    if (pid_ == 0) {
      dup2(pipeFds[1], 1);
      close(pipeFds[0]);
      close(pipeFds[1]);
      if (chdir(workingDirectory.c_str()) != 0) _exit(126);
      std::vector<char*> envp;
      for (auto& entry : environment) envp.push_back(entry.data());
      envp.push_back(nullptr);
      char* argv[] = {const_cast<char*>(argv0.c_str()), nullptr};
      execve(kProduct.c_str(), argv, envp.data());
      _exit(127);
    }
    close(pipeFds[1]);
    out_ = pipeFds[0];
  }

  ~Product() {
    if (!exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    close(out_);
  }

  // Everything the copy wrote until it wrote a line or closed its output.
  std::string readLine(std::chrono::milliseconds timeout) {
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (text.find('\n') == std::string::npos) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      pollfd entry{out_, POLLIN, 0};
      if (left.count() <= 0 || poll(&entry, 1, static_cast<int>(left.count())) <= 0) break;
      char buffer[512];
      const ssize_t got = read(out_, buffer, sizeof buffer);
      if (got <= 0) break;
      text.append(buffer, got);
    }
    return text;
  }

  std::optional<int> waitExit(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    do {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        exited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(10ms);
    } while (std::chrono::steady_clock::now() < deadline);
    return std::nullopt;
  }

  void signal(int number) { kill(pid_, number); }
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  bool exited_ = false;
};

class ProductStart : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kx-product-test-XXXXXX";
    ASSERT_TRUE(mkdtemp(pattern));
    scratch_ = pattern;
    lockFolder_ = scratch_ / "run";
    fs::create_directory(lockFolder_);
    fs::permissions(lockFolder_, fs::perms::owner_all);
  }
  void TearDown() override { fs::remove_all(scratch_); }

  Product start(const fs::path& workingDirectory = "/", const std::string& argv0 = kProduct.string()) {
    return Product(workingDirectory, argv0, lockFolder_);
  }

  fs::path scratch_;
  fs::path lockFolder_;
};

constexpr auto kStartTime = 15s;

TEST_F(ProductStart, ASecondCopyExitsAtOnceShowingNothing) {
  Product first = start();
  ASSERT_TRUE(first.readLine(kStartTime).starts_with("window: http://127.0.0.1:"));
  Product second = start();
  EXPECT_EQ(second.waitExit(5s), 0);
  EXPECT_EQ(second.readLine(1s), "") << "the second copy shows no window";
  EXPECT_FALSE(first.waitExit(0ms)) << "the first copy runs on";
}

TEST_F(ProductStart, AfterTheFirstCopyIsKilledANewOneStarts) {
  Product first = start();
  ASSERT_TRUE(first.readLine(kStartTime).starts_with("window: "));
  first.signal(SIGKILL);
  ASSERT_EQ(first.waitExit(5s), 128 + SIGKILL);
  Product next = start();
  EXPECT_TRUE(next.readLine(kStartTime).starts_with("window: http://127.0.0.1:"));
}

TEST_F(ProductStart, WorksInTheExecutablesFolderWhateverFolderItIsStartedFrom) {
  const fs::path binFolder = fs::canonical(kProduct.parent_path());
  struct Case {
    const char* what;
    fs::path startedIn;
    std::string argv0;
    fs::path expected;
  } cases[] = {
      {"absolute path", scratch_, kProduct.string(), binFolder},
      {"relative path", binFolder.parent_path(), binFolder.filename().string() + "/KestrixSetup", binFolder},
      {"bare name", scratch_, "KestrixSetup", scratch_},
  };
  for (const auto& c : cases) {
    Product product = start(c.startedIn, c.argv0);
    ASSERT_TRUE(product.readLine(kStartTime).starts_with("window: ")) << c.what;
    EXPECT_EQ(fs::read_symlink("/proc/" + std::to_string(product.pid()) + "/cwd"), fs::canonical(c.expected)) << c.what;
  }
}

}  // namespace
}  // namespace kx
