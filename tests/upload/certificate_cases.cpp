// Which certificates the upload trusts, the same on every system: the chain must reach a
// trusted root and carry the server's name (unless names are overlooked), and only the leaf's
// validity dates are overlooked. A refused certificate leaves the response file untouched.
#include <sstream>

#include "VantrelQuorelSpeech.h"
#include "support/portable/case_list.h"
#include "upload/certificate_upload.h"

namespace quorel::test {
namespace {

constexpr char kEarlierAnswer[] = "an earlier answer";
constexpr char kServerAnswer[] = "{\"result\":[]}\n";

struct CertificateRow {
  const char* certificate;
  bool acceptMismatchedNames;
  int32_t expected;
};

// What a row gives, in one line, so that a failed check names its row.
std::string Outcome(const CertificateRow& row, int32_t result, const std::string& answer) {
  std::ostringstream line;
  line << row.certificate << (row.acceptMismatchedNames ? " (names overlooked)" : "") << ": "
       << result << ", response file \"" << answer << "\"";
  return line.str();
}

void CheckRows(std::initializer_list<CertificateRow> rows) {
  for (const CertificateRow& row : rows) {
    const CertificateUpload upload =
        UploadToServerWith(row.certificate, row.acceptMismatchedNames, kEarlierAnswer);
    const char* kept = row.expected == QUOREL_SUCCESS ? kServerAnswer : kEarlierAnswer;
    CHECK_EQ(Outcome(row, upload.result, upload.answer), Outcome(row, row.expected, kept));
  }
}

}  // namespace

QUOREL_CASE(Certificate, ALeafOutOfItsDatesIsAccepted) {
  CheckRows({{"localhost", false, QUOREL_SUCCESS},
             {"expired", false, QUOREL_SUCCESS},
             {"not-yet-valid", false, QUOREL_SUCCESS},
             {"expired-under-intermediate", false, QUOREL_SUCCESS}});
}

QUOREL_CASE(Certificate, AnIssuerOutOfItsDatesIsRefused) {
  CheckRows({{"expired-intermediate", false, QUOREL_SPEECH_BEGIN_FAILED},
             {"expired-root", false, QUOREL_SPEECH_BEGIN_FAILED}});
}

QUOREL_CASE(Certificate, ALeafNoTrustedAuthoritySignedIsRefused) {
  CheckRows({{"other-ca", false, QUOREL_SPEECH_BEGIN_FAILED},
             {"self-signed", false, QUOREL_SPEECH_BEGIN_FAILED},
             {"self-signed", true, QUOREL_SPEECH_BEGIN_FAILED}});
}

QUOREL_CASE(Certificate, AnotherNameIsRefusedUnlessNamesAreOverlooked) {
  CheckRows(
      {{"wrong-name", false, QUOREL_SPEECH_BEGIN_FAILED}, {"wrong-name", true, QUOREL_SUCCESS}});
}

}  // namespace quorel::test
