// From a whole request to the status and JSON answer, with the recogniser's result injected.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "service/error_answer.h"
#include "service/wave_builder.h"
#include "speech_request.h"

namespace quorel::service {
namespace {

constexpr char kTarget[] = "/speech-api/v2/recognize?output=json&lang=en-us&key=K1";
constexpr char kContentType[] = "audio/l16; rate=16000;";

class SpeechAnswer : public testing::Test {
 protected:
  SpeechAnswer() {
    std::string problem;
    keys_.Add("K1", &problem);
  }

  SpeechReply Answer(const std::string& body, const char* target = kTarget,
                     const char* method = "POST", const char* contentType = kContentType) {
    return AnswerSpeechRequest({method, target, contentType, body}, keys_,
                               [this](const std::vector<int16_t>& samples) {
                                 heard_ = samples;
                                 return recognition_;
                               });
  }

  // The error object's status, after checking the answer's shape.
  static int ErrorStatus(const SpeechReply& reply) {
    EXPECT_NE(test::ErrorCode(reply.body, reply.status), "") << reply.body;
    return reply.status;
  }

  AccessKeys keys_;
  Recognition recognition_{true, "hello world", 0.75};
  std::vector<int16_t> heard_;
};

TEST_F(SpeechAnswer, GivesTheTranscriptConfidenceAndDuration) {
  const std::string pcm("\x01\x00\xff\xff\x00\x80", 6);
  const SpeechReply reply = Answer(test::MakeEnvelope(test::MakeWave(pcm)));
  ASSERT_EQ(reply.status, 200) << reply.body;
  const auto answer = nlohmann::json::parse(reply.body);
  EXPECT_EQ(answer.at("transcript"), "hello world");
  EXPECT_DOUBLE_EQ(answer.at("confidence").get<double>(), 0.75);
  EXPECT_DOUBLE_EQ(answer.at("duration_seconds").get<double>(), 3 / 16000.0);
  EXPECT_EQ(heard_, (std::vector<int16_t>{1, -1, -32768}));

  // The same audio as a standard form upload, output and lang left to their defaults.
  heard_.clear();
  const SpeechReply form =
      Answer(test::MakeFormData(test::MakeWave(pcm), "xyz"), "/speech-api/v2/recognize?key=K1",
             "POST", "multipart/form-data; boundary=xyz");
  ASSERT_EQ(form.status, 200) << form.body;
  EXPECT_EQ(form.body, reply.body);
  EXPECT_EQ(heard_, (std::vector<int16_t>{1, -1, -32768}));
}

TEST_F(SpeechAnswer, AnswersEachFaultWithItsStatus) {
  const std::string wave = test::MakeWave(test::SilencePcm(0.1));
  const std::string good = test::MakeEnvelope(wave);
  EXPECT_EQ(ErrorStatus(Answer(good, "/elsewhere")), 404);
  EXPECT_EQ(ErrorStatus(Answer(good, kTarget, "GET")), 405);
  EXPECT_EQ(ErrorStatus(Answer(good, "/speech-api/v2/recognize?output=xml&key=K1")), 400);
  EXPECT_EQ(ErrorStatus(Answer(good, "/speech-api/v2/recognize?output=json&lang=en-us&key=")), 401);
  EXPECT_EQ(ErrorStatus(Answer(good, "/speech-api/v2/recognize?output=json&lang=en-us&key=K2")),
            403);
  EXPECT_EQ(ErrorStatus(Answer(good, kTarget, "POST", "application/octet-stream")), 415);
  EXPECT_EQ(ErrorStatus(Answer(good, kTarget, "POST", "multipart/form-data")), 400);
  EXPECT_EQ(ErrorStatus(Answer(good, kTarget, "POST", "multipart/form-data; boundary=other")), 400);
  EXPECT_EQ(ErrorStatus(Answer(wave)), 400);
  EXPECT_EQ(ErrorStatus(Answer(test::MakeEnvelope(test::MakeWave("", {1, 2, 16000, 16})))), 415);
  EXPECT_EQ(ErrorStatus(Answer(test::MakeEnvelope(test::MakeWave("abcd", {}, 8)))), 400);
  EXPECT_TRUE(heard_.empty());
  recognition_.succeeded = false;
  EXPECT_EQ(ErrorStatus(Answer(good)), 500);
}

TEST(AudioL16, MatchesTheMediaTypeWhateverItsParameters) {
  EXPECT_TRUE(IsAudioL16("audio/l16; rate=16000;"));
  EXPECT_TRUE(IsAudioL16("Audio/L16"));
  EXPECT_FALSE(IsAudioL16("audio/l16x; rate=16000"));
  EXPECT_FALSE(IsAudioL16(""));
  EXPECT_FALSE(IsAudioL16("multipart/form-data; boundary=x"));
}

}  // namespace
}  // namespace quorel::service
