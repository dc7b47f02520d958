#pragma once

namespace platform {

// Joins the calling thread to a single-threaded COM apartment on Windows
// (CoInitializeEx with COINIT_APARTMENTTHREADED). Returns the result code; a
// negative code is a failure. Elsewhere there is nothing to join and it
// succeeds at once.
long initApartment();

} // namespace platform
