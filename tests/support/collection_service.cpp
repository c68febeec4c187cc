#include "tests/support/collection_service.h"

#include <thread>

namespace kx::test {

std::string testKeyConstantHex() { return KX_TEST_TELEMETRY_KEY_CONSTANT; }

CollectionService::CollectionService()
    : server_(TestServer::Options{.tls = false,
                                  .names = {},
                                  .lifetimeSeconds = 300,
                                  .script = "collector.py",
                                  .arguments = {"--key-constant", testKeyConstantHex()}}) {}

void CollectionService::answer(const std::vector<std::string>& answers) { server_.command({{"answers", answers}}); }

void CollectionService::release() { server_.command({{"release", true}}); }

bool CollectionService::waitForRequests(std::size_t count, std::chrono::milliseconds limit) const {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (received().size() < count) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

std::vector<nlohmann::json> CollectionService::records() const {
  std::vector<nlohmann::json> all;
  for (const auto& request : received())
    if (request["records"].is_array())
      for (const auto& record : request["records"]) all.push_back(record);
  return all;
}

}  // namespace kx::test
