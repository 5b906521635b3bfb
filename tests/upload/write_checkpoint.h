// Lets a test act just before each body write of an upload (0: the envelope head, then the
// file's chunks, then the tail), by wrapping quorel::HttpWrite at link time (--wrap); the real
// write follows unchanged. It pins where a connection loss or a change of the file falls among
// the writes, which timing alone could not. quorel::HttpAddHeaders is wrapped the same way, so
// that a test can make the header set-up fail as an allocation failure would.
// Link with the options of quorel_wrap_http_exchange (tests/CMakeLists.txt).
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
