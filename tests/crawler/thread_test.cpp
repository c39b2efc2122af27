#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "thread.h"

namespace {

class Throwing : public Thread {
 public:
  ~Throwing() override { join(); }
  using Thread::start;

 protected:
  void run() override { throw std::runtime_error("no memory left"); }
};

TEST(Thread, ExceptionLeavingRunEndsOnlyThatThreadWithOneLine) {
  testing::internal::CaptureStderr();
  {
    Throwing thread;
    thread.start();
    thread.join();
    EXPECT_FALSE(thread.isAttached());
  }
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR THREAD no memory left\n");
}

}  // namespace
