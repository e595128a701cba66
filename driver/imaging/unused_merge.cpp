#include "unused_merge.h"

int BQM_Init()
{
    return 0;
}

int BQM_LoadTblFile(uint16_t, uint16_t, uint32_t, const char*, bqm_tbl_information_t*)
{
    return 0;
}

int BQM_SetupProcess()
{
    return 0;
}

int BQM_MergeProcess(const bqm_image_t*, bqm_image_t*, int)
{
    return 0;
}

int BQM_EndProcess()
{
    return 0;
}

int BQM_Exit()
{
    return 0;
}
