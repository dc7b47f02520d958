#include "apartment.h"

#ifdef _WIN32
#include <objbase.h>
#endif

namespace platform {

#ifdef _WIN32
long initApartment()
{
    return CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
}
#else
long initApartment()
{
    return 0;
}
#endif

} // namespace platform
