#include "partition/service_partition.h"

// Placeholder until the partition table work lands: behaves as a disk
// without a service partition.
UPD_RESULT SetServicePartitionHidden(int, int, int *pnPartType) {
    *pnPartType = 0;
    return IDS_NO_SERVICE_PARTITION;
}
