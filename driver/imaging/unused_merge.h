// The multiple-exposure merge engine. This scanner's driver never switches the merge on, so no scan
// runs through it; the driver object only releases it. The engine does nothing: every function
// answers 0 (success) and touches nothing.
#pragma once

#include <cstdint>

// A block of lines handed to or made by the merge.
struct bqm_image_t {
    uint8_t* data;
    uint32_t channels;
    uint32_t lines;
    uint32_t row_bytes;
};

// What a table file would describe; nothing reads or writes it.
struct bqm_tbl_information_t {
    uint32_t reserved;
};

int BQM_Init();
int BQM_LoadTblFile(uint16_t model, uint16_t submodel, uint32_t resolution, const char* path,
                    bqm_tbl_information_t* information);
int BQM_SetupProcess();
int BQM_MergeProcess(const bqm_image_t* input, bqm_image_t* output, int end);
int BQM_EndProcess();
int BQM_Exit();
