#pragma once

namespace nexora {

// Thrown inside a cursor operation when a page or record request found that another
// party changed the table: the caches have been emptied, and the operation starts its walk
// again from a re-found position. Never leaves the cursor operation that caught it.
struct ETableChanged {};

} // namespace nexora
