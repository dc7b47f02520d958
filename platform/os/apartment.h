#pragma once

namespace platform::os {

// Joins the calling thread to a single-threaded COM apartment on Windows
// (CoInitializeEx with COINIT_APARTMENTTHREADED). Returns the result code; a
// negative code is a failure. Linux has nothing to join: it succeeds at once.
long initApartment();

} // namespace platform::os
