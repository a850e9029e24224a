// The whole backend on a private Xvfb (its X side) with the Qt side offscreen.
#include <gtest/gtest.h>

#include <QTest>

#include "XClient.h"
#include "Xvfb.h"
#include "platform/x11/X11Backend.h"

namespace kestrova::platform::x11 {
namespace {

using kestrova::testing::TXClient;
using kestrova::testing::TXvfb;

TEST(X11Backend, HotKeyPressedOnTheDisplayReachesTheHandlerThroughThePump) {
  TXvfb server;
  KESTROVA_REQUIRE_XVFB(server);
  TX11Backend backend(server.Name().c_str());
  TPlatform& p = backend.Platform();
  EXPECT_STREQ(backend.Name(), "x11");
  const std::uint16_t id = p.HotKeys->AddAtom("Hotkey1");
  ASSERT_TRUE(p.HotKeys->Register(id, kModControl | kModAlt, kVirtualKeyS));
  std::vector<TUIEvent> events;
  p.Application->SetEventHandler([&](const TUIEvent& e) { events.push_back(e); });

  TXClient client(server.Name());
  client.PressKeys({"Control_L", "Alt_L", "s"});
  // The pump is what the capture loop calls once per frame.
  EXPECT_TRUE(QTest::qWaitFor(
      [&] {
        p.Application->ProcessMessages();
        return !events.empty();
      },
      5000));
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].Kind, TUIEventKind::HotKey);
  EXPECT_EQ(events[0].Param, id);

  // Idle in the message loop, the key arrives too; the handler ends the loop.
  events.clear();
  p.Application->SetEventHandler([&](const TUIEvent& e) {
    events.push_back(e);
    p.Application->Terminate();
  });
  client.PressKeys({"Control_L", "Alt_L", "s"});
  p.Application->RunMessageLoop();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].Kind, TUIEventKind::HotKey);
}

}  // namespace
}  // namespace kestrova::platform::x11
