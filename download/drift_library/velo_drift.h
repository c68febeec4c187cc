#pragma once
// The downloader library's interface: the installer sends commands as JSON
// text and the library answers through a listener with JSON messages.
//
// Commands (every value a JSON string):
//   {"methodId":"download","downloadid":ID,"downfile":[{"targeturl","filepath","md5",...}],
//    "threadnum","retry","connect_timeout" (ms),"callback_interval" (ms),...}
//       queues one task; tasks run one after another. Unknown keys are accepted.
//   {"methodId":"downloadqueueclear"}   drops every task that has not started
//   {"methodId":"downloadcancel"}       ends the running task; it reports nothing more.
//       It returns once the task has stopped (at once when sent from a listener call).
// Progress messages: {"downloadid","progress" (fraction 0..1),"speed" (bytes per second)}.
// Event messages: {"downloadid","code","filename","filepath","error"}, where filename
// is one of the internal names below or, once a file is complete or has failed,
// its file name. Codes: see kx::drift::Code.

#include <cstdint>

#define VELODRIFT_API __attribute__((visibility("default")))

namespace VeloDrift {

class VELODRIFT_API IVeloDownloadListener {
 public:
  IVeloDownloadListener();
  virtual void OnProgressMessage(const char* json) = 0;
  virtual void OnEventMessage(const char* json, std::int32_t reserved) = 0;

 protected:
  ~IVeloDownloadListener();
};

class VELODRIFT_API IVeloDownloadInterface {
 public:
  // The process-wide instance, created on first use.
  static IVeloDownloadInterface* getDLInst();
  // Registers the one listener; null unregisters. Returns only once no call
  // into the previous listener is running, so it may be deleted afterwards.
  virtual void SetListener(IVeloDownloadListener* listener) = 0;
  // Executes one command (zero-terminated UTF-8 JSON text). Text that is not
  // such a command is ignored.
  virtual void SendCommand(const char* json) = 0;

 protected:
  ~IVeloDownloadInterface() = default;
};

}  // namespace VeloDrift
