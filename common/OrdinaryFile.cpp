// The file test shared by the launcher and the setup hook (see OrdinaryFile.h).
#include "common/OrdinaryFile.h"

#include "device/DeviceServices.h"

namespace vorlund {

bool isOrdinaryFile(const wchar_t* path)
{
    device::FoundEntry entry;
    if (!device::findFirst(path, &entry))
        return false;
    return (entry.attributes &
            (device::kAttrHidden | device::kAttrSystem | device::kAttrDirectory)) == 0;
}

}  // namespace vorlund
