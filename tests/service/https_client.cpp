#include "service/https_client.h"

#include <curl/curl.h>
#include <poll.h>

#include <chrono>
#include <cstring>
#include <utility>

#include "service/wave_builder.h"

namespace quorel::test {

namespace {

constexpr long kGiveUpSeconds = 120;  // only so that a broken service cannot hang the suite

struct Upload {
  const std::string* body;
  size_t sent = 0;
};

size_t Collect(char* data, size_t size, size_t count, void* out) {
  static_cast<std::string*>(out)->append(data, size * count);
  return size * count;
}

size_t Supply(char* buffer, size_t size, size_t count, void* state) {
  auto* upload = static_cast<Upload*>(state);
  const size_t length = std::min(size * count, upload->body->size() - upload->sent);
  std::memcpy(buffer, upload->body->data() + upload->sent, length);
  upload->sent += length;
  return length;
}

CURL* OpenTo(int port, const std::string& authorityFile, const std::string& target,
             const std::string& host = "localhost") {
  CURL* curl = curl_easy_init();
  if (curl == nullptr) return nullptr;
  const std::string url = "https://" + host + ":" + std::to_string(port) + target;
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_CAINFO, authorityFile.c_str());
  curl_easy_setopt(curl, CURLOPT_PATH_AS_IS, 1L);
  curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, kGiveUpSeconds);
  return curl;
}

// The service ends each answer with its Content-Length and leaves closing to the client.
bool AnswerComplete(const std::string& received) {
  const size_t end = received.find("\r\n\r\n");
  const size_t length = received.find("Content-Length: ");
  if (end == std::string::npos || length == std::string::npos || length > end) return false;
  return received.size() - end - 4 >= std::stoul(received.substr(length + 16));
}

}  // namespace

HttpCall PostCall(std::string body, std::string target) {
  HttpCall call;
  call.target = std::move(target);
  call.body = std::move(body);
  return call;
}

HttpCall GoodCall(double seconds) {
  return PostCall(MakeEnvelope(MakeWave(SilencePcm(seconds))));
}

std::string RequestHead(const std::string& target, size_t length) {
  return "POST " + target +
         " HTTP/1.1\r\nHost: localhost\r\nContent-Type: audio/l16\r\nContent-Length: " +
         std::to_string(length) + "\r\n\r\n";
}

HttpAnswer Call(int port, const std::string& authorityFile, const HttpCall& call) {
  HttpAnswer answer;
  CURL* curl = OpenTo(port, authorityFile, call.target, call.host);
  if (curl == nullptr) return answer;
  curl_slist* headers = nullptr;
  for (const std::string& header : call.headers)
    headers = curl_slist_append(headers, header.c_str());
  if (call.chunked) headers = curl_slist_append(headers, "Transfer-Encoding: chunked");
  Upload upload{&call.body};
  if (call.method == "POST") {
    curl_easy_setopt(curl, CURLOPT_POST, 1L);
    if (call.chunked) {
      curl_easy_setopt(curl, CURLOPT_READFUNCTION, Supply);
      curl_easy_setopt(curl, CURLOPT_READDATA, &upload);
    } else {
      curl_easy_setopt(curl, CURLOPT_POSTFIELDS, call.body.data());
      curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE,
                       static_cast<curl_off_t>(call.body.size()));
    }
  } else {
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, call.method.c_str());
  }
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Collect);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer.body);
  if (curl_easy_perform(curl) == CURLE_OK) {
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &answer.status);
  }
  curl_off_t handshakeDone = 0;
  curl_easy_getinfo(curl, CURLINFO_APPCONNECT_TIME_T, &handshakeDone);
  answer.tlsUp = handshakeDone > 0;
  curl_slist_free_all(headers);
  curl_easy_cleanup(curl);
  return answer;
}

RawTlsConnection::RawTlsConnection(int port, const std::string& authorityFile)
    : curl_(OpenTo(port, authorityFile, "/")) {
  if (curl_ == nullptr) return;
  curl_easy_setopt(curl_, CURLOPT_CONNECT_ONLY, 1L);
  open_ = curl_easy_perform(curl_) == CURLE_OK;
}

RawTlsConnection::~RawTlsConnection() {
  curl_easy_cleanup(curl_);
}

bool RawTlsConnection::Send(const std::string& bytes) {
  size_t offset = 0;
  while (open_ && offset < bytes.size()) {
    size_t count = 0;
    const CURLcode result =
        curl_easy_send(curl_, bytes.data() + offset, bytes.size() - offset, &count);
    if (result == CURLE_AGAIN) continue;
    if (result != CURLE_OK) return false;
    offset += count;
  }
  return open_;
}

std::string RawTlsConnection::ReadToEnd() {
  std::string answer;
  Read(std::chrono::seconds(kGiveUpSeconds), &answer);
  return answer;
}

bool RawTlsConnection::Read(std::chrono::milliseconds limit, std::string* answer) {
  curl_socket_t socket = CURL_SOCKET_BAD;
  curl_easy_getinfo(curl_, CURLINFO_ACTIVESOCKET, &socket);
  const auto giveUp = std::chrono::steady_clock::now() + limit;
  while (open_) {  // at least one read, also with no time at all
    char buffer[4096];
    size_t count = 0;
    const CURLcode result = curl_easy_recv(curl_, buffer, sizeof buffer, &count);
    if (result == CURLE_AGAIN) {
      if (std::chrono::steady_clock::now() >= giveUp) return false;
      pollfd readable{socket, POLLIN, 0};
      poll(&readable, 1, 20);
      continue;
    }
    if (result != CURLE_OK || count == 0) return true;
    if (answer != nullptr && AnswerComplete(answer->append(buffer, count))) return true;
  }
  return true;
}

}  // namespace quorel::test
