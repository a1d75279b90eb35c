// The fake HttpApi itself: a handle a test leaves open fails that test when the fake goes.
#include "web/tests/fake_http_api.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

namespace korvanel {
namespace {

TEST(FakeHttpApi, AHandleLeftOpenFailsTheTestWhenTheFakeGoes) {
  EXPECT_NONFATAL_FAILURE(
      {
        FakeHttpApi api;
        const HttpHandle session = api.Open(nullptr, kAccessTypeNoProxy, u"", nullptr, 0);
        const HttpHandle connection = api.Connect(session, u"example.com", 80, 0);
        api.OpenRequest(connection, u"GET", u"/", nullptr, nullptr, nullptr, 0);
        api.CloseHandle(session);
      },
      "handles never closed: connection, request");
}

TEST(FakeHttpApi, EveryHandleClosedIsNoFailure) {
  FakeHttpApi api;
  const HttpHandle session = api.Open(nullptr, kAccessTypeNoProxy, u"", nullptr, 0);
  const HttpHandle connection = api.Connect(session, u"example.com", 80, 0);
  api.CloseHandle(connection);
  api.CloseHandle(session);
}

}  // namespace
}  // namespace korvanel
