// The output chosen to show the primary display, over a faked RandR answer: the RandR calls the
// chooser makes are answered here from a table (the sanitizers' run sees what they hand out
// freed).
// GoogleTest first: Xlib's macros (None among them) would break its headers.
// clang-format off
#include <gtest/gtest.h>

#include <vector>

#include "platform/x11_connection.h"
#include "platform/x11_output.h"
// clang-format on

namespace platform::x11 {
Connection connection;
bool connectionLost = false;
}  // namespace platform::x11

namespace {

// An output with the CRTC it drives (None: none) and the mode that shows (None: nothing).
struct Output {
  RROutput id;
  RRCrtc crtc;
  bool connected;
  RRMode mode;
};
RROutput primary = None;
std::vector<Output> outputs;
std::vector<RROutput> ids;

}  // namespace

XRRScreenResources* XRRGetScreenResourcesCurrent(Display*, Window) {
  ids.clear();
  for (const Output& output : outputs) ids.push_back(output.id);
  auto* resources = new XRRScreenResources{};
  resources->noutput = static_cast<int>(ids.size());
  resources->outputs = ids.data();
  return resources;
}

RROutput XRRGetOutputPrimary(Display*, Window) {
  return primary;
}

XRROutputInfo* XRRGetOutputInfo(Display*, XRRScreenResources*, RROutput id) {
  for (const Output& output : outputs) {
    if (output.id != id) continue;
    auto* info = new XRROutputInfo{};
    info->crtc = output.crtc;
    info->connection = output.connected ? RR_Connected : RR_Disconnected;
    return info;
  }
  return nullptr;
}

XRRCrtcInfo* XRRGetCrtcInfo(Display*, XRRScreenResources*, RRCrtc crtc) {
  for (const Output& output : outputs) {
    if (crtc == None || output.crtc != crtc) continue;
    auto* info = new XRRCrtcInfo{};
    info->mode = output.mode;
    return info;
  }
  return nullptr;
}

void XRRFreeScreenResources(XRRScreenResources* resources) {
  delete resources;
}

void XRRFreeOutputInfo(XRROutputInfo* info) {
  delete info;
}

void XRRFreeCrtcInfo(XRRCrtcInfo* info) {
  delete info;
}

namespace {

TEST(X11Output, ThePrimaryOutputElseTheFirstConnectedOneThatShowsAMode) {
  const struct {
    const char* name;
    RROutput primary;
    std::vector<Output> outputs;
    RRCrtc taken;  // the CRTC of the output taken; None: none is
  } cases[] = {
      {"the primary, though not the first", 2, {{1, 11, true, 1}, {2, 12, true, 2}}, 12},
      {"a primary not known to be connected", 1, {{1, 11, false, 1}}, 11},
      {"no primary: the first connected one",
       None,
       {{1, None, true, None}, {2, 12, false, 2}, {3, 13, true, 3}},
       13},
      {"a primary whose CRTC shows no mode", 1, {{1, 11, true, None}, {2, 12, true, 2}}, 12},
      {"a connected output whose CRTC shows no mode",
       None,
       {{1, 11, true, None}, {2, 12, true, 2}},
       12},
      {"nothing shows a mode", 1, {{1, 11, true, None}, {2, None, true, None}}, None},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    primary = c.primary;
    outputs = c.outputs;
    platform::x11::Target target;
    EXPECT_EQ(platform::x11::findTarget(nullptr, &target), c.taken != None);
    EXPECT_EQ(target.crtcId, c.taken);
    EXPECT_EQ(target.output != nullptr && target.crtc != nullptr, c.taken != None);
  }
}

}  // namespace
