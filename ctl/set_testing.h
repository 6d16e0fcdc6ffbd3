// Test hooks of set (set.cpp), for its tests only: the file, display and time calls it makes,
// routed through one table that a test can override. The default entries are the real calls.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ctl/ctl.h"
#include "keeper/profiles.h"
#include "platform/tools.h"

namespace ctl {

struct SetCalls {
  bool (*listModes)(std::vector<Mode>& modes);
  Size (*screenSize)();
  bool (*regularFileExists)(const char* path);
  FileAccess (*probeWritable)(const std::string& path);
  FileAccess (*loadWaiting)(const std::string& path, std::vector<Record>& records,
                            keeper::FileEncoding& encoding);
  keeper::StoreStatus (*storeUserSize)(const char* path, const char* name, std::int32_t width,
                                       std::int32_t height);
  platform::OpenProbe (*probeOpen)(const char* path, bool forWriting);
  bool (*fileStamp)(const char* path, std::int64_t* stamp);
  bool (*keeperRunning)();
  void (*sleepMilliseconds)(std::uint32_t milliseconds);
};

// The table in use: the real calls unless a test has overridden entries.
SetCalls& setCalls();

// The real calls, to put back after a test.
const SetCalls& defaultSetCalls();

}  // namespace ctl
