// Speech recognition with PocketSphinx and its US English model. A decoder serves one
// utterance at a time, so the recogniser lends decoders from a small pool; each request's file
// is decoded whole as one utterance.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "speech_request.h"

struct ps_decoder_s;

namespace quorel::service {

struct RecogniserSettings {
  std::string modelFolder;  // holds en-us/, en-us.lm.bin and cmudict-en-us.dict
  std::string grammarFile;  // JSGF; empty for free speech with the language model
  size_t decoders = 1;
};

class Recogniser {
 public:
  // Loads the first decoder now, so a missing model or a broken grammar stops the start, with a
  // problem that says which: an unreadable grammar file, a syntax error and its line, text that
  // is not JSGF, a word missing from the dictionary. Call it before other threads write to
  // stdout, which it borrows meanwhile.
  static std::unique_ptr<Recogniser> Create(const RecogniserSettings& settings,
                                            std::string* problem);
  ~Recogniser();
  Recogniser(const Recogniser&) = delete;
  Recogniser& operator=(const Recogniser&) = delete;

  // Safe to call from several threads; waits while every decoder is busy.
  Recognition Recognise(const std::vector<int16_t>& samples);

 private:
  explicit Recogniser(const RecogniserSettings& settings) : settings_(settings) {}
  ps_decoder_s* NewDecoder() const;
  ps_decoder_s* Borrow();
  void GiveBack(ps_decoder_s* decoder);

  const RecogniserSettings settings_;
  std::mutex mutex_;
  std::condition_variable returned_;
  std::vector<ps_decoder_s*> idle_;
  size_t created_ = 0;
};

}  // namespace quorel::service
