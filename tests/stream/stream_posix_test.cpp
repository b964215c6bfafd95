// The file stream's behaviour that needs POSIX: UTF-8 names, an address-space limit, /dev/full.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <climits>
#include <filesystem>

#include "runtime/stream/c_stream.h"
#include "runtime/stream/ram_stream.h"
#include "runtime/stream/stream_factory.h"
#include "runtime/stream/stream_functions.h"
#include "runtime/stream/stream_module.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace kiln {
namespace {

class StreamPosixTest : public ::testing::Test {
 protected:
  void SetUp() override { InitStreamModule(); }
};

TEST_F(StreamPosixTest, ReadStringOfAWrongLengthFailsWithoutAHugeBuffer) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "an address-space limit does not mix with the sanitizer's shadow memory";
#else
  // A length field read from damaged data must not make the reader ask for gigabytes up front.
  int status = test::RunInChild(
      [] {
        std::string block = "short";
        try {
          TRamStream::Create(block.data(), static_cast<int64_t>(block.size()), 1, 0)->ReadString(INT_MAX);
        } catch (const TStreamReadException&) {
          return 0;
        } catch (...) {
          return 2;
        }
        return 1;
      },
      {.limits = {{RLIMIT_AS, 1u << 30}}});
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
#endif
}

TEST_F(StreamPosixTest, FileNamesReachThePlatformAsUtf8) {
  test::TempDir dir;
  Text path = Text::FromUtf8(dir /
                             "Dr\xC3\xBC"
                             "cke.txt");
  SaveText("x", path);
  EXPECT_TRUE(std::filesystem::exists(dir.Path() / "Dr\xC3\xBC"
                                                   "cke.txt"));
  EXPECT_EQ(LoadText(path), Text("x"));
}

TEST_F(StreamPosixTest, FileStreamReportsLostBytesAtClose) {
  // /dev/full accepts the open and fails every flush with ENOSPC.
  Ref<TStream> full = WritableStreamFromUrl("/dev/full");
  ASSERT_TRUE(full);
  full->WriteBytes("abc", 3);  // buffered
  EXPECT_THROW(full->Close(), TStreamWriteException);
  EXPECT_EQ(full->Close(), 0);
}

}  // namespace
}  // namespace kiln
