#include "recogniser.h"

#include <pocketsphinx.h>
#include <sphinxbase/err.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace quorel::service {

namespace {

// PocketSphinx reports through one process-wide callback. Each thread keeps the first error it
// raised since it last cleared it (later ones only repeat that a step failed), so a failed
// decoder can be explained; nothing else of the recogniser's logging is shown.
thread_local std::string firstRecogniserError;

void KeepFirstError(void*, err_lvl_t level, const char* format, ...) {
  if (level < ERR_ERROR || format == nullptr || !firstRecogniserError.empty()) return;
  char text[512];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(text, sizeof text, format, arguments);
  va_end(arguments);
  // Drop the 'ERROR: "file.c", line N: ' that names the recogniser's own source.
  firstRecogniserError = text;
  const size_t origin = firstRecogniserError.find("\", line ");
  const size_t message = firstRecogniserError.find(": ", origin == std::string::npos ? 0 : origin);
  if (origin != std::string::npos && message != std::string::npos) {
    firstRecogniserError.erase(0, message + 2);
  }
  while (!firstRecogniserError.empty() && firstRecogniserError.back() == '\n') {
    firstRecogniserError.pop_back();
  }
}

// The grammar's lexer echoes text it cannot match to standard output, which is the service's
// log; while the first decoder loads, that goes to a file instead, whose content tells of such
// text. It is used only before the service serves, while no other thread writes to stdout.
class StdoutCapture {
 public:
  StdoutCapture() {
    std::fflush(stdout);
    capture_ = std::tmpfile();
    saved_ = capture_ == nullptr ? -1 : dup(STDOUT_FILENO);
    if (saved_ >= 0) dup2(fileno(capture_), STDOUT_FILENO);
  }
  ~StdoutCapture() {
    Restore();
    if (capture_ != nullptr) std::fclose(capture_);
  }
  StdoutCapture(const StdoutCapture&) = delete;
  StdoutCapture& operator=(const StdoutCapture&) = delete;

  // Puts standard output back and returns what was written meanwhile.
  std::string Restore() {
    if (saved_ < 0) return "";
    std::fflush(stdout);
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
    saved_ = -1;
    std::string text;
    std::rewind(capture_);
    char buffer[256];
    size_t count;
    while ((count = std::fread(buffer, 1, sizeof buffer, capture_)) > 0) text.append(buffer, count);
    return text;
  }

 private:
  FILE* capture_ = nullptr;
  int saved_ = -1;
};

// The text in message between before and the last after that follows it, if both are there.
bool FindBetween(const std::string& message, const char* before, const char* after,
                 std::string* found) {
  const size_t start = message.find(before);
  if (start == std::string::npos) return false;
  const size_t from = start + std::strlen(before);
  const size_t end = message.rfind(after);
  if (end == std::string::npos || end < from) return false;
  *found = message.substr(from, end - from);
  return true;
}

// Why the first decoder could not be made, in the words of the service's start-up message.
std::string DescribeLoadFailure(const RecogniserSettings& settings, const std::string& error) {
  const std::string& grammar = settings.grammarFile;
  std::string line, token, word;
  if (!grammar.empty() && FindBetween(error, "syntax error at line ", " current token", &line) &&
      FindBetween(error, "current token '", "'", &token)) {
    return "the grammar " + grammar + " has a syntax error at line " + line +
           (token.empty() ? " (at the end of the file)" : " near '" + token + "'");
  }
  if (!grammar.empty() &&
      FindBetween(error, "The word '", "' is missing in the dictionary", &word)) {
    return "the grammar " + grammar + " uses the word '" + word +
           "', which is not in the dictionary " + settings.modelFolder + "/cmudict-en-us.dict";
  }
  return "PocketSphinx could not load the model in " + settings.modelFolder +
         (grammar.empty() ? "" : " with the grammar " + grammar) +
         (error.empty() ? "" : ": " + error);
}

bool IsFiller(const char* word) {
  return word[0] == '<' || word[0] == '[' || word[0] == '+';
}

// Mean posterior probability of the recognised words (fillers and silences left out).
double MeanWordPosterior(ps_decoder_t* decoder) {
  logmath_t* logmath = ps_get_logmath(decoder);
  double sum = 0;
  int words = 0;
  for (ps_seg_t* seg = ps_seg_iter(decoder); seg != nullptr; seg = ps_seg_next(seg)) {
    if (IsFiller(ps_seg_word(seg))) continue;
    int32 acoustic, language, backoff;
    sum += logmath_exp(logmath, ps_seg_prob(seg, &acoustic, &language, &backoff));
    ++words;
  }
  return words == 0 ? 0 : sum / words;
}

}  // namespace

std::unique_ptr<Recogniser> Recogniser::Create(const RecogniserSettings& settings,
                                               std::string* problem) {
  if (!settings.grammarFile.empty()) {
    // A folder opens but makes the grammar's lexer end the process: read a byte first.
    FILE* grammar = std::fopen(settings.grammarFile.c_str(), "r");
    const bool readable =
        grammar != nullptr && (std::fgetc(grammar) != EOF || !std::ferror(grammar));
    const int error = errno;
    if (grammar != nullptr) std::fclose(grammar);
    if (!readable) {
      *problem =
          "cannot read the grammar file " + settings.grammarFile + ": " + std::strerror(error);
      return nullptr;
    }
  }
  err_set_callback(KeepFirstError, nullptr);
  std::unique_ptr<Recogniser> recogniser(new Recogniser(settings));
  StdoutCapture capture;
  firstRecogniserError.clear();
  ps_decoder_t* first = recogniser->NewDecoder();
  const std::string skipped = capture.Restore();
  if (first == nullptr) {
    *problem = DescribeLoadFailure(settings, firstRecogniserError);
    return nullptr;
  }
  const size_t shown = skipped.find_first_not_of(" \t\r\n");
  if (shown != std::string::npos) {
    // Later decoders would echo it into the log again; the grammar is not what its author meant.
    ps_free(first);
    *problem = "the grammar " + settings.grammarFile + " holds text that is not JSGF: " +
               skipped.substr(shown, skipped.find_last_not_of(" \t\r\n") + 1 - shown);
    return nullptr;
  }
  recogniser->idle_.push_back(first);
  recogniser->created_ = 1;
  return recogniser;
}

Recogniser::~Recogniser() {
  for (ps_decoder_t* decoder : idle_) ps_free(decoder);
}

ps_decoder_t* Recogniser::NewDecoder() const {
  const std::string acoustic = settings_.modelFolder + "/en-us";
  const std::string dictionary = settings_.modelFolder + "/cmudict-en-us.dict";
  const std::string language = settings_.modelFolder + "/en-us.lm.bin";
  const bool grammar = !settings_.grammarFile.empty();
  // Noise removal tracks the noise floor across utterances; off, every file is decoded afresh.
  cmd_ln_t* config = cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", acoustic.c_str(), "-dict",
                                 dictionary.c_str(), grammar ? "-jsgf" : "-lm",
                                 grammar ? settings_.grammarFile.c_str() : language.c_str(),
                                 "-remove_noise", "no", "-logfn", "/dev/null", nullptr);
  if (config == nullptr) return nullptr;
  ps_decoder_t* decoder = ps_init(config);
  cmd_ln_free_r(config);  // the decoder keeps its own reference
  return decoder;
}

ps_decoder_t* Recogniser::Borrow() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (idle_.empty() && created_ < settings_.decoders) {
    ++created_;
    lock.unlock();
    ps_decoder_t* decoder = NewDecoder();
    if (decoder == nullptr) {
      lock.lock();
      --created_;
    }
    return decoder;
  }
  returned_.wait(lock, [this] { return !idle_.empty(); });
  ps_decoder_t* decoder = idle_.back();
  idle_.pop_back();
  return decoder;
}

void Recogniser::GiveBack(ps_decoder_t* decoder) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    idle_.push_back(decoder);
  }
  returned_.notify_one();
}

Recognition Recogniser::Recognise(const std::vector<int16_t>& samples) {
  Recognition recognition;
  ps_decoder_t* decoder = Borrow();
  if (decoder == nullptr) return recognition;
  // An utterance once started is always ended, so the decoder goes back to the pool clean.
  const bool started = ps_start_utt(decoder) >= 0;
  const bool processed =
      started && ps_process_raw(decoder, samples.data(), samples.size(), FALSE, TRUE) >= 0;
  const bool decoded = started && ps_end_utt(decoder) >= 0 && processed;
  if (decoded) {
    int32 score;
    const char* hypothesis = ps_get_hyp(decoder, &score);
    recognition.succeeded = true;
    recognition.transcript = hypothesis == nullptr ? "" : hypothesis;
    recognition.confidence = recognition.transcript.empty() ? 0 : MeanWordPosterior(decoder);
  }
  GiveBack(decoder);
  return recognition;
}

}  // namespace quorel::service
