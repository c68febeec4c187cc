#pragma once
// The build configuration of test executables: every value can be set by a test.

#include <string>

#include "common/build_config.h"

namespace kx::test {

// Until set, every host is $KX_TEST_HOST, else "127.0.0.1:9", where nothing
// listens, except the telemetry host, which is $KX_TEST_TELEMETRY_HOST when
// that is set; the extra CA file is $KX_TEST_CA_FILE, else none. The
// telemetry key constant is KX_TEST_TELEMETRY_KEY_CONSTANT
// (tests/CMakeLists.txt), which test programs in other languages receive in
// their environment.
void setHost(HostRole role, std::string hostAndPort);
void setAllHosts(std::string hostAndPort);
void setExtraCaFile(std::string path);
void setLowSpeedTimeSeconds(int seconds);

}  // namespace kx::test
