#include "recogniser.h"

#include <pocketsphinx.h>

namespace quorel::service {

namespace {

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
  std::unique_ptr<Recogniser> recogniser(new Recogniser(settings));
  ps_decoder_t* first = recogniser->NewDecoder();
  if (first == nullptr) {
    *problem = "PocketSphinx could not load the model in " + settings.modelFolder +
               (settings.grammarFile.empty() ? "" : " with the grammar " + settings.grammarFile);
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
