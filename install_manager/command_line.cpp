#include "install_manager/command_line.h"

#include <mutex>

#include "common/strings.h"

namespace kx {

namespace {

std::mutex stateLock;
std::shared_ptr<const cxxopts::ParseResult> stored;
std::string channelText;

cxxopts::Options makeOptions() {
  cxxopts::Options options("Welcome", "Online download");
  options.allow_unrecognised_options();
  options.add_options()
      ("c,cfg", "game json cfg url", cxxopts::value<std::string>()->default_value(""))
      ("j,json", "platform json url", cxxopts::value<std::string>()->default_value(""))
      ("a,api", "api url", cxxopts::value<std::string>()->default_value(""))
      ("l,channel", "channel data", cxxopts::value<std::string>()->default_value(""))
      ("s,setup", "setup exe file path", cxxopts::value<std::string>()->default_value(""));
  return options;
}

std::shared_ptr<const cxxopts::ParseResult> parseUtf8(const std::vector<std::string>& utf8) {
  // The parser reads argv[0] unconditionally, so an empty list gets a blank program name.
  std::vector<const char*> argv;
  if (utf8.empty()) argv.push_back("");
  for (const auto& arg : utf8) argv.push_back(arg.c_str());
  auto options = makeOptions();
  return std::make_shared<const cxxopts::ParseResult>(options.parse(static_cast<int>(argv.size()), argv.data()));
}

}  // namespace

std::shared_ptr<const cxxopts::ParseResult> parseArguments(const std::vector<std::wstring>& args,
                                                           std::ostream& errors) {
  std::vector<std::string> utf8;
  for (const auto& arg : args) utf8.push_back(toUtf8(arg));
  try {
    return parseUtf8(utf8);
  } catch (const cxxopts::exceptions::exception& e) {
    errors << "Ignoring the command line, it cannot be parsed: " << e.what() << '\n';
    return parseUtf8(utf8.empty() ? utf8 : std::vector<std::string>{utf8.front()});
  }
}

void storeCommandLine(std::shared_ptr<const cxxopts::ParseResult> result) {
  std::lock_guard lock(stateLock);
  if (!stored) stored = std::move(result);
}

std::shared_ptr<const cxxopts::ParseResult> storedCommandLine() {
  std::lock_guard lock(stateLock);
  return stored;
}

std::string commandLineValue(const std::string& name) {
  const auto result = storedCommandLine();
  if (!result || result->count(name) == 0) return {};
  return (*result)[name].as<std::string>();
}

std::string channel() {
  std::lock_guard lock(stateLock);
  return channelText;
}

void setChannel(std::string value) {
  std::lock_guard lock(stateLock);
  channelText = std::move(value);
}

}  // namespace kx
