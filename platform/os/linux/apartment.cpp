#include "../apartment.h"

namespace platform::os {

long initApartment()
{
    return 0;
}

} // namespace platform::os
