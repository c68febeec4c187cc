#pragma once
// The build configuration of test executables: every value can be set by a test.

#include <string>

#include "common/build_config.h"

namespace kx::test {

// Until set, every host is $KX_TEST_HOST, else "127.0.0.1:9", where nothing
// listens; the extra CA file is $KX_TEST_CA_FILE, else none.
void setHost(HostRole role, std::string hostAndPort);
void setAllHosts(std::string hostAndPort);
void setExtraCaFile(std::string path);
void setLowSpeedTimeSeconds(int seconds);

}  // namespace kx::test
