#include "../apartment.h"

#include <objbase.h>

namespace platform::os {

long initApartment()
{
    return CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
}

} // namespace platform::os
