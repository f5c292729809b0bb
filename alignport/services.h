// The nineteen services of alignport. Each takes the host's argument convention with the
// dispatcher's leading inputs removed; file services also get the open BAM file, indexed
// services the open file and its loaded BAI index. The dispatcher owns both handles.
// contract.h has what each service takes, opens and raises.
#pragma once

#include "hx.h"

#include <samtools/bam.h>
#include <samtools/sam.h>

#include <cstddef>
#include <cstdint>

#define ALIGNPORT_SELF_ARGS int outCount, haArray *outSlots[], int inCount, const haArray *inArgs[]
#define ALIGNPORT_FILE_ARGS ALIGNPORT_SELF_ARGS, samfile_t* file
#define ALIGNPORT_INDEXED_ARGS ALIGNPORT_FILE_ARGS, bam_index_t* index

namespace alignport {

// The services by their row in the service table (contract.cpp), which is the order the
// dispatcher matches names in.
enum class ServiceId : std::uint8_t {
    ValidateReferenceString,
    GetNumberOfReferences,
    GetReferenceString,
    GetStartsInRef,
    GetFeatureInRefByIndex,
    GetFeaturesInRefByIndex,
    IndexBamFile,
    Sam2Bam,
    Bam2Bam,
    BamSort,
    BamInfo,
    SamInfo,
    GetHeader,
    WriteSamByRegion,
    WriteSamUnaligned,
    DumpInfoByRegion,
    DumpInfoByIndex,
    DumpInfoInRefByIndex,
    DumpStartsInfo,
};
constexpr std::size_t kServiceCount = 19;

// Reference and header queries.
void validatereferencestringF(ALIGNPORT_FILE_ARGS);
void getnumberofreferencesF(ALIGNPORT_FILE_ARGS);
void getreferencestringF(ALIGNPORT_FILE_ARGS);
void getheaderF(ALIGNPORT_SELF_ARGS);
// Alignment starts and features by index.
void getstartsinrefF(ALIGNPORT_INDEXED_ARGS);
void dumpstartsinfoF(ALIGNPORT_FILE_ARGS);
void getfeatureinrefbyindexF(ALIGNPORT_INDEXED_ARGS);
void getfeaturesinrefbyindexF(ALIGNPORT_INDEXED_ARGS);
// Conversion, index building and sorting.
void indexbamfileF(ALIGNPORT_SELF_ARGS);
void sam2bamF(ALIGNPORT_SELF_ARGS);
void bam2bamF(ALIGNPORT_SELF_ARGS);
void bamsortF(ALIGNPORT_SELF_ARGS);
// File summaries.
void baminfoF(ALIGNPORT_SELF_ARGS);
void saminfoF(ALIGNPORT_SELF_ARGS);
// SAM writing.
void writesambyregionF(ALIGNPORT_INDEXED_ARGS);
void writesamunalignedF(ALIGNPORT_FILE_ARGS);
// Dumps.
void dumpinfobyregionF(ALIGNPORT_INDEXED_ARGS);
void dumpinfobyindexF(ALIGNPORT_INDEXED_ARGS);
void dumpinfoinrefbyindexF(ALIGNPORT_INDEXED_ARGS);

} // namespace alignport
