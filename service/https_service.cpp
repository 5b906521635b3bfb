#include "https_service.h"

#include <httplib.h>

#include <chrono>
#include <cstdio>
#include <ctime>

#include "answer_json.h"
#include "bounded_task_queue.h"
#include "request_target.h"
#include "speech_request.h"

namespace quorel::service {

namespace {

constexpr size_t kWaitingConnections = 16;
constexpr char kJson[] = "application/json";
constexpr char kTimingHeader[] = "Server-Timing";

void LogRequest(const httplib::Request& request, const httplib::Response& response) {
  char stamp[32];
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &utc);
  const std::string timing = response.get_header_value(kTimingHeader);
  // One call per line keeps lines from concurrent requests whole.
  const std::string length = request.get_header_value("Content-Length");
  std::printf("%s %s:%d %s %s %d in=%s out=%zu%s%s\n", stamp, request.remote_addr.c_str(),
              request.remote_port, request.method.c_str(), RedactKey(request.target).c_str(),
              response.status, length.empty() ? "-" : length.c_str(), response.body.size(),
              timing.empty() ? "" : " ", timing.c_str());
  std::fflush(stdout);
}

// Reads the whole body, at most limit bytes; 0 when complete, else the status that says why not.
int ReadBody(const httplib::Request& request, const httplib::ContentReader& reader, size_t limit,
             std::string* body) {
  // Always read: past a declared length over the limit the HTTP layer drains the body unstored.
  // Closing on unread bytes would reset the connection, and the client could lose the answer.
  // A body without a declared length is drained the same way for as much again, then dropped.
  bool overLimit = request.get_header_value<uint64_t>("Content-Length") > limit;
  size_t drained = 0;
  const bool complete = reader([&](const char* data, size_t length) {
    overLimit = overLimit || length > limit - body->size();
    if (!overLimit) body->append(data, length);
    return !overLimit || (drained += length) <= limit;
  });
  if (complete && !overLimit) return 0;
  return overLimit ? 413 : 400;
}

// The library declares audio/l16. A multipart/* body would be taken apart by the HTTP layer, so
// it is read through (see ReadBody), dropped and refused.
void RefuseMultipart(const httplib::Request& request, const httplib::ContentReader& reader,
                     size_t limit, httplib::Response& response) {
  const bool declaredOverLimit = request.get_header_value<uint64_t>("Content-Length") > limit;
  size_t seen = 0;
  reader([](const httplib::MultipartFormData&) { return true; },
         [&](const char*, size_t length) { return (seen += length) <= limit; });
  const bool overLimit = declaredOverLimit || seen > limit;
  response.status = overLimit ? 413 : 415;
  response.set_content(overLimit ? ErrorAnswerForStatus(413)
                                 : ErrorAnswer(415, "unsupported_media_type",
                                               "the body must be declared as audio/l16, not as "
                                               "multipart: the envelope is read by the service"),
                       kJson);
}

}  // namespace

HttpsService::HttpsService(const HttpsSettings& settings, const ServiceCertificates& certificates,
                           const AccessKeys& keys, Recogniser& recogniser)
    : settings_(settings),
      keys_(keys),
      recogniser_(recogniser),
      server_(std::make_unique<httplib::SSLServer>(certificates.certificateFile.c_str(),
                                                   certificates.keyFile.c_str())) {}

HttpsService::~HttpsService() = default;

bool HttpsService::Bind(std::string* problem) {
  if (!server_->is_valid()) {
    *problem = "the TLS certificate or key in the state folder cannot be used";
    return false;
  }
  Route();
  port_ = settings_.port == 0
              ? server_->bind_to_any_port(kListenAddress)
              : (server_->bind_to_port(kListenAddress, settings_.port) ? settings_.port : -1);
  if (port_ <= 0) {
    *problem = "cannot listen on " + std::string(kListenAddress) + ":" +
               std::to_string(settings_.port) + " (in use, or not permitted)";
    return false;
  }
  return true;
}

void HttpsService::Serve() {
  server_->listen_after_bind();
}

void HttpsService::Stop() {
  server_->stop();
}

void HttpsService::Route() {
  httplib::SSLServer& server = *server_;
  const size_t workers = settings_.workers;
  server.new_task_queue = [workers] { return new BoundedTaskQueue(workers, kWaitingConnections); };
  server.set_payload_max_length(settings_.maxBodyBytes);
  // One request per connection, as the library makes them. After a request line it cannot
  // parse, the HTTP layer would otherwise read each following line as one more request.
  server.set_keep_alive_max_count(1);
  server.set_logger(LogRequest);

  server.Post(".*", [this](const httplib::Request& request, httplib::Response& response,
                           const httplib::ContentReader& reader) {
    if (request.is_multipart_form_data()) {
      RefuseMultipart(request, reader, settings_.maxBodyBytes, response);
      return;
    }
    std::string body;
    if (const int status = ReadBody(request, reader, settings_.maxBodyBytes, &body)) {
      response.status = status;
      response.set_content(ErrorAnswerForStatus(status), kJson);
      return;
    }
    double recogniseMs = -1;
    const auto recognise = [&](const std::vector<int16_t>& samples) {
      const auto start = std::chrono::steady_clock::now();
      Recognition recognition = recogniser_.Recognise(samples);
      recogniseMs =
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
              .count();
      return recognition;
    };
    const std::string contentType = request.get_header_value("Content-Type");
    const SpeechRequest speech{request.method, request.target, contentType, body};
    const SpeechReply reply = AnswerSpeechRequest(speech, keys_, recognise);
    response.status = reply.status;
    response.set_content(reply.body, kJson);
    if (recogniseMs >= 0) {
      response.set_header(kTimingHeader,
                          "recognise;dur=" + std::to_string(static_cast<long>(recogniseMs)));
    }
  });

  const auto answerOtherMethod = [this](const httplib::Request& request,
                                        httplib::Response& response) {
    const std::string contentType = request.get_header_value("Content-Type");
    const SpeechReply reply = AnswerSpeechRequest(
        {request.method, request.target, contentType, request.body}, keys_, nullptr);
    response.status = reply.status;
    if (reply.status == 405) response.set_header("Allow", "POST");
    response.set_content(reply.body, kJson);
  };
  server.Get(".*", answerOtherMethod);
  server.Put(".*", answerOtherMethod);
  server.Patch(".*", answerOtherMethod);
  server.Delete(".*", answerOtherMethod);
  server.Options(".*", answerOtherMethod);

  server.set_error_handler(httplib::Server::HandlerWithResponse(
      [](const httplib::Request&, httplib::Response& response) {
        if (!response.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
        response.set_content(ErrorAnswerForStatus(response.status), kJson);
        return httplib::Server::HandlerResponse::Handled;
      }));
  server.set_exception_handler(
      [](const httplib::Request&, httplib::Response& response, std::exception_ptr) {
        response.status = 500;
        response.set_content(ErrorAnswerForStatus(500), kJson);
      });
}

}  // namespace quorel::service
