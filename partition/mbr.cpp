#include "partition/mbr.h"

#include <cstring>

ServiceAccess ServiceAccessForType(uint8_t nType) {
    switch (nType & 0x0F) {
    case kTypeFat16:
    case kTypeFat32:
        return SERVICE_ACCESS_CHS;
    case kTypeFat32Lba:
    case kTypeFat16Lba:
        return SERVICE_ACCESS_LBA;
    default:
        return SERVICE_ACCESS_NONE;
    }
}

uint16_t PartitionEntry::StartCylinder() const {
    return static_cast<uint16_t>(((abRaw[kStartSectorCylHigh] & 0xC0) << 2) | abRaw[kStartCylLow]);
}

int IsServiceBootSector(const uint8_t *pSector) {
    if (std::memcmp(pSector + kFat16LabelOffset, kServiceLabel, kServiceLabelSize) == 0) return 1;
    if (std::memcmp(pSector + kFat32LabelOffset, kServiceLabel, kServiceLabelSize) == 0) return 1;
    return 0;
}

// Unhiding keeps only the low nibble, while the reported type clears the
// hidden bit alone; both agree for the standard hidden types.
HiddenRequestResult ApplyHiddenRequest(uint8_t nType, int bHide) {
    HiddenRequestResult result{static_cast<unsigned int>(nType & ~kTypeHiddenBit & 0xFF), false, nType};
    bool bHidden = (nType & kTypeHiddenBit) != 0;
    if (bHidden == (bHide != 0)) {
        result.bAlreadyInState = true;
    } else {
        result.nNewType = bHidden ? static_cast<uint8_t>(nType & 0x0F) : static_cast<uint8_t>(nType | kTypeHiddenBit);
    }
    return result;
}
