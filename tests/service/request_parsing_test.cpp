// The service's reading of a request: target, keys, envelope and WAV, without any network.
#include <gtest/gtest.h>

#include <fstream>
#include <optional>

#include "access_keys.h"
#include "log_line.h"
#include "multipart_envelope.h"
#include "request_target.h"
#include "service/wave_builder.h"
#include "wave_audio.h"

namespace quorel::service {
namespace {

using test::MakeEnvelope;
using test::MakeWave;
using test::SilencePcm;

constexpr char kPrefix[] = "/speech-api/v2/recognize?output=json&lang=en-us&key=";

TEST(RequestTarget, TakesTheKeyToTheEndOfTheTarget) {
  // The key is a view into the target, which must outlive it.
  const std::string plainTarget = std::string(kPrefix) + "K1";
  const RequestTarget plain = ParseRequestTarget(plainTarget);
  EXPECT_EQ(plain.verdict, TargetVerdict::kAccepted);
  EXPECT_EQ(plain.wireKey, "K1");
  // The library does not escape & or =, so they belong to the key.
  const std::string trickyTarget = std::string(kPrefix) + "a&b=c&lang=xx";
  const RequestTarget tricky = ParseRequestTarget(trickyTarget);
  EXPECT_EQ(tricky.verdict, TargetVerdict::kAccepted);
  EXPECT_EQ(tricky.wireKey, "a&b=c&lang=xx");
  // output and lang default to json and en-us, in either order.
  for (const char* target :
       {"/speech-api/v2/recognize?key=K1", "/speech-api/v2/recognize?lang=en-us&key=K1",
        "/speech-api/v2/recognize?lang=en-us&output=json&key=K1"}) {
    const RequestTarget defaults = ParseRequestTarget(target);
    EXPECT_EQ(defaults.verdict, TargetVerdict::kAccepted) << target;
    EXPECT_EQ(defaults.wireKey, "K1") << target;
  }
}

TEST(RequestTarget, RefusesOtherPathsQueriesAndMissingKeys) {
  EXPECT_EQ(ParseRequestTarget("/speech-api/v2/recognise?output=json&lang=en-us&key=K").verdict,
            TargetVerdict::kUnknownPath);
  EXPECT_EQ(ParseRequestTarget("/").verdict, TargetVerdict::kUnknownPath);
  for (const char* target : {"/speech-api/v2/recognize?output=xml&lang=en-us&key=K",
                             "/speech-api/v2/recognize?output=json&lang=de-de&key=K",
                             "/speech-api/v2/recognize?output=json&output=json&lang=en-us&key=K",
                             "/speech-api/v2/recognize?output=json&lang=en-us&x=1&key=K",
                             "/speech-api/v2/recognize?output=json&&lang=en-us&key=K"}) {
    EXPECT_EQ(ParseRequestTarget(target).verdict, TargetVerdict::kMalformedQuery) << target;
  }
  EXPECT_EQ(ParseRequestTarget(std::string(kPrefix)).verdict, TargetVerdict::kMissingKey);
  EXPECT_EQ(ParseRequestTarget("/speech-api/v2/recognize?output=json&lang=en-us").verdict,
            TargetVerdict::kMissingKey);
  EXPECT_EQ(ParseRequestTarget("/speech-api/v2/recognize").verdict, TargetVerdict::kMissingKey);
}

TEST(RequestTarget, EncodesKeysAsTheLibraryDoesAndRedactsThem) {
  EXPECT_EQ(EncodeKeyForTarget("a b\"<>\\^`{|}\x7f\x01"), "a%20b%22%3C%3E%5C%5E%60%7B%7C%7D%7F%01");
  EXPECT_EQ(EncodeKeyForTarget("\xc3\xa9&=%+"), "%C3%A9&=%+");
  EXPECT_EQ(RedactKey(std::string(kPrefix) + "secret&more"), std::string(kPrefix) + "***");
  EXPECT_EQ(RedactKey("/elsewhere?x=1"), "/elsewhere?x=1");
  for (const char* malformed :
       {"/r;key=secret", "/r?a=1&KEY=secret", "/r?a=1&amp;key=secret", "/r?Key%3Dsecret"}) {
    EXPECT_EQ(RedactKey(malformed).find("secret"), std::string::npos) << malformed;
  }
}

TEST(LogLine, EscapesControlsAndMasksTheKey) {
  EXPECT_EQ(EscapeForLog("a\x1b[2J\r\n\x9b\\z"), "a\\x1b[2J\\x0d\\x0a\\x9b\\x5cz");
  LogEntry entry{"127.0.0.1:5", "POST", "/r\r\n2026 fake?KEY=secret", 200, "", 7, ""};
  const std::string line = FormatLogLine(entry, 0);
  EXPECT_EQ(line,
            "1970-01-01T00:00:00Z 127.0.0.1:5 POST /r\\x0d\\x0a2026 fake?KEY=*** 200 in=- out=7");
}

TEST(AccessKeys, MatchesTheWireFormOnly) {
  AccessKeys keys;
  std::string problem;
  ASSERT_TRUE(keys.Add("two words", &problem));
  ASSERT_TRUE(keys.Add("K1", &problem));
  EXPECT_TRUE(keys.Accepts("two%20words"));
  EXPECT_TRUE(keys.Accepts("K1"));
  EXPECT_FALSE(keys.Accepts("two words"));
  EXPECT_FALSE(keys.Accepts("K"));
  EXPECT_FALSE(keys.Accepts("K1 "));
  EXPECT_FALSE(keys.Add("", &problem));
  EXPECT_FALSE(keys.Add(" \t ", &problem));
  EXPECT_FALSE(keys.Add("what?", &problem));
  ASSERT_TRUE(keys.Add("a#b", &problem));  // the library sends "#" as it is
  EXPECT_TRUE(keys.Accepts("a#b"));
}

TEST(AccessKeys, ReadsAKeysFileTrimmedSkippingCommentsAndBlankLines) {
  const std::string path = testing::TempDir() + "keys.txt";
  std::ofstream(path) << "# team keys\r\n\nalpha\r\nbeta\n  gamma  \n\t \n  # aside\ndelta one\t\n";
  AccessKeys keys;
  std::string problem;
  ASSERT_TRUE(keys.AddFromFile(path, &problem)) << problem;
  for (const char* key : {"alpha", "beta", "gamma", "delta%20one"}) EXPECT_TRUE(keys.Accepts(key));
  for (const char* key : {"# team keys", "  gamma  ", "%20%20gamma%20%20", "# aside"}) {
    EXPECT_FALSE(keys.Accepts(key)) << key;
  }
  // Only the key with a blank inside is worth a warning, which names its line, not the key.
  ASSERT_EQ(keys.Warnings().size(), 1u);
  EXPECT_NE(keys.Warnings()[0].find("on line 8 of " + path), std::string::npos);
  EXPECT_EQ(keys.Warnings()[0].find("delta"), std::string::npos);
  EXPECT_FALSE(keys.AddFromFile(path + ".missing", &problem));
  std::ofstream(path) << "alpha\nwhat?\n";
  EXPECT_FALSE(keys.AddFromFile(path, &problem));
  EXPECT_NE(problem.find("on line 2 of " + path), std::string::npos) << problem;
  EXPECT_EQ(problem.find("what"), std::string::npos) << problem;
}

TEST(Envelope, ReadsTheBoundaryFromTheFirstLine) {
  const std::string audio = "RIFF\r\n--not-the-boundary\r\nbytes";
  const std::string body = MakeEnvelope(audio, "abc123");
  const Envelope envelope = OpenEnvelope(body);
  ASSERT_TRUE(envelope.valid) << envelope.problem;
  EXPECT_EQ(envelope.part, audio);
  EXPECT_TRUE(OpenEnvelope(MakeEnvelope("")).valid);
}

TEST(Envelope, RefusesBrokenEnvelopes) {
  const std::string good = MakeEnvelope("audio", "T0");
  const std::string cases[] = {
      "",
      "audio",
      "--T0",                                // boundary line never ends
      "--\r\n" + good.substr(4),             // empty boundary
      "--" + std::string(71, 'x') + "\r\n",  // longer than boundaries may be
      "--T 0\r\n",                           // a blank inside
      good.substr(0, good.size() - 12),      // never closed
      "--T0\r\nContent-Disposition: form-data; name=\"myfile\"\r\n\r\naudio\r\n--T0\r\n"
      "Content-Disposition: form-data; name=\"other\"\r\n\r\nx\r\n--T0--\r\n",  // two parts
      "--T0\r\nContent-Disposition: form-data; name=\"other\"\r\n\r\naudio\r\n--T0--\r\n",
      "--T0\r\nContent-Disposition: form-data; filename=\"myfile\"\r\n\r\naudio\r\n--T0--\r\n",
      "--T0\r\nContent-Type: audio/wav\r\n\r\naudio\r\n--T0--\r\n",
      "--T0\r\nContent-Disposition: form-data; name=\"myfile\"\r\n",  // headers never end
  };
  for (const std::string& body : cases) {
    const Envelope envelope = OpenEnvelope(body);
    EXPECT_FALSE(envelope.valid) << body;
    EXPECT_FALSE(envelope.problem.empty()) << body;
  }
}

TEST(Envelope, ReadsTheBoundaryAFormDataContentTypeDeclares) {
  const struct {
    const char* contentType;
    std::optional<std::string> boundary;
  } kTypes[] = {
      {"multipart/form-data; boundary=------------------------d74496d66958873e",
       "------------------------d74496d66958873e"},
      {"Multipart/Form-Data;BOUNDARY=\"a b:c\"", "a b:c"},
      {"multipart/form-data; charset=utf-8; boundary=q ", "q"},
      {"multipart/form-data", ""},
      {"multipart/form-data; boundary=", ""},
      {"multipart/form-data; boundary=\"a \"", ""},
      {"multipart/form-data; boundary=a<b", ""},
      {"audio/l16; rate=16000;", std::nullopt},
      {"multipart/mixed; boundary=x", std::nullopt},
  };
  for (const auto& [contentType, boundary] : kTypes) {
    EXPECT_EQ(FormDataBoundary(contentType), boundary) << contentType;
  }
  EXPECT_EQ(FormDataBoundary("multipart/form-data; boundary=" + std::string(71, 'x')), "");
}

TEST(Envelope, FindsTheAudioPartOfAFormAmongOtherFields) {
  const std::string audio = "RIFF--B\r\n-B\r\n";  // near-boundaries inside the file
  const std::string form = test::MakeFormData(audio, "B");
  const std::string bare = "--B\r\n\r\na part without headers\r\n" + form;
  for (const std::string& body : {form, "a preamble\r\n" + form, bare + "an epilogue"}) {
    const Envelope envelope = OpenFormData(body, "B");
    ASSERT_TRUE(envelope.valid) << envelope.problem << "\n" << body;
    EXPECT_EQ(envelope.part, audio);
  }
  const std::string cases[] = {
      "",
      test::MakeFormData(audio, "C"),   // another boundary
      form.substr(0, form.size() - 8),  // never closed
      "--B\r\nContent-Disposition: form-data; name=\"note\"\r\n\r\nhi\r\n--B--\r\n",  // no file
      form.substr(0, form.size() - 4) +
          "\r\nContent-Disposition: form-data; name=\"myfile\""
          "\r\n\r\nagain\r\n--B--\r\n",  // two files
      "--B junk\r\n" + form.substr(5),   // a boundary line not ended
  };
  for (const std::string& body : cases) {
    const Envelope envelope = OpenFormData(body, "B");
    EXPECT_FALSE(envelope.valid) << body;
    EXPECT_FALSE(envelope.problem.empty()) << body;
  }
}

TEST(Wave, AcceptsTheRecordersFormatAndSkipsOtherChunks) {
  const std::string pcm = SilencePcm(0.5);
  const WaveAudio audio = CheckWave(MakeWave(pcm));
  ASSERT_EQ(audio.verdict, WaveVerdict::kAccepted) << audio.problem;
  EXPECT_EQ(audio.pcm.size(), pcm.size());
  EXPECT_DOUBLE_EQ(audio.DurationSeconds(), 0.5);
  EXPECT_EQ(CheckWave(MakeWave("")).verdict, WaveVerdict::kAccepted);

  // A LIST chunk after the data, with an odd size and its pad byte, as other writers make.
  std::string withList = MakeWave("\x01\x02");
  withList += std::string("LIST\x03\0\0\0abc\0", 12);
  const uint32_t riffSize = static_cast<uint32_t>(withList.size() - 8);
  for (int i = 0; i < 4; ++i) withList[4 + i] = static_cast<char>((riffSize >> (8 * i)) & 0xFF);
  const WaveAudio listed = CheckWave(withList);
  EXPECT_EQ(listed.verdict, WaveVerdict::kAccepted) << listed.problem;
  EXPECT_EQ(listed.pcm, std::string("\x01\x02"));
}

TEST(Wave, CallsOtherFormatsUnsupported) {
  const std::string pcm = SilencePcm(0.1);
  const test::WaveFormat formats[] = {{1, 2, 16000, 16},     {1, 1, 8000, 16},  {1, 1, 44100, 16},
                                      {1, 1, 16000, 8},      {3, 1, 16000, 32}, {6, 1, 16000, 8},
                                      {0xFFFE, 1, 16000, 16}};
  for (const auto& format : formats) {
    const WaveAudio audio = CheckWave(MakeWave(pcm, format));
    EXPECT_EQ(audio.verdict, WaveVerdict::kUnsupported)
        << format.formatTag << " " << format.channels << " " << format.sampleRate;
    EXPECT_FALSE(audio.problem.empty());
  }
  EXPECT_EQ(CheckWave("ID3\x03 an mp3 file").verdict, WaveVerdict::kUnsupported);
  EXPECT_EQ(CheckWave(std::string(44, '\0')).verdict, WaveVerdict::kUnsupported);
  EXPECT_EQ(CheckWave("").verdict, WaveVerdict::kUnsupported);
}

TEST(Wave, CallsLyingLengthsMalformed) {
  const std::string pcm = SilencePcm(0.1);
  EXPECT_EQ(CheckWave(MakeWave(pcm, {}, +2)).verdict, WaveVerdict::kMalformed);
  EXPECT_EQ(CheckWave(MakeWave(pcm, {}, -2)).verdict, WaveVerdict::kMalformed);
  EXPECT_EQ(CheckWave(MakeWave(pcm).substr(0, 44 + pcm.size() / 2)).verdict,
            WaveVerdict::kMalformed);
  // The RIFF size right, the data length alone lying in either direction.
  for (const int64_t delta : {-4, 4}) {
    std::string wave = MakeWave(pcm, {}, delta);
    const uint32_t riffSize = static_cast<uint32_t>(wave.size() - 8);
    for (int i = 0; i < 4; ++i) wave[4 + i] = static_cast<char>((riffSize >> (8 * i)) & 0xFF);
    EXPECT_EQ(CheckWave(wave).verdict, WaveVerdict::kMalformed) << delta;
  }
  EXPECT_EQ(CheckWave(MakeWave(pcm + "x")).verdict, WaveVerdict::kMalformed);  // odd length
  EXPECT_EQ(CheckWave(MakeWave(pcm).substr(0, 36)).verdict, WaveVerdict::kMalformed);
  std::string huge = MakeWave(pcm);
  for (int i = 0; i < 4; ++i) huge[40 + i] = '\xff';
  EXPECT_EQ(CheckWave(huge).verdict, WaveVerdict::kMalformed);
}

}  // namespace
}  // namespace quorel::service
