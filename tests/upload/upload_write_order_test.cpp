// Where in the sequence of writes the connection is lost, or the file changes, decides the
// result code; a checkpoint before each write holds the client until the server has acted.
#include <unistd.h>

#include "VantrelQuorelSpeech.h"
#include "upload/upload_fixture.h"
#include "upload/write_checkpoint.h"

namespace quorel::test {
namespace {

constexpr size_t kHeadLength = 96;
constexpr size_t kFileLength = 3000;
// Head, then chunks of 1024 (the last one shorter), then the tail.
constexpr size_t kFirstFileWrite = 1;
constexpr size_t kTailWrite = 2 + kFileLength / 1024;

class UploadWriteOrder : public UploadTest {
 protected:
  void SetUp() override {
    UploadTest::SetUp();
    file_ = PatternedBytes(kFileLength);
    WriteFile(audio_, file_);
  }
  void TearDown() override {
    SetWriteCheckpoint(nullptr);
    UploadTest::TearDown();
  }

  // The server reads bodyBytes of the body and holds; just before its write number heldWrite
  // the client lets the server reset the connection, and waits until it has.
  int32_t UploadWithResetBefore(size_t heldWrite, uint64_t bodyBytes) {
    TlsServerOptions options;
    options.misbehaviour = Misbehaviour::kCloseInRequest;
    options.requestBodyLimit = bodyBytes;
    options.holdUntilReleased = true;
    const auto server = Serve(options);
    TlsTestServer& reference = *server;
    SetWriteCheckpoint([&reference, heldWrite](size_t write) {
      if (write != heldWrite) return;
      reference.Release();
      EXPECT_TRUE(reference.WaitForMisbehaviour());
    });
    return Upload(*server, audio_);
  }

  const std::string audio_ = ScratchPath("audio.wav");
  std::string file_;
};

TEST_F(UploadWriteOrder, ResetRightAfterTheHeaderFailsTheHead) {
  EXPECT_EQ(UploadWithResetBefore(0, 0), QUOREL_SPEECH_HEAD_SEND_FAILED);
}

TEST_F(UploadWriteOrder, ResetInTheHeadFailsTheNextWriteOfTheFile) {
  EXPECT_EQ(UploadWithResetBefore(kFirstFileWrite, kHeadLength / 2),
            QUOREL_SPEECH_AUDIO_SEND_FAILED);
}

TEST_F(UploadWriteOrder, ResetAfterTheFileFailsTheTail) {
  EXPECT_EQ(UploadWithResetBefore(kTailWrite, kHeadLength + kFileLength),
            QUOREL_SPEECH_TAIL_SEND_FAILED);
}

TEST_F(UploadWriteOrder, ResetInTheTailLeavesTheRequestWithoutAnswer) {
  TlsServerOptions options;
  options.misbehaviour = Misbehaviour::kCloseInRequest;
  options.requestBodyLimit = kHeadLength + kFileLength + 10;
  const auto server = Serve(options);
  EXPECT_EQ(Upload(*server, audio_), QUOREL_SPEECH_NO_ANSWER);
}

TEST_F(UploadWriteOrder, FileThatShrinksDuringTheUploadFailsAsARead) {
  const auto server = Serve();
  SetWriteCheckpoint([this](size_t write) {
    if (write == kFirstFileWrite) {
      ASSERT_EQ(truncate(audio_.c_str(), 1500), 0);
    }
  });
  EXPECT_EQ(Upload(*server, audio_), QUOREL_SPEECH_AUDIO_READ_FAILED);
}

TEST_F(UploadWriteOrder, FileThatGrowsDuringTheUploadSendsOnlyTheDeclaredBytes) {
  const auto server = Serve();
  SetWriteCheckpoint([this](size_t write) {
    if (write == kFirstFileWrite) WriteFile(audio_, file_ + PatternedBytes(5000));
  });
  ASSERT_EQ(Upload(*server, audio_), QUOREL_SUCCESS);
  const auto exchanges = server->WaitForExchanges(1);
  ASSERT_EQ(exchanges.size(), 1u);
  ExpectWireRequest(exchanges[0], file_);
}

}  // namespace
}  // namespace quorel::test
