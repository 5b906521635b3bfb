// Which certificates the upload trusts, the same on every system: the chain must reach a
// trusted root and carry the server's name (unless names are overlooked), and only the leaf's
// validity dates are overlooked. A refused certificate leaves the response file untouched.
#include <sstream>

#include "VantrelQuorelSpeech.h"
#include "support/portable/case_list.h"
#include "upload/case_server.h"

namespace quorel::test {
namespace {

constexpr char kEarlierAnswer[] = "an earlier answer";
constexpr char kServerAnswer[] = "{\"result\":[]}\n";

struct CertificateRow {
  const char* server;  // named after its certificate (upload/case_server.h)
  bool acceptMismatchedNames;
  int32_t expected;
};

// What a row gives, in one line, so that a failed check names its row.
std::string Outcome(const CertificateRow& row, int32_t result, const std::string& answer) {
  std::ostringstream line;
  line << row.server << (row.acceptMismatchedNames ? " (names overlooked)" : "") << ": " << result
       << ", response file \"" << answer << "\"";
  return line.str();
}

void CheckRows(std::initializer_list<CertificateRow> rows) {
  for (const CertificateRow& row : rows) {
    const CaseUpload upload =
        UploadTo(row.server, "audio", kEarlierAnswer, row.acceptMismatchedNames);
    const char* kept = row.expected == QUOREL_SUCCESS ? kServerAnswer : kEarlierAnswer;
    CHECK_EQ(Outcome(row, upload.result, upload.answer), Outcome(row, row.expected, kept));
  }
}

}  // namespace

QUOREL_CASE(Certificate, ALeafOutOfItsDatesIsAccepted) {
  CheckRows({{"LOCALHOST", false, QUOREL_SUCCESS},
             {"EXPIRED", false, QUOREL_SUCCESS},
             {"NOT_YET_VALID", false, QUOREL_SUCCESS},
             {"EXPIRED_UNDER_INTERMEDIATE", false, QUOREL_SUCCESS}});
}

QUOREL_CASE(Certificate, AnIssuerOutOfItsDatesIsRefused) {
  CheckRows({{"EXPIRED_INTERMEDIATE", false, QUOREL_SPEECH_BEGIN_FAILED},
             {"EXPIRED_ROOT", false, QUOREL_SPEECH_BEGIN_FAILED}});
}

QUOREL_CASE(Certificate, ALeafNoTrustedAuthoritySignedIsRefused) {
  CheckRows({{"OTHER_CA", false, QUOREL_SPEECH_BEGIN_FAILED},
             {"SELF_SIGNED", false, QUOREL_SPEECH_BEGIN_FAILED},
             {"SELF_SIGNED", true, QUOREL_SPEECH_BEGIN_FAILED}});
}

QUOREL_CASE(Certificate, AnotherNameIsRefusedUnlessNamesAreOverlooked) {
  CheckRows(
      {{"WRONG_NAME", false, QUOREL_SPEECH_BEGIN_FAILED}, {"WRONG_NAME", true, QUOREL_SUCCESS}});
}

}  // namespace quorel::test
