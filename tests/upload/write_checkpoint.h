// Lets a test act just before each body write of an upload (0: the envelope head, then the
// file's chunks, then the tail); the backend's write follows unchanged. It pins where a
// connection loss or a change of the file falls among the writes, which timing alone could
// not. The header set-up can be made to fail the same way, as an allocation failure would.
// Both put an entry of their own into the exchange's table (platform/http_backend.h).
#pragma once

#include <cstddef>
#include <functional>

namespace quorel::test {

using WriteCheckpoint = std::function<void(size_t writeIndex)>;

// Replaces the checkpoint (empty: none) and counts writes from 0 again.
void SetWriteCheckpoint(WriteCheckpoint checkpoint);

// While set, adding a header block fails before the backend sees it.
void SetHeaderSetUpFails(bool fails);

}  // namespace quorel::test
