// The file test shared by the launcher and the setup hook (see OrdinaryFile.h).
#include "common/OrdinaryFile.h"

bool isOrdinaryFile(const wchar_t* path)
{
    FoundEntry entry;
    if (!findFirst(path, &entry))
        return false;
    return (entry.attributes & (kAttrHidden | kAttrSystem | kAttrDirectory)) == 0;
}
