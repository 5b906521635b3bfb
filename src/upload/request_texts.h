// Every text an upload sends, and the declared body length: boundary token, request target,
// multipart envelope, header block and the session's agent name. Each is built as the bytes
// that go on the wire, in a buffer of fixed capacity; only the key and the host name arrive as
// UTF-16, and go in as UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/clock.h"
#include "upload/fixed_text.h"

namespace quorel {

constexpr size_t kBoundaryTokenCapacity = 100;
constexpr size_t kUploadTargetCapacity = 200;
constexpr size_t kEnvelopeCapacity = 1000;
constexpr size_t kHeaderBlockCapacity = 2000;

inline constexpr char kAgentName[] = "Vantrel - Quorel. Voice Upload";

using BoundaryToken = FixedText<kBoundaryTokenCapacity>;
using UploadTarget = FixedText<kUploadTargetCapacity>;
using HeaderBlock = FixedText<kHeaderBlockCapacity>;

// Envelope text as sent, with its length without the terminator.
struct EnvelopeBytes {
  char bytes[kEnvelopeCapacity];
  uint32_t length;
};

// All eight clock fields, zero-padded: year, month, day of the week, day, hour, minute,
// second (two digits each after the four of the year) and three digits of milliseconds.
void MakeBoundaryToken(const LocalTime& time, BoundaryToken& token);

// The recognition target with the key appended. Octets that cannot stand in a request target
// (controls, space, DEL, non-ASCII as UTF-8, and " < > \ ^ ` { | }) are percent-encoded; all
// else, "&", "=" and "%" included, stays as given. False for a null key, one that is not valid
// UTF-16, or one that does not fit the target once encoded.
bool MakeUploadTarget(const char16_t* key, UploadTarget& target);

// The envelope head (boundary line and part header) and tail (closing boundary) as bytes.
void MakeEnvelope(const BoundaryToken& token, EnvelopeBytes& head, EnvelopeBytes& tail);

// Head bytes + file size + tail bytes; false when the sum is out of the signed 32-bit range
// that the declared length must fit (or the size is negative).
bool ContentLength(uint32_t headLength, int64_t fileSize, uint32_t tailLength, uint32_t& length);

// Seven lines joined by CR LF, the last without one; false when the host name leaves no room
// or is not valid UTF-16.
bool MakeHeaderBlock(const char16_t* hostName, uint32_t contentLength, const BoundaryToken& token,
                     HeaderBlock& block);

}  // namespace quorel
